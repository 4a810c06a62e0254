#pragma once
// Handing a clicked symbol to the outside application, and the window that hosts the
// linking component's own user interface.

#include <QByteArray>
#include <QString>
#include <QWidget>
#include <functional>

class TLinkBroadcaster;
class TLinkBroadcasterView;

// Created once at start-up, hidden until shown. The first window constructed becomes the
// one that SendSymbol() and ExternalLinkingWindow() use, until it is destroyed.
class TExternalLinkingWindow : public QWidget {
    Q_OBJECT
public:
    // socketName: where outside applications connect; tests pass a name of their own.
    explicit TExternalLinkingWindow(QWidget* parent = nullptr);
    TExternalLinkingWindow(const QString& socketName, QWidget* parent);
    ~TExternalLinkingWindow() override;

    // Shows the window and brings it forward; a minimised one comes back at normal size, as
    // an alert window does from the main window's list.
    void ShowLinkingWindow();

    // Writes the symbol to the component, has it passed on, and when no outside application
    // is linked brings this window forward so the user can link one.
    void SendSymbol(const QByteArray& symbol);

    TLinkBroadcaster& GetLinker() const { return *Linker; }
    TLinkBroadcasterView* GetLinkerView() const { return LinkerView; }

private:
    void FormCreate(const QString& socketName);

    TLinkBroadcaster* Linker = nullptr;
    TLinkBroadcasterView* LinkerView = nullptr;
};

// The window created at start-up, or nullptr when there is none (yet, or any more).
TExternalLinkingWindow* ExternalLinkingWindow();

// Hands a symbol over through the window created at start-up; without a window nothing
// happens. A test may divert every hand-over to a hook instead.
void SendSymbol(const QByteArray& symbol);

using TSendSymbolHook = std::function<void(const QByteArray& symbol)>;
void SetSendSymbolHook(TSendSymbolHook hook); // empty: back to the window
