// labels: process shell
// The real program, as a user runs it: the built vesk-client on a real X server, logged in
// through its window against the demo server, closed with the close box.

#include "support/ClientProcess.h"
#include "support/DemoServer.h"
#include "support/XSession.h"

#include <QElapsedTimer>
#include <QSettings>
#include <QTest>

namespace {

const QStringList DemoCategories = {"quickstrike", "bollinger", "symbols", "points",
                                    "simple",      "rook",      "wex",     "tamber"};

// Every alert window visible, side by side, as scripts/demo lays them out.
QByteArray DemoLayout()
{
    QByteArray text = "[Main]\nLeft=10\nTop=10\n";
    for (int i = 0; i < DemoCategories.size(); ++i)
        text += "\n[Window%3A" + DemoCategories[i].toLatin1() + "]\nLeft=" +
                QByteArray::number(340 + (i % 4) * 300) + "\nTop=" +
                QByteArray::number(10 + (i / 4) * 420) + "\nWidth=290\nHeight=400\nVisible=1\nState=0\n";
    return text;
}

} // namespace

class TestProcess : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void closingTheMainWindowEndsTheProgramAndSavesEverything();
};

// A report in the debug window used to keep the program alive after the main window closed
// (the debug window refuses to close), and then no setting was ever written.
void TestProcess::closingTheMainWindowEndsTheProgramAndSavesEverything()
{
    TXSession x;
    QVERIFY2(x.IsRunning(), x.Problem().constData());
    // The first connection gets a frame of negative length: an error report, then a
    // reconnect that works.
    TDemoServer server({"--seed", "5", "--bad-frame", "negative", "--faults-first", "1"});
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    TClientProcess client(x, server.Address());
    client.WriteSettings(DemoLayout());
    QVERIFY2(client.Start(), client.Problem().constData());
    const auto mainWindow = client.WaitForMainWindow();
    QVERIFY2(mainWindow, qPrintable(x.MappedTitles().join(", ")));

    client.Login(mainWindow, QStringLiteral("joe"), QStringLiteral("secret"));
    QVERIFY2(server.WaitForRequests("login", 2, 15000), client.Output().constData());
    QCOMPARE(server.RequestsWith("login").front().Value("username"), QByteArray("joe"));
    // The report has reached the debug window, which is now on screen.
    QVERIFY2(x.WaitForWindow(QStringLiteral("Quorvex Debug Window"), 5000), qPrintable(x.MappedTitles().join(", ")));
    QVERIFY(server.WaitForRequests("ping", 3, 15000));
    // The program answers a window manager's ping: its event loop comes round.
    const double pingMs = x.PingMs(mainWindow, 5000);
    QVERIFY2(pingMs >= 0, "no answer to _NET_WM_PING");

    x.CloseWindow(mainWindow);
    QElapsedTimer timer;
    timer.start();
    const bool ended = client.WaitForExit(5000);
    QVERIFY2(ended, qPrintable(QStringLiteral("still running after 5 s; windows: ") +
                               x.MappedTitles().join(", ")));
    QVERIFY2(client.ExitStatus() == QProcess::NormalExit && client.ExitCode() == 0,
             client.Output().right(4000).constData());

    const auto settings = client.Settings();
    settings->beginGroup(QStringLiteral("Main"));
    QCOMPARE(settings->value(QStringLiteral("User")).toString(), QStringLiteral("joe"));
    for (const char* key : {"Left", "Top", "FontName", "FontSize"})
        QVERIFY2(settings->contains(QLatin1String(key)), key);
    settings->endGroup();
    for (const QString& category : DemoCategories) {
        settings->beginGroup(QStringLiteral("Window:") + category);
        for (const char* key : {"Left", "Top", "Width", "Height", "Visible", "State"})
            QVERIFY2(settings->contains(QLatin1String(key)), qPrintable(category + u' ' + QLatin1String(key)));
        QCOMPARE(settings->value(QStringLiteral("Visible")).toInt(), 1);
        settings->endGroup();
    }
}

QTEST_GUILESS_MAIN(TestProcess)
#include "tst_process.moc"
