#pragma once
// The debug window: errors caught where nobody waits for them are written here, one line
// each. Reports within one 250 ms period reach the memo in a single addition.

#include "Platform/VeskError.h"

#include <QString>
#include <QWidget>
#include <exception>

class QPlainTextEdit;
class QTimer;

class TMiscDebugWindow : public QWidget {
    Q_OBJECT
public:
    explicit TMiscDebugWindow(QWidget* parent = nullptr);

    void AddLine(const QString& text);

    QPlainTextEdit* Memo1 = nullptr;
    QTimer* Timer1 = nullptr;

    const QString& GetPendingText() const { return PendingText; }
    void Timer1Timer();

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    QString PendingText;
    bool TimerArmed = false;
};

// Writes a line to the shared debug window, creating it on first use.
void DebugOutput(const QString& text);

// The shared window that reports go to, or nullptr before the first report.
TMiscDebugWindow* SharedDebugWindow();

// Writes "Class=<class>, Message=<message>, Location=<location>". Never raises.
// Errors of the base error type report their own class name; others their C++ type name.
void ReportException(const std::exception& error, const QString& location);

// Runs a handler that nobody waits for (a wake-up, a response or connection event, a
// request object's notification, a timer, a menu action): whatever it raises is reported
// with location, and processing goes on. Nothing reaches the event loop.
template <class Call>
void GuardedCall(const QString& location, Call&& call) noexcept
{
    CatchEverything(call, [&](const std::exception& error) { ReportException(error, location); });
}

// The same, for a handler that runs very often: the location is made only when there is
// something to report (location() returns the QString).
template <class Location, class Call>
void GuardedCallAt(Location&& location, Call&& call) noexcept
{
    CatchEverything(call, [&](const std::exception& error) {
        QString where;
        CatchEverything([&] { where = location(); }, [](const std::exception&) {});
        ReportException(error, where);
    });
}

// Runs an alert listener or the status handler. Their failures are ignored on purpose and
// without a report: one broken window or display must neither keep an alert from the other
// windows nor disturb the connection, and a listener failing on every alert would flood the
// debug window.
template <class Call>
void SwallowListenerError(Call&& call) noexcept
{
    CatchEverything(call, [](const std::exception&) {});
}
