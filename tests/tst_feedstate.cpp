// labels: shell connection windows grids
// Stale data marked on the data itself: the main connection's feed state, the mark in every
// kind of alert window (pixels), and the feed-health line of the main window. Time moves only
// through the manual clock and direct Tick() calls; the server is the demo server.

#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/AlertGridBase.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/FeedHealth.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/MainWindow.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Platform/Clock.h"
#include "support/DemoServer.h"

#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <memory>

namespace {

const QList<QByteArray> Displays = {"", "set", "symbol", "pointslist", "simplelist", "rook-simplelist", "wex",
                                    "tamber-simplelist"};

// A main connection with a stopped timer and one alert window of every display kind on it.
struct TStaleRig {
    explicit TStaleRig(const QStringList& serverArguments) : Scoped(&ManualClock), Server(serverArguments)
    {
        Connection = std::make_unique<TMainConnection>(Server.Address().toLatin1(), nullptr);
        Connection->GetTimer()->stop();
        for (const QByteArray& display : Displays) {
            auto window = std::make_unique<TAlertForm>(*Connection);
            window->GetExpireBollingersTimer()->stop();
            window->LoadSettings(TConfigFile::FromText("[Alert Window 0]\nsubscription=qs\ndisplay=" + display + "\n"),
                                 "Alert Window 0");
            window->resize(393, 300);
            window->show();
            Windows.push_back(std::move(window));
        }
        // One row in the QuickStrike window: its newest row is white, so the dimming shows.
        Windows[0]->HandleAlertMessage("qs\r\nsymbol=IBM&price=10&prev_close=9\r\n");
    }

    void Login() { Connection->SetUserName("joe"), Connection->SetPassword("pw"); }

    // Ticks with the clock moving as the real timer would.
    void Ticks(int n)
    {
        for (int i = 0; i < n; ++i) {
            ManualClock.Advance(500);
            Connection->Tick();
        }
    }

    bool Stale() const { return Connection->GetFeedState().Stale; }

    TManualClock ManualClock;
    TScopedClock Scoped;
    TDemoServer Server;
    std::unique_ptr<TMainConnection> Connection;
    std::vector<std::unique_ptr<TAlertForm>> Windows;
};

QImage Render(const TAlertForm& window)
{
    return window.GetGrid()->grab().toImage().convertToFormat(QImage::Format_RGB32);
}

// The band across the header row, at both ends of it.
bool HasBand(const TAlertForm& window)
{
    const QImage image = Render(window);
    const int y = window.GetAlertGrid()->DefaultRowHeight() / 2;
    const QColor band = ToQColor(TAlertGridBase::StaleBandColor);
    return image.pixelColor(1, y) == band && image.pixelColor(image.width() - 2, y) == band;
}

// Every window shows the mark (or none does) in pixels and in its text; "" lists the kinds
// that disagree.
QByteArray MarkDisagreement(const TStaleRig& rig, bool expected, const QString& text = QString())
{
    QByteArray wrong;
    for (size_t i = 0; i < rig.Windows.size(); ++i) {
        const TAlertForm& w = *rig.Windows[i];
        const bool pixels = HasBand(w);
        const bool textOk = expected ? w.GetAlertGrid()->GetStaleMark() == text : w.GetAlertGrid()->GetStaleMark().isEmpty();
        if (pixels != expected || !textOk)
            wrong += "[" + Displays[int(i)] + "] " + w.GetAlertGrid()->GetStaleMark().toUtf8() + " ";
    }
    return wrong;
}

// The left margin of the QuickStrike window's newest row: white when live.
QColor NewestRowBackground(const TStaleRig& rig)
{
    const TAlertForm& w = *rig.Windows[0];
    const QRect cell = w.GetAlertGrid()->CellRect(1, 1);
    return Render(w).pixelColor(cell.left() + 1, cell.center().y());
}

const QString Dash = QStringLiteral(" \u2014 ");

} // namespace

