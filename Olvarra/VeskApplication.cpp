#include "VeskApplication.h"

#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"

#include <QMessageBox>
#include <exception>

namespace {
QString ErrorCaption;
bool ShowingError = false;
} // namespace

bool TVeskApplication::notify(QObject* receiver, QEvent* event)
{
    try {
        return QApplication::notify(receiver, event);
    } catch (const EVeskError& error) {
        ShowError(error.GetMessage());
    } catch (const std::exception& error) {
        ShowError(QString::fromLocal8Bit(error.what()));
    } catch (...) {
        ShowError(QStringLiteral("Unknown error."));
    }
    return false;
}

void TVeskApplication::SetCaption(const QString& caption)
{
    ErrorCaption = caption;
}

QString TVeskApplication::Caption()
{
    return ErrorCaption;
}

void TVeskApplication::ShowError(const QString& message)
{
    if (ShowingError) {
        DebugOutput(message);
        return;
    }
    ShowingError = true;
    try {
        QMessageBox::critical(QApplication::activeWindow(), ErrorCaption, message);
    } catch (...) {
    }
    ShowingError = false;
}
