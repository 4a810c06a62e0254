// labels: debugwindow
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"
#include "Shared/ZLibStreams.h"

#include <QPlainTextEdit>
#include <QTimer>
#include <QtTest>
#include <stdexcept>

class TstDebugWindow : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void FirstReportCreatesAndShowsWindow();
    void ReportsWithinOnePeriodArriveInOneAddition();
    void TimerDeliversWithoutBeingDriven();
    void ReportLineFormat();
    void ClosedWindowComesBackWithHistory();
    void AssertionNamesFileAndLine();
    void GuardReportsEveryKindOfThrow();
    void SwallowedListenerErrorLeavesNoLine();
};

void TstDebugWindow::FirstReportCreatesAndShowsWindow()
{
    QVERIFY(!SharedDebugWindow());
    DebugOutput(QStringLiteral("first"));
    TMiscDebugWindow* window = SharedDebugWindow();
    QVERIFY(window);
    QVERIFY(window->isVisible());
    QVERIFY(!window->parent());
    QCOMPARE(window->windowTitle(), QStringLiteral("Quorvex Debug Window"));
    QVERIFY(window->Timer1->isActive());
    QCOMPARE(window->Timer1->interval(), 250);
    window->Timer1Timer();
    QVERIFY(!window->Timer1->isActive());
    QCOMPARE(window->Memo1->toPlainText(), QStringLiteral("first"));
    // The same window serves every report.
    DebugOutput(QStringLiteral("second"));
    QCOMPARE(SharedDebugWindow(), window);
    window->Timer1Timer();
}

void TstDebugWindow::ReportsWithinOnePeriodArriveInOneAddition()
{
    TMiscDebugWindow* window = SharedDebugWindow();
    QVERIFY(window);
    const int linesBefore = window->Memo1->blockCount();
    int additions = 0;
    auto counter = connect(window->Memo1, &QPlainTextEdit::textChanged, this, [&] { ++additions; });
    DebugOutput(QStringLiteral("alpha"));
    DebugOutput(QStringLiteral("beta"));
    QCOMPARE(window->Memo1->blockCount(), linesBefore); // nothing until the tick
    QCOMPARE(window->GetPendingText(), QStringLiteral("alpha\r\nbeta"));
    window->Timer1Timer();
    disconnect(counter);
    QCOMPARE(additions, 1);
    QCOMPARE(window->Memo1->blockCount(), linesBefore + 2);
    const QStringList lines = window->Memo1->toPlainText().split(QLatin1Char('\n'));
    QCOMPARE(lines.mid(lines.size() - 2), (QStringList{"alpha", "beta"}));
    QVERIFY(window->GetPendingText().isEmpty());
    QVERIFY(!window->Timer1->isActive()); // idle until the next report
}

void TstDebugWindow::TimerDeliversWithoutBeingDriven()
{
    TMiscDebugWindow* window = SharedDebugWindow();
    DebugOutput(QStringLiteral("by the timer"));
    QTRY_VERIFY_WITH_TIMEOUT(window->Memo1->toPlainText().endsWith(QStringLiteral("by the timer")), 900);
    QVERIFY(!window->Timer1->isActive());
}

void TstDebugWindow::ReportLineFormat()
{
    TMiscDebugWindow* window = SharedDebugWindow();
    ReportException(EZDecompressionError(QStringLiteral("data error")),
                    QStringLiteral("TalkWithServer, TTalkWithServer.ServerConnectionDataAvailable"));
    QCOMPARE(window->GetPendingText(), QStringLiteral("Class=EZDecompressionError, Message=data error, "
                                                      "Location=TalkWithServer, TTalkWithServer.ServerConnectionDataAvailable"));
    window->Timer1Timer();
    // An empty message still makes a line.
    ReportException(EVeskError(QString()), QStringLiteral("here"));
    QCOMPARE(window->GetPendingText(), QStringLiteral("Class=EVeskError, Message=, Location=here"));
    window->Timer1Timer();
    // Errors from outside the system's own family are reported by their type name.
    ReportException(std::runtime_error("disk on fire"), QStringLiteral("there"));
    QCOMPARE(window->GetPendingText(), QStringLiteral("Class=std::runtime_error, Message=disk on fire, Location=there"));
    window->Timer1Timer();
}

void TstDebugWindow::ClosedWindowComesBackWithHistory()
{
    TMiscDebugWindow* window = SharedDebugWindow();
    DebugOutput(QStringLiteral("before close"));
    window->Timer1Timer();
    window->close();
    QVERIFY(!window->isVisible());
    QCOMPARE(SharedDebugWindow(), window); // hidden, not destroyed
    DebugOutput(QStringLiteral("after close"));
    QVERIFY(window->isVisible());
    QVERIFY(window->windowState() & Qt::WindowMinimized);
    window->Timer1Timer();
    const QString text = window->Memo1->toPlainText();
    QVERIFY(text.contains(QStringLiteral("first")));
    QVERIFY(text.indexOf(QStringLiteral("before close")) < text.indexOf(QStringLiteral("after close")));
}

void TstDebugWindow::AssertionNamesFileAndLine()
{
    QString message;
    int line = 0;
    try {
        line = __LINE__ + 1;
        VESK_ASSERT(1 + 1 == 3);
    } catch (const EAssertionFailed& e) {
        message = e.GetMessage();
        ReportException(e, QStringLiteral("test"));
    }
    QCOMPARE(message, QStringLiteral("Assertion failure (tst_debugwindow.cpp, line %1)").arg(line));
    QCOMPARE(SharedDebugWindow()->GetPendingText(),
             QStringLiteral("Class=EAssertionFailed, Message=%1, Location=test").arg(message));
    SharedDebugWindow()->Timer1Timer();
}

void TstDebugWindow::GuardReportsEveryKindOfThrow()
{
    TMiscDebugWindow* window = SharedDebugWindow();
    window->Timer1Timer();
    bool ran = false;
    GuardedCall(QStringLiteral("quiet"), [&] { ran = true; });
    QVERIFY(ran);
    QVERIFY(window->GetPendingText().isEmpty());
    GuardedCall(QStringLiteral("AlertWindowUnit, TAlertForm.X"),
                [] { throw EZDecompressionError(QStringLiteral("data error")); });
    QCOMPARE(window->GetPendingText(),
             QStringLiteral("Class=EZDecompressionError, Message=data error, Location=AlertWindowUnit, TAlertForm.X"));
    window->Timer1Timer();
    // A throw of no error class at all is reported too, never dropped.
    GuardedCall(QStringLiteral("there"), [] { throw 42; });
    QCOMPARE(window->GetPendingText(), QStringLiteral("Class=EVeskError, Message=Unknown exception, Location=there"));
    window->Timer1Timer();
    QCOMPARE(MessageOf(std::runtime_error("plain")), QStringLiteral("plain"));
    QCOMPARE(MessageOf(EVeskError(QStringLiteral("own"))), QStringLiteral("own"));
}

void TstDebugWindow::SwallowedListenerErrorLeavesNoLine()
{
    TMiscDebugWindow* window = SharedDebugWindow();
    window->Timer1Timer();
    int calls = 0;
    SwallowListenerError([&] {
        ++calls;
        throw EVeskError(QStringLiteral("listener"));
    });
    SwallowListenerError([&] {
        ++calls;
        throw 7;
    });
    QCOMPARE(calls, 2);
    QVERIFY(window->GetPendingText().isEmpty());
    QVERIFY(!window->Timer1->isActive());
}

QTEST_MAIN(TstDebugWindow)
#include "tst_debugwindow.moc"
