// The alerts client: creates its windows and runs the event loop until the main window is
// closed. It takes no command-line arguments of its own and reads no environment variables.

#include "Olvarra/ExternalLinkingUnit.h"
#include "Olvarra/FakeDataUnit.h"
#include "Olvarra/MainWindow.h"
#include "Olvarra/QuickstrikeExclude.h"
#include "Olvarra/VeskApplication.h"
#include "Platform/VeskError.h"
#include "Shared/MiscDebugWindows.h"

#include <QPointer>
#include <memory>

int main(int argc, char** argv)
{
    TVeskApplication app(argc, argv);
    // Only closing the main window ends the program; alert windows left open do not keep
    // it running, and closing the last of them does not end it.
    app.setQuitOnLastWindowClosed(false);

    try {
        auto mainForm = std::make_unique<TMainForm>();
        // Closing the main window ends the program whatever the other windows say. quit()
        // would first ask every window to close and give up at the first that refuses (the
        // debug window only tucks itself away), leaving the process running with the
        // settings never written; exit() ends the event loop (nested ones too) at once.
        QObject::connect(mainForm.get(), &TMainForm::Closed, &app, [] { QCoreApplication::exit(0); });
        TVeskApplication::SetCaption(mainForm->windowTitle());
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