class TestFeedState : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void NothingStaleBeforeTheFirstLogin();
    void SilenceThenWatchdogThenFirstAnswer();
    void CloseMarksAtOnceAndReconnectClears();
    void StopMarksUntilLoginAgain();
    void AlertRateOverTenSeconds();
    void TheCheapClockNeverRunsAheadNorBack();
    void FeedHealthFigures();
    void MainWindowShowsTheHealthLine();
};

void TestFeedState::NothingStaleBeforeTheFirstLogin()
{
    TStaleRig rig({"--no-alerts"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    rig.Ticks(40);
    QVERIFY(!rig.Stale());
    QCOMPARE(MarkDisagreement(rig, false), QByteArray());
    // A user name without a password logs nobody in: still nothing was ever live.
    rig.Connection->SetUserName("joe");
    QVERIFY(rig.Server.WaitFor([&] { return rig.Server.OpenedCount() == 1; }));
    rig.Ticks(40);
    QVERIFY(!rig.Stale());
    QCOMPARE(MarkDisagreement(rig, false), QByteArray());
}

void TestFeedState::SilenceThenWatchdogThenFirstAnswer()
{
    // The login ping of every conversation is answered, no ping after it.
    TStaleRig rig({"--no-alerts", "--no-ping-replies-after", "1"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    QSignalSpy changes(&c, &TMainConnection::FeedStateChanged);
    const QString loginTime = StatusTimeText(rig.ManualClock.LocalNow().time());
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
    QCOMPARE(MarkDisagreement(rig, false), QByteArray());
    QCOMPARE(NewestRowBackground(rig), QColor(Qt::white));
    QCOMPARE(changes.count(), 0);

    // 7 s without an answer is still live; the next tick is not.
    rig.Ticks(14);
    QVERIFY(rig.Server.WaitForRequests("ping", 2));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QVERIFY(!rig.Stale());
    QCOMPARE(MarkDisagreement(rig, false), QByteArray());
    rig.Ticks(1);
    QVERIFY(rig.Stale());
    QCOMPARE(c.GetFeedState().Reason, frNoPingAnswer);
    const QString silent = "Stale since " + loginTime + Dash + "no answer from the server";
    QCOMPARE(MarkDisagreement(rig, true, silent), QByteArray());
    // The rows stay readable, at reduced contrast.
    const QColor dimmed = NewestRowBackground(rig);
    QVERIFY2(dimmed.red() < 200 && dimmed.red() > 100, qPrintable(dimmed.name()));
    // The caption is the configuration's.
    QCOMPARE(rig.Windows[0]->windowTitle(), QStringLiteral("Alerts"));

    // The watchdog gives the conversation up at the 25th tick; the mark stays, with the
    // moment it began, while the new conversation starts.
    QStringList marks; // as the windows showed them, in order
    connect(&c, &TMainConnection::FeedStateChanged, this,
            [&] { marks.append(rig.Windows[6]->GetAlertGrid()->GetStaleMark()); });
    rig.Ticks(10);
    QCOMPARE(c.GetStatus(), QString("Disconnected."));
    QVERIFY(rig.Stale());
    QCOMPARE(MarkDisagreement(rig, true, "Stale since " + loginTime + Dash + "disconnected"), QByteArray());

    // The new conversation's login ping is answered: gone at once, in every window.
    QVERIFY(rig.Server.WaitFor([&] { return !rig.Stale(); }));
    QCOMPARE(c.GetStatus(), QString("Connected!"));
    QCOMPARE(MarkDisagreement(rig, false), QByteArray());
    QCOMPARE(NewestRowBackground(rig), QColor(Qt::white));
    QCOMPARE(c.GetFeedHealth().ReconnectsToday, 1);
    QCOMPARE(marks, (QStringList{"Stale since " + loginTime + Dash + "disconnected",
                                 "Stale since " + loginTime + Dash + "reconnecting", QString()}));
}

void TestFeedState::CloseMarksAtOnceAndReconnectClears()
{
    TStaleRig rig({"--no-alerts", "--close-after", "800"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
    QCOMPARE(MarkDisagreement(rig, false), QByteArray());
    rig.ManualClock.Advance(1000);
    const QString closeTime = StatusTimeText(rig.ManualClock.LocalNow().time());
    // The close is noticed as it happens, before any tick.
    QVERIFY(rig.Server.WaitFor([&] { return rig.Stale(); }));
    QCOMPARE(c.GetServer()->GetState(), TTalkWithServer::Closed);
    QCOMPARE(MarkDisagreement(rig, true, "Stale since " + closeTime + Dash + "disconnected"), QByteArray());

    c.Tick(); // reaps it; the replacement logs in again
    QVERIFY(rig.Server.WaitFor([&] { return !rig.Stale(); }));
    QCOMPARE(MarkDisagreement(rig, false), QByteArray());
    QCOMPARE(c.GetFeedHealth().ReconnectsToday, 1);
}

void TestFeedState::StopMarksUntilLoginAgain()
{
    TStaleRig rig({"--no-alerts", "--stop", "Account suspended"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    const QString time = StatusTimeText(rig.ManualClock.LocalNow().time());
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.IsStopped(); }));
    // The login ping that follows the refusal is answered, and must not clear the mark.
    QVERIFY(rig.Server.WaitFor([&] { return rig.Server.ClosedCount() == 1; }));
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    rig.Ticks(4);
    QCOMPARE(c.GetStatus(), QString("Account suspended"));
    QCOMPARE(c.GetFeedState().Reason, frStopped);
    QCOMPARE(MarkDisagreement(rig, true, "Stale since " + time + Dash + "stopped by the server"), QByteArray());
}

void TestFeedState::AlertRateOverTenSeconds()
{
    TAlertRate rate;
    QCOMPARE(rate.PerSecond(5000), 0.0);
    // 30 alerts in three seconds, then quiet: 3 per second over the ten.
    for (int s = 0; s < 3; ++s)
        for (int i = 0; i < 10; ++i)
            rate.Count(-1500 + s * 1000 + i * 10);
    QCOMPARE(rate.PerSecond(1000), 3.0);
    QCOMPARE(rate.PerSecond(7400), 3.0);
    // The first second has left the window; after ten quiet seconds nothing is left.
    QCOMPARE(rate.PerSecond(8600), 2.0);
    QCOMPARE(rate.PerSecond(12000), 0.0);
    // A bucket is reused for its new second, not added to.
    rate.Count(18'500);
    QCOMPARE(rate.PerSecond(18'900), 0.1);
}

// The alert rate, the turn budget and the Bollinger rows' life read the cheap clock, the rest
// the fine one: a row would outlive its time, or a turn end at once, if the two disagreed.
void TestFeedState::TheCheapClockNeverRunsAheadNorBack()
{
    const TClock& clock = Clock();
    qint64 lastRough = clock.RoughMonotonicMs();
    const qint64 firstFine = clock.MonotonicMs();
    qint64 fine = firstFine;
    // Until the fine clock has moved on by 30 ms (a few timer ticks): no sleeping, the two
    // are read side by side all along.
    for (int i = 0; fine - firstFine < 30 && i < 50'000'000; ++i) {
        const qint64 rough = clock.RoughMonotonicMs();
        fine = clock.MonotonicMs();
        QVERIFY2(rough <= fine, qPrintable(QStringLiteral("%1 > %2").arg(rough).arg(fine)));
        QVERIFY(rough >= lastRough);
        lastRough = rough;
    }
    QVERIFY(fine - firstFine >= 30);
    // And it keeps up: behind by a tick at most, never by a turn's budget.
    QVERIFY2(clock.MonotonicMs() - clock.RoughMonotonicMs() < 15, qPrintable(QString::number(fine - lastRough)));

    // A test's clock is read alike both ways.
    TManualClock manual(5000);
    TScopedClock installed(&manual);
    QCOMPARE(Clock().RoughMonotonicMs(), qint64(5000));
    manual.Advance(7);
    QCOMPARE(Clock().RoughMonotonicMs(), Clock().MonotonicMs());
}

void TestFeedState::FeedHealthFigures()
{
    TFeedHealth none;
    QCOMPARE(FeedHealthText(none), QString("Ping -, 0.0 alerts/s, not up, 0 reconnects today"));
    TFeedHealth some;
    some.RoundTripMs = 12;
    some.AlertsPerSecond = 3.45;
    some.UpMs = 3723'999;
    some.ReconnectsToday = 1;
    QCOMPARE(FeedHealthText(some), QString("Ping 12 ms, 3.5 alerts/s, up 1:02:03, 1 reconnect today"));

    TStaleRig rig({"--no-alerts"});
    QVERIFY2(rig.Server.IsRunning(), rig.Server.Problem().constData());
    TMainConnection& c = *rig.Connection;
    rig.Login();
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
    QCOMPARE(c.GetFeedHealth().UpMs, 0);
    QCOMPARE(c.GetFeedHealth().RoundTripMs, -1); // the login ping took the connecting too
    // The periodic ping goes out at 5 s; its answer comes 37 ms later on the clock.
    rig.Ticks(10);
    rig.ManualClock.Advance(37);
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus().startsWith("Working:"); }));
    QCOMPARE(c.GetFeedHealth().RoundTripMs, 37);
    QCOMPARE(c.GetFeedHealth().UpMs, 5037);
    // The user's own Reset is no reconnect.
    c.Reset();
    QVERIFY(rig.Server.WaitFor([&] { return c.GetStatus() == "Connected!"; }));
    QCOMPARE(c.GetFeedHealth().ReconnectsToday, 0);
    QCOMPARE(c.GetFeedHealth().UpMs, 0);
}

void TestFeedState::MainWindowShowsTheHealthLine()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    TDemoServer server({"--rate", "20", "--seed", "5"});
    QVERIFY2(server.IsRunning(), server.Problem().constData());
    QTemporaryDir dir;
    QFile ini(dir.filePath("Vesk.ini"));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write("[General]\nwindow count=1\n[Alert Window 0]\nsubscription=quickstrike\n");
    ini.close();
    TMainConnection connection(server.Address().toLatin1(), nullptr);
    connection.GetTimer()->stop();
    TMainFormSetup setup;
    setup.ConfigPath = dir.filePath("Vesk.ini");
    setup.SettingsPath = dir.filePath("settings.ini");
    setup.Connection = &connection;
    auto form = std::make_unique<TMainForm>(setup);
    const std::vector<TAlertForm*> windows = form->GetAlertWindows();
    QLabel* line = form->FeedHealthLabel;
    QCOMPARE(line->text(), QString("Ping -, 0.0 alerts/s, not up, 0 reconnects today"));
    // Under the status, above the user name.
    QVERIFY(line->geometry().top() > form->StatusLabel->geometry().top());
    QVERIFY(line->geometry().bottom() < form->Label1->geometry().top());

    form->UsernameEdit->setText("joe");
    form->PasswordEdit->setText("pw");
    form->LoginButtonClick();
    QVERIFY(server.WaitFor([&] { return connection.GetStatus() == "Connected!"; }));
    int alerts = 0;
    connection.AddAlertListener([&](const QByteArray&) { ++alerts; });
    QVERIFY(server.WaitFor([&] { return alerts >= 20; }));
    const QString before = line->text();
    clock.Advance(500);
    connection.Tick(); // the line follows the tick, not every alert
    QVERIFY(line->text() != before);
    const double shown = line->text().section(", ", 1, 1).section(' ', 0, 0).toDouble();
    QVERIFY2(shown >= 2.0, qPrintable(line->text()));
    QVERIFY2(line->text().contains(", up 0:00:00, 0 reconnects today"), qPrintable(line->text()));
    QCOMPARE(form->StatusLabel->text(), QString("Connected!"));
    form.reset();
    for (TAlertForm* w : windows)
        delete w;
}

QTEST_MAIN(TestFeedState)
#include "tst_feedstate.moc"
