// labels: shell linking
// Handing clicked symbols to outside applications: a real listener process linked through
// the local socket, the window coming forward when nobody is linked, the socket's access
// rights, listeners that vanish, a second client of the same user, names and files other
// users may have put in the way, and peers of another user on either side.

#include "Olvarra/ExternalLinkingUnit.h"
#include "Platform/LinkBroadcaster.h"
#include "Platform/LinkSocketPlace.h"

#include <QListWidget>
#include <QLocalServer>
#include <QProcess>
#include <QtTest>
#include <grp.h>
#include <memory>
#include <poll.h>
#include <pwd.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

QString UniqueSocketName()
{
    static int counter = 0;
    return QStringLiteral("vesk-link-test-%1-%2").arg(QCoreApplication::applicationPid()).arg(++counter);
}

// Base folders of the test's own, standing in for $XDG_RUNTIME_DIR and the temp folder, so
// no test depends on (or leaves anything in) the machine's. While one lives, the client looks
// for its folder there.
class TPlaces {
public:
    // runtimeMode 0: no runtime folder at all.
    explicit TPlaces(mode_t runtimeMode = 0700)
    {
        Temp = Dir.path() + QStringLiteral("/tmp");
        QDir().mkpath(Temp);
        if (runtimeMode != 0) {
            Runtime = Dir.path() + QStringLiteral("/run");
            QDir().mkpath(Runtime);
            ::chmod(QFile::encodeName(Runtime).constData(), runtimeMode);
        }
        OverrideLinkPlaces(TLinkPlaces{Runtime, Temp});
    }
    ~TPlaces() { OverrideLinkPlaces(std::nullopt); }
    QString Fallback() const { return Temp + QLatin1Char('/') + LinkFallbackFolderName(); }

    QTemporaryDir Dir;
    QString Runtime;
    QString Temp;
};

// A socket someone else made and listens on; whatever connects to it shows up here.
bool MakeListeningSocket(const QString& path, int* fd)
{
    *fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    if (*fd < 0)
        return false;
    sockaddr_un address {};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(path).constData(), sizeof address.sun_path);
    return ::bind(*fd, reinterpret_cast<sockaddr*>(&address), sizeof address) == 0 && ::listen(*fd, 8) == 0;
}

bool HasPendingConnection(int fd)
{
    pollfd p {fd, POLLIN, 0};
    return ::poll(&p, 1, 0) > 0;
}

uid_t NobodyUid()
{
    const passwd* nobody = ::getpwnam("nobody");
    return nobody ? nobody->pw_uid : 65534;
}

void BecomeNobody(uid_t uid)
{
    ::setgroups(0, nullptr);
    if (::setgid(gid_t(uid)) != 0 || ::setuid(uid) != 0)
        ::_exit(90);
}

