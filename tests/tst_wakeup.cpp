// labels: wakeup
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/WakeMeSoon.h"

#include <QPlainTextEdit>
#include <QtTest>

class TstWakeUp : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void ManyRequestsInOneEventRunOnceAfterIt();
    void RequestFromHandlerRunsOnceMore();
    void RunsInOrderWithOtherQueuedEvents();
    void ExceptionIsReported();
    void DestroyedBeforeDeliveryDropsTheWakeUp();
    void HandlerMayDestroyItsWakeUp();
};

void TstWakeUp::ManyRequestsInOneEventRunOnceAfterIt()
{
    TWakeMeSoon wake;
    int runs = 0;
    int runsSeenInsideEvent = -1;
    wake.OnWakeUp = [&] { ++runs; };
    QMetaObject::invokeMethod(
        this,
        [&] {
            for (int i = 0; i < 10; ++i)
                wake.Request();
            QVERIFY(wake.IsPending());
            runsSeenInsideEvent = runs;
        },
        Qt::QueuedConnection);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    QCOMPARE(runsSeenInsideEvent, 0);
    QCOMPARE(runs, 1);
    QVERIFY(!wake.IsPending());

    // Unassigned handler: the request is served and nothing happens.
    TWakeMeSoon idle;
    idle.Request();
    QCoreApplication::processEvents();
    QVERIFY(!idle.IsPending());
}

void TstWakeUp::RequestFromHandlerRunsOnceMore()
{
    TWakeMeSoon wake;
    int runs = 0;
    wake.OnWakeUp = [&] {
        ++runs;
        if (runs == 1) {
            wake.Request();
            wake.Request();
        }
    };
    wake.Request();
    for (int i = 0; i < 5; ++i)
        QCoreApplication::processEvents();
    QCOMPARE(runs, 2);
}

void TstWakeUp::RunsInOrderWithOtherQueuedEvents()
{
    TWakeMeSoon wake;
    QStringList order;
    wake.OnWakeUp = [&] { order << QStringLiteral("wake"); };
    QMetaObject::invokeMethod(this, [&] { order << QStringLiteral("before"); }, Qt::QueuedConnection);
    wake.Request();
    QMetaObject::invokeMethod(this, [&] { order << QStringLiteral("after"); }, Qt::QueuedConnection);
    QCOMPARE(order, QStringList());
    QCoreApplication::processEvents();
    QCOMPARE(order, (QStringList{"before", "wake", "after"}));
}

void TstWakeUp::ExceptionIsReported()
{
    TWakeMeSoon wake;
    int runs = 0;
    wake.OnWakeUp = [&] {
        ++runs;
        throw EVeskError(QStringLiteral("boom"));
    };
    wake.Request();
    QCoreApplication::processEvents();
    QCOMPARE(runs, 1);
    QVERIFY(SharedDebugWindow());
    QVERIFY(SharedDebugWindow()->GetPendingText().endsWith(
        QStringLiteral("Class=EVeskError, Message=boom, Location=WakeMeSoon, TWakeMeSoon.WndPrc")));

    // Not even a foreign throw gets through the event loop; the next request works again.
    wake.OnWakeUp = [&] {
        ++runs;
        throw 42;
    };
    wake.Request();
    QCoreApplication::processEvents();
    QVERIFY(SharedDebugWindow()->GetPendingText().endsWith(QStringLiteral("Location=WakeMeSoon, TWakeMeSoon.WndPrc")));
    wake.OnWakeUp = [&] { ++runs; };
    wake.Request();
    QCoreApplication::processEvents();
    QCOMPARE(runs, 3);
    SharedDebugWindow()->Timer1Timer();
}

void TstWakeUp::DestroyedBeforeDeliveryDropsTheWakeUp()
{
    int runs = 0;
    {
        TWakeMeSoon wake;
        wake.OnWakeUp = [&] { ++runs; };
        wake.Request();
    }
    QCoreApplication::processEvents();
    QCOMPARE(runs, 0);
}

void TstWakeUp::HandlerMayDestroyItsWakeUp()
{
    // An owner that frees itself (and its wake-up) from inside the handler.
    int runs = 0;
    auto* wake = new TWakeMeSoon;
    QByteArray captured(1000, 'x'); // state inside the handler that must stay alive during the call
    wake->OnWakeUp = [&runs, wake, captured] {
        delete wake;
        runs += int(captured.size());
    };
    wake->Request();
    QCoreApplication::processEvents();
    QCOMPARE(runs, 1000);
}

QTEST_MAIN(TstWakeUp)
#include "tst_wakeup.moc"
