#include "Shared/MiscDebugWindows.h"

#include "Platform/VeskError.h"

#include <QCloseEvent>
#include <QPlainTextEdit>
#include <QPointer>
#include <QTimer>
#include <QVBoxLayout>
#if __has_include(<cxxabi.h>)
#include <cxxabi.h>
#endif
#include <cstdlib>
#include <typeinfo>

TMiscDebugWindow::TMiscDebugWindow(QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("Quorvex Debug Window"));
    setGeometry(192, 114, 1142, 656);
    Memo1 = new QPlainTextEdit(this);
    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::NoWrap);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Memo1);
    Timer1 = new QTimer(this);
    Timer1->setInterval(250);
    connect(Timer1, &QTimer::timeout, this, &TMiscDebugWindow::Timer1Timer);
}

void TMiscDebugWindow::AddLine(const QString& text)
{
    if (!TimerArmed) {
        TimerArmed = true;
        Timer1->start();
    }
    if (PendingText.isEmpty())
        PendingText = text;
    else
        PendingText += QStringLiteral("\r\n") + text;
    setVisible(true);
}

void TMiscDebugWindow::Timer1Timer()
{
    TimerArmed = false;
    Timer1->stop();
    // A tick with nothing queued adds no empty line.
    if (PendingText.isEmpty())
        return;
    QString text = PendingText;
    PendingText.clear();
    text.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    Memo1->appendPlainText(text);
}

void TMiscDebugWindow::closeEvent(QCloseEvent* event)
{
    // Closing only tucks the window away; its history stays for the next report.
    event->ignore();
    setWindowState(windowState() | Qt::WindowMinimized);
    hide();
}

namespace {
QPointer<TMiscDebugWindow> Shared;

QString TypeName(const std::exception& error)
{
    if (auto* own = dynamic_cast<const EVeskError*>(&error))
        return QString::fromLatin1(own->ClassName());
    const char* mangled = typeid(error).name();
#if __has_include(<cxxabi.h>)
    int status = 0;
    char* demangled = abi::__cxa_demangle(mangled, nullptr, nullptr, &status);
    QString name = QString::fromLatin1(status == 0 && demangled ? demangled : mangled);
    std::free(demangled);
    return name;
#else
    // MSVC's type names are readable as they are.
    return QString::fromLatin1(mangled);
#endif
}

} // namespace

TMiscDebugWindow* SharedDebugWindow()
{
    return Shared.data();
}

void DebugOutput(const QString& text)
{
    if (!Shared)
        Shared = new TMiscDebugWindow(nullptr);
    Shared->AddLine(text);
}

void ReportException(const std::exception& error, const QString& location)
{
    try {
        DebugOutput(QStringLiteral("Class=") + TypeName(error) + QStringLiteral(", Message=") + MessageOf(error)
                    + QStringLiteral(", Location=") + location);
    } catch (...) {
        // A failing report must never disturb the code that caught the error.
    }
}