// Waits for a child by polling, so the test's own event loop keeps serving the socket.
// Returns the exit status, or -1 after five seconds (the child is then killed).
int WaitForChild(pid_t child, const std::function<void()>& meanwhile = {})
{
    QElapsedTimer timer;
    timer.start();
    int status = 0;
    while (::waitpid(child, &status, WNOHANG) == 0) {
        if (timer.elapsed() > 5000) {
            ::kill(child, SIGKILL);
            ::waitpid(child, &status, 0);
            return -1;
        }
        if (meanwhile)
            meanwhile();
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// vesk-link-listen, started by the test and stopped by it (or by itself when the client
// goes away). It finds the client's folder through the same places as the client in the
// test; an empty socket name starts it without one (its default).
class TListener {
public:
    explicit TListener(const QString& socketName)
    {
        const TLinkPlaces places = CurrentLinkPlaces();
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove(QStringLiteral("XDG_RUNTIME_DIR"));
        if (!places.RuntimeFolder.isEmpty())
            environment.insert(QStringLiteral("XDG_RUNTIME_DIR"), places.RuntimeFolder);
        environment.insert(QStringLiteral("TMPDIR"), places.TempFolder);
        Process.setProcessEnvironment(environment);
        Process.setProgram(QStringLiteral(VESK_BUILD_DIR "/vesk-link-listen"));
        QStringList arguments {QStringLiteral("--name"), QStringLiteral("charting app")};
        if (!socketName.isEmpty())
            arguments << socketName;
        Process.setArguments(arguments);
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
    void initTestCase() { Places = std::make_unique<TPlaces>(); }
    void cleanupTestCase() { Places.reset(); }
    void cleanup()
    {
        SetSendSymbolHook({});
        OverrideLinkPlaces(TLinkPlaces{Places->Runtime, Places->Temp});
    }

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
        // And it lies in a folder nobody else can enter.
        QCOMPARE(QFileInfo(window.GetLinker().GetFullServerName()).absolutePath(), Places->Runtime);
        QVERIFY(IsPrivateFolder(Places->Runtime, ::getuid()));
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
        const QString path = Places->Runtime + QLatin1Char('/') + name;
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
        QCOMPARE(first.GetLinker().GetFullServerName(), path);

        // A second client of the same user must not take the link away from the first.
        TLinkBroadcaster second;
        QVERIFY(!second.Listen(name));
        QVERIFY(!second.GetError().isEmpty());
        QCOMPARE(second.Status(), 0);
        TListener listener(name);
        // The second one's probe also reached the first and may still count until its end is
        // noticed: wait for the listener's greeting, then for it to be the only one.
        QTRY_VERIFY(!first.GetLinker().GetPeers().isEmpty()
                    && first.GetLinker().GetPeers().last().Name == QStringLiteral("charting app"));
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

    // Item: which folder each kind of base gives, and that the listener, told nothing, finds
    // the client's default socket there by the same rule.
    void defaultSocketFoundByBothSides_data()
    {
        QTest::addColumn<int>("runtime"); // 0: unset, 1: private, 2: mode 0755, 3: a link
        QTest::addColumn<bool>("inRuntime");
        QTest::newRow("private runtime folder") << 1 << true;
        QTest::newRow("no runtime folder") << 0 << false;
        QTest::newRow("runtime folder others can enter") << 2 << false;
        QTest::newRow("runtime folder is a symbolic link") << 3 << false;
    }
    void defaultSocketFoundByBothSides()
    {
        QFETCH(int, runtime);
        QFETCH(bool, inRuntime);
        TPlaces places(runtime == 0 ? 0 : runtime == 2 ? 0755 : 0700);
        if (runtime == 3) {
            // A link to a folder that would pass every other check.
            const QString target = places.Dir.path() + QStringLiteral("/real");
            QVERIFY(QDir().mkdir(target));
            QVERIFY(::chmod(QFile::encodeName(target).constData(), 0700) == 0);
            QVERIFY(QDir().rmdir(places.Runtime));
            QVERIFY(QFile::link(target, places.Runtime));
            OverrideLinkPlaces(TLinkPlaces{places.Runtime, places.Temp});
        }
        TExternalLinkingWindow window(TLinkBroadcaster::DefaultName(), nullptr);
        QVERIFY2(window.GetLinker().IsListening(), qPrintable(window.GetLinker().GetError()));
        const QString folder = QFileInfo(window.GetLinker().GetFullServerName()).absolutePath();
        QCOMPARE(folder, inRuntime ? places.Runtime : places.Fallback());
        QVERIFY(IsPrivateFolder(folder, ::getuid()));

        TListener listener {QString()};
        QTRY_COMPARE(window.GetLinker().Status(), 1);
        window.SendSymbol("MSFT");
        QTRY_COMPARE(listener.Output(), QByteArray("MSFT\n"));
    }

    // Item: names another user can make first. None of them stops linking, and none
    // receives a connection from the client or from the user's listener.
    void squattersNeitherBlockNorReceive_data()
    {
        QTest::addColumn<QString>("squat"); // what stands where
        QTest::addColumn<bool>("runtime");
        QTest::addColumn<bool>("fresh"); // the client has to make a fresh folder
        QTest::newRow("socket at the old place") << "old socket" << true << false;
        QTest::newRow("file at the old place") << "old file" << true << false;
        QTest::newRow("socket in a runtime folder others can enter") << "runtime socket" << true << false;
        QTest::newRow("socket in a fallback folder others can enter") << "fallback socket" << false << true;
        QTest::newRow("file where the fallback folder goes") << "fallback file" << false << true;
        QTest::newRow("link where the fallback folder goes") << "fallback link" << false << true;
        QTest::newRow("fallback folder of another user") << "fallback foreign" << false << true;
    }
    void squattersNeitherBlockNorReceive()
    {
        QFETCH(QString, squat);
        QFETCH(bool, runtime);
        QFETCH(bool, fresh);
        if (squat == QLatin1String("fallback foreign") && ::getuid() != 0)
            QSKIP("making a folder owned by another user needs root");
        TPlaces places(runtime ? 0700 : 0);
        QString squatPath; // where a squatting socket listens
        const QByteArray fallback = QFile::encodeName(places.Fallback());
        if (squat == QLatin1String("old socket") || squat == QLatin1String("old file")) {
            // Where the client used to listen: the login name in the shared temp folder.
            const QString old = places.Temp + QStringLiteral("/vesk-link-") + qEnvironmentVariable("USER", QStringLiteral("root"));
            if (squat == QLatin1String("old socket"))
                squatPath = old;
            else {
                QFile file(old);
                QVERIFY(file.open(QIODevice::WriteOnly));
            }
        } else if (squat == QLatin1String("runtime socket")) {
            QVERIFY(::chmod(QFile::encodeName(places.Runtime).constData(), 0777) == 0);
            squatPath = places.Runtime + QStringLiteral("/vesk-link");
        } else if (squat == QLatin1String("fallback socket")) {
            QVERIFY(::mkdir(fallback.constData(), 0700) == 0 && ::chmod(fallback.constData(), 0777) == 0);
            squatPath = places.Fallback() + QStringLiteral("/vesk-link");
        } else if (squat == QLatin1String("fallback file")) {
            QFile file(places.Fallback());
            QVERIFY(file.open(QIODevice::WriteOnly));
        } else if (squat == QLatin1String("fallback link")) {
            const QString target = places.Dir.path() + QStringLiteral("/elsewhere");
            QVERIFY(::mkdir(QFile::encodeName(target).constData(), 0700) == 0);
            QVERIFY(QFile::link(target, places.Fallback()));
            squatPath = target + QStringLiteral("/vesk-link");
        } else if (squat == QLatin1String("fallback foreign")) {
            QVERIFY(::mkdir(fallback.constData(), 0700) == 0);
            QVERIFY(::chown(fallback.constData(), NobodyUid(), gid_t(NobodyUid())) == 0);
            squatPath = places.Fallback() + QStringLiteral("/vesk-link");
        }
        int squatter = -1;
        if (!squatPath.isEmpty())
            QVERIFY(MakeListeningSocket(squatPath, &squatter));
        const auto closeSquatter = qScopeGuard([&] {
            if (squatter >= 0)
                ::close(squatter);
        });

        QString freshFolder;
        {
            TExternalLinkingWindow window(TLinkBroadcaster::DefaultName(), nullptr);
            QVERIFY2(window.GetLinker().IsListening(), qPrintable(window.GetLinker().GetError()));
            const QString path = window.GetLinker().GetFullServerName();
            const QString folder = QFileInfo(path).absolutePath();
            QVERIFY(path != squatPath);
            QVERIFY(IsPrivateFolder(folder, ::getuid()));
            if (fresh) {
                QVERIFY(folder.startsWith(places.Fallback() + QLatin1Char('-')));
                freshFolder = folder;
            } else {
                QCOMPARE(folder, runtime && squat != QLatin1String("runtime socket") ? places.Runtime : places.Fallback());
            }

            // The user's listener, told nothing, must not fall for the squatter either: where
            // the fixed folder cannot be trusted it refuses to link at all.
            {
                TListener blind {QString()};
                if (fresh) {
                    QVERIFY(blind.Process.waitForFinished(5000));
                    QCOMPARE(blind.Process.exitCode(), 1);
                } else {
                    QTRY_COMPARE(window.GetLinker().Status(), 1);
                }
            }
            QTRY_COMPARE(window.GetLinker().Status(), 0);
            // Given the path the window shows, it links.
            TListener listener(path);
            QTRY_COMPARE(window.GetLinker().Status(), 1);
            window.SendSymbol("MSFT");
            QTRY_COMPARE(listener.Output(), QByteArray("MSFT\n"));
            if (squatter >= 0)
                QVERIFY(!HasPendingConnection(squatter));
        }
        // A fresh folder goes with the socket it was made for.
        if (fresh)
            QVERIFY(!QFileInfo::exists(freshFolder));
    }

    // Item: a process of another user that reaches the socket (root can let it in) is
    // closed at once and never receives a symbol, and it does not count as linked.
    void peerOfAnotherUserIsRefused()
    {
        if (::getuid() != 0)
            QSKIP("a peer of another user can only be made by root (fork, then setuid to nobody)");
        TPlaces places;
        TLinkBroadcaster linker;
        QVERIFY(linker.Listen());
        const QByteArray path = QFile::encodeName(linker.GetFullServerName());
        // Open the way in that the folder normally bars, so that only the peer check remains.
        for (const QString& folder : {places.Dir.path(), places.Runtime})
            QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0711) == 0);
        QVERIFY(::chmod(path.constData(), 0777) == 0);
        const uid_t nobody = NobodyUid();

        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // Only system calls from here on: the parent's other threads are not copied.
            BecomeNobody(nobody);
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, path.constData(), sizeof address.sun_path);
            if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                ::_exit(91);
            static const char hello[] = "HELLO intruder\n";
            if (::write(fd, hello, sizeof hello - 1) < 0)
                ::_exit(92);
            for (;;) {
                pollfd p {fd, POLLIN, 0};
                if (::poll(&p, 1, 4000) <= 0)
                    ::_exit(93); // still open after four seconds
                char byte;
                const ssize_t got = ::read(fd, &byte, 1);
                // 0: closed without a byte (a reset, as the greeting was left unread)
                ::_exit(got == 0 || (got < 0 && errno == ECONNRESET) ? 0 : got > 0 ? 94 : 95);
            }
        }
        bool everLinked = false;
        const int exit = WaitForChild(child, [&] {
            linker.SetSymbol("MSFT");
            linker.Link();
            everLinked = everLinked || linker.Status() > 0;
        });
        QCOMPARE(exit, 0);
        QVERIFY(!everLinked);
        QCOMPARE(linker.GetRefused(), 1);
        QVERIFY(linker.GetPeers().isEmpty());
    }

    // Item: the listener links only to a socket that a process of its own user listens on.
    void listenerRefusesASocketOfAnotherUser()
    {
        if (::getuid() != 0)
            QSKIP("a socket of another user can only be made by root (fork, then setuid to nobody)");
        TPlaces places;
        const QString path = places.Runtime + QStringLiteral("/vesk-link");
        const uid_t nobody = NobodyUid();
        const QByteArray encoded = QFile::encodeName(path);
        const pid_t child = ::fork();
        QVERIFY(child >= 0);
        if (child == 0) {
            // The peer's identity is taken at listen(): bind as root, listen as nobody.
            const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
            sockaddr_un address {};
            address.sun_family = AF_UNIX;
            qstrncpy(address.sun_path, encoded.constData(), sizeof address.sun_path);
            if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0)
                ::_exit(91);
            BecomeNobody(nobody);
            if (::listen(fd, 1) != 0)
                ::_exit(92);
            pollfd p {fd, POLLIN, 0};
            if (::poll(&p, 1, 4000) <= 0)
                ::_exit(93);
            const int peer = ::accept(fd, nullptr, nullptr);
            static const char symbol[] = "EVIL\n";
            (void)!::write(peer, symbol, sizeof symbol - 1);
            pollfd q {peer, POLLIN, 0};
            ::poll(&q, 1, 4000); // until the listener goes
            ::_exit(0);
        }
        // The child's socket must exist before the listener starts.
        QElapsedTimer timer;
        timer.start();
        while (!QFileInfo::exists(path) && timer.elapsed() < 5000)
            QTest::qWait(10);
        TListener listener {QString()};
        QVERIFY(listener.Process.waitForFinished(5000));
        QCOMPARE(listener.Process.exitCode(), 1);
        QCOMPARE(listener.Output(), QByteArray());
        QVERIFY(listener.Process.readAllStandardError().contains("refused"));
        QCOMPARE(WaitForChild(child), 0);
    }

    // Item: the window comes back at normal size when it was maximised before it was
    // minimised, whether the user asks for it or a send finds nobody linked.
    void broughtForwardComesBackAtNormalSize()
    {
        TExternalLinkingWindow window(UniqueSocketName(), nullptr);
        window.show();
        window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        window.ShowLinkingWindow();
        QCOMPARE(window.windowState(), Qt::WindowNoState);
        QVERIFY(window.isVisible());

        window.setWindowState(Qt::WindowMaximized | Qt::WindowMinimized);
        window.SendSymbol("MSFT");
        QCOMPARE(window.windowState(), Qt::WindowNoState);

        // Maximised but not minimised: left as it is.
        window.setWindowState(Qt::WindowMaximized);
        window.ShowLinkingWindow();
        QVERIFY(window.isMaximized());
    }

private:
    std::unique_ptr<TPlaces> Places;
};

QTEST_MAIN(TestExternalLinking)
#include "tst_externallinking.moc"
