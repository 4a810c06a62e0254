// The alerts client: creates its windows and runs the event loop until the main window is
// closed. It takes no command-line arguments of its own and reads no environment variables.

#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/FakeDataUnit.h"
#include "Olvarra/MainWindow.h"
#include "Olvarra/QuickstrikeExclude.h"
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <memory>

namespace {

// An error that would leave an event handler is shown to the user, and the program carries
// on with the next event: no exception may unwind through the event loop.
class TVeskApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override
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

    static void ShowError(const QString& message)
    {
        // While one message box is up, its own event loop may meet further errors: those go
        // to the debug window instead of piling up boxes.
        static bool showing = false;
        if (showing) {
            DebugOutput(message);
            return;
        }
        showing = true;
        try {
            QMessageBox::critical(QApplication::activeWindow(), QGuiApplication::applicationDisplayName(), message);
        } catch (...) {
        }
        showing = false;
    }
};

} // namespace

int main(int argc, char** argv)
{
    TVeskApplication app(argc, argv);
    // Only closing the main window ends the program; alert windows left open do not keep
    // it running, and closing the last of them does not end it.
    app.setQuitOnLastWindowClosed(false);

    try {
        auto mainForm = std::make_unique<TMainForm>();
        QObject::connect(mainForm.get(), &TMainForm::Closed, &app, &QCoreApplication::quit);
        auto linkingWindow = std::make_unique<TExternalLinkingWindow>();
        // Reports go to a window of their own, made on the first report; this one stays hidden.
        auto debugWindow = std::make_unique<TMiscDebugWindow>();
        // Closing the fake-data window destroys it.
        QPointer<TFakeDataForm> fakeDataForm = new TFakeDataForm(mainForm->GetConfig());
        auto excludeForm = std::make_unique<TQuickstrikeExcludeForm>();
        mainForm->SetQuickStrikeExcludeForm(excludeForm.get());

        mainForm->show();
        const int result = app.exec();

        excludeForm.reset();
        delete fakeDataForm.data();
        debugWindow.reset();
        linkingWindow.reset();
        // Writes the user's settings.
        mainForm.reset();
        return result;
    } catch (const EVeskError& error) {
        TVeskApplication::ShowError(error.GetMessage());
    } catch (const std::exception& error) {
        TVeskApplication::ShowError(QString::fromLocal8Bit(error.what()));
    }
    return 1;
}
