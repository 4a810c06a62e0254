// labels: shell linking
// Handing clicked symbols to outside applications: a real listener process linked through
// the local socket, the window coming forward when nobody is linked, the socket's access
// rights, listeners that vanish, and a second client of the same user.

#include "Olvarra/ExternalLinkingUnit.h"
#include "Platform/LinkBroadcaster.h"

#include <QListWidget>
#include <QLocalServer>
#include <QProcess>
#include <QtTest>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

QString UniqueSocketName()
{
    static int counter = 0;
    return QStringLiteral("vesk-link-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

// vesk-link-listen, started by the test and stopped by it (or by itself when the client
// goes away).
class TListener {
public:
    explicit TListener(const QString& socketName)
    {
        Process.setProgram(QStringLiteral(VESK_BUILD_DIR "/vesk-link-listen"));
        Process.setArguments({QStringLiteral("--name"), QStringLiteral("charting app"), socketName});
        Process.start();
    }
    ~TListener()
    {
        if (Process.state() != QProcess::NotRunning) {
            Process.kill();
            Process.waitForFinished(5000);
        }
    }
    QByteArray Output()
    {
        Received += Process.readAllStandardOutput();
        return Received;
    }
    QProcess Process;

private:
    QByteArray Received;
};

} // namespace

class TestExternalLinking : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void cleanup() { SetSendSymbolHook({}); }

    void linkedListenerReceivesSymbolsAndWindowStays()
    {
        const QString name = UniqueSocketName();
        TExternalLinkingWindow window(name, nullptr);
        QCOMPARE(window.windowTitle(), QStringLiteral("External Linking Window"));
        QCOMPARE(window.size(), QSize(443, 440));
        QVERIFY(window.GetLinker().IsListening());

        TListener listener(name);
        QTRY_COMPARE(window.GetLinker().Status(), 1);
        QTRY_VERIFY(!window.GetLinker().GetPeers().isEmpty()
                    && window.GetLinker().GetPeers().first().Name == QStringLiteral("charting app"));
        QCOMPARE(window.GetLinkerView()->GetPeerList()->count(), 1);
        QVERIFY(window.GetLinkerView()->GetPeerList()->item(0)->text().startsWith(QStringLiteral("charting app")));

        window.SendSymbol("MSFT");
        QVERIFY(!window.isVisible());
        // A line break inside a symbol must not make the listener see two symbols.
        window.SendSymbol("IB\r\nM");
        window.SendSymbol("\xC9TAL"); // server text is Latin-1 bytes; handed on unchanged
        QTRY_COMPARE(listener.Output(), QByteArray("MSFT\nIBM\n\xC9TAL\n"));
        QVERIFY(!window.isVisible());

        const auto& recent = window.GetLinker().GetRecent();
        QCOMPARE(recent.size(), 3);
        QCOMPARE(recent.first().Symbol, QByteArray("\xC9TAL"));
        QCOMPARE(recent.first().Receivers, 1);
        QCOMPARE(window.GetLinkerView()->GetRecentList()->count(), 3);
    }

    void recentSymbolsKeepTheNewestTwenty()
    {
        TLinkBroadcaster linker;
        for (int i = 0; i < 25; ++i) {
            linker.SetSymbol(QByteArray::number(i));
            linker.Link(); // nobody listening: nothing to send, still remembered
        }
        QCOMPARE(linker.GetRecent().size(), TLinkBroadcaster::RecentLimit);
        QCOMPARE(linker.GetRecent().first().Symbol, QByteArray("24"));
        QCOMPARE(linker.GetRecent().last().Symbol, QByteArray("5"));
        QCOMPARE(linker.Status(), 0);
    }

    void nobodyLinkedBringsWindowForward()
    {
        TExternalLinkingWindow window(UniqueSocketName(), nullptr);
        QVERIFY(!window.isVisible());
        window.SendSymbol("MSFT");
        QVERIFY(window.isVisible());

        window.showMinimized();
        QVERIFY(window.isMinimized());
        window.SendSymbol("IBM");
        QVERIFY(window.isVisible());
        QVERIFY(!window.isMinimized());
    }

    void socketIsForTheCurrentUserOnly()
    {
        TExternalLinkingWindow window(UniqueSocketName(), nullptr);
        const QByteArray path = QFile::encodeName(window.GetLinker().GetFullServerName());
        QVERIFY(!path.isEmpty());
        struct stat info {};
        QCOMPARE(::stat(path.constData(), &info), 0);
        QVERIFY(S_ISSOCK(info.st_mode));
        QCOMPARE(int(info.st_mode & (S_IRWXG | S_IRWXO)), 0);
        QCOMPARE(info.st_uid, ::getuid());
    }

    void vanishedListenerDoesNotBreakTheNextSend()
    {
        const QString name = UniqueSocketName();
        TExternalLinkingWindow window(name, nullptr);
        {
            TListener gone(name);
            QTRY_COMPARE(window.GetLinker().Status(), 1);
            gone.Process.kill();
            QVERIFY(gone.Process.waitForFinished(5000));
        }
        // No event processed since it died: the send itself must find out.
        window.SendSymbol("MSFT");
        QCOMPARE(window.GetLinker().Status(), 0);
        QVERIFY(window.isVisible());
        QCOMPARE(window.GetLinker().GetRecent().first().Receivers, 0);

        window.hide();
        TListener next(name);
        QTRY_COMPARE(window.GetLinker().Status(), 1);
        window.SendSymbol("IBM");
        QTRY_COMPARE(next.Output(), QByteArray("IBM\n"));
        QVERIFY(!window.isVisible());
    }

    void listenerEndsWhenClientGoesAway()
    {
        const QString name = UniqueSocketName();
        auto window = std::make_unique<TExternalLinkingWindow>(name, nullptr);
        TListener listener(name);
        QTRY_COMPARE(window->GetLinker().Status(), 1);
        window.reset();
        QVERIFY(listener.Process.waitForFinished(5000));
        QCOMPARE(listener.Process.exitStatus(), QProcess::NormalExit);
        QCOMPARE(listener.Process.exitCode(), 0);
    }

    void staleSocketFileIsReplacedLiveOneIsNot()
    {
        const QString name = UniqueSocketName();
        const QString path = QDir::tempPath() + QLatin1Char('/') + name;
        // What a crashed client leaves behind: a socket file nobody listens on.
        {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            QVERIFY(fd >= 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            const QByteArray encoded = QFile::encodeName(path);
            qstrncpy(address.sun_path, encoded.constData(), sizeof address.sun_path);
            QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address), 0);
            ::close(fd);
            QVERIFY(QFile::exists(path));
        }
        TExternalLinkingWindow first(name, nullptr);
        QVERIFY(first.GetLinker().IsListening());

        // A second client of the same user must not take the link away from the first.
        TLinkBroadcaster second;
        QVERIFY(!second.Listen(name));
        QVERIFY(!second.GetError().isEmpty());
        QCOMPARE(second.Status(), 0);
        TListener listener(name);
        QTRY_COMPARE(first.GetLinker().Status(), 1);
        first.SendSymbol("MSFT");
        QTRY_COMPARE(listener.Output(), QByteArray("MSFT\n"));
    }

    void sendSymbolGoesToTheStartWindowOrTheHook()
    {
        QVERIFY(ExternalLinkingWindow() == nullptr);
        SendSymbol("MSFT"); // no window yet: nothing happens
        {
            TExternalLinkingWindow start(UniqueSocketName(), nullptr);
            TExternalLinkingWindow other(UniqueSocketName(), nullptr);
            QCOMPARE(ExternalLinkingWindow(), &start);
            SendSymbol("MSFT");
            QVERIFY(start.isVisible());
            QVERIFY(!other.isVisible());

            QList<QByteArray> hooked;
            SetSendSymbolHook([&](const QByteArray& symbol) { hooked << symbol; });
            start.hide();
            SendSymbol("IBM");
            QCOMPARE(hooked, QList<QByteArray>{"IBM"});
            QVERIFY(!start.isVisible());
        }
        QVERIFY(ExternalLinkingWindow() == nullptr);
    }
};

QTEST_MAIN(TestExternalLinking)
#include "tst_externallinking.moc"
