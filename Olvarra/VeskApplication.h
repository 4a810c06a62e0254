#pragma once
// TVeskApplication: the client's application object. An error that would leave an event
// handler is shown to the user in a message box, and the program carries on with the next
// event: no exception may unwind through the event loop.

#include <QApplication>
#include <QString>

class TVeskApplication : public QApplication {
public:
    using QApplication::QApplication;

    bool notify(QObject* receiver, QEvent* event) override;

    // The caption of the error box: the application's title, as the main window shows it.
    // It is not Qt's application display name, which X11 would append to every caption.
    static void SetCaption(const QString& caption);
    static QString Caption();

    // Shows message in the error box. While one box is up, its own event loop may meet
    // further errors: those go to the debug window instead of piling up boxes.
    static void ShowError(const QString& message);
};
