// labels: faults connection
// A server that refuses every connection: the main connection tries again on every tick, for
// ever and without a growing delay, and that costs next to nothing. Ten minutes of ticks run
// on the manual clock; the suite prints the CPU time per simulated second and the descriptors
// open before and after.

#include "Olvarra/MainConnectionUnit.h"
#include "Platform/Clock.h"
#include "support/RefusingPort.h"

#include <QDir>
#include <QElapsedTimer>
#include <QTimer>
#include <QtTest>

#include <time.h>

#include <memory>

namespace {

int OpenDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System).size());
}

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) / 1e9;
}

} // namespace

class TestReconnectStorm : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void RefusedServerRetriedEveryTickCheaply();
};

void TestReconnectStorm::RefusedServerRetriedEveryTickCheaply()
{
    TManualClock clock;
    TScopedClock scoped(&clock);
    TRefusingPort port;
    QVERIFY(port.Port != 0);
    TMainConnection connection("127.0.0.1:" + QByteArray::number(port.Port), nullptr);
    connection.GetTimer()->stop();
    connection.AddCategory("quickstrike");

    // One tick of 500 ms, then the event loop until the attempt it started has been refused
    // (the refusal arrives through the event loop). Returns whether it was.
    const auto tickAndSettle = [&] {
        clock.Advance(500);
        connection.Tick();
        QElapsedTimer wait;
        wait.start();
        while (wait.elapsed() < 1000) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            TTalkWithServer* talk = connection.GetServer();
            if (talk && talk->GetState() == TTalkWithServer::Closed)
                return true;
        }
        return false;
    };

    connection.SetUserName("storm");
    connection.SetPassword("secret");
    // A few rounds first: Qt opens its own descriptors (event notifiers) on first use.
    for (int i = 0; i < 5; ++i)
        QVERIFY(tickAndSettle());
    const QByteArray reason = connection.GetServer()->GetDisconnectReason();
    QVERIFY(!reason.isEmpty());

    const int fdsBefore = OpenDescriptors();
    const double cpuBefore = ProcessCpuSeconds();
    QElapsedTimer wall;
    wall.start();
    constexpr int Ticks = 1200; // ten minutes
    int refused = 0;
    int statusChanges = 0;
    connection.OnStatusChange = [&] { ++statusChanges; };
    // A tick that made no attempt ends the run: the next one would not be on time either.
    while (refused < Ticks && tickAndSettle())
        ++refused;
    const double cpu = ProcessCpuSeconds() - cpuBefore;
    const qint64 wallMs = wall.elapsed();
    const int fdsAfter = OpenDescriptors();
    const double simulatedSeconds = Ticks * 0.5;
    const double cpuShare = cpu / simulatedSeconds;

    qInfo("reconnect storm: %d ticks (%.0f s simulated) in %.2f s real, %d attempts refused; CPU %.3f s "
          "in all, %.2f ms per simulated second (%.3f %% of one core), %.0f us per attempt; descriptors "
          "%d before, %d after; reason \"%s\"",
          Ticks, simulatedSeconds, wallMs / 1000.0, refused, cpu, cpu * 1000 / simulatedSeconds,
          cpuShare * 100, cpu * 1e6 / std::max(1, refused), fdsBefore, fdsAfter, reason.constData());

    // Every tick made a new attempt: no attempt was skipped and none waited longer.
    QCOMPARE(refused, Ticks);
    // Nothing to show: each refused conversation is gone before the watchdog looks, so its
    // count of ticks without a ping answer finds nothing to give up.
    QCOMPARE(connection.GetStatus(), QString());
    QCOMPARE(statusChanges, 0);
    QVERIFY2(cpuShare < 0.01, QByteArray::number(cpuShare * 100, 'f', 3).constData());
    QCOMPARE(fdsAfter, fdsBefore);
}

QTEST_MAIN(TestReconnectStorm)
#include "tst_reconnectstorm.moc"
