#include "Olvarra/ExternalLinkingUnit.h"

#include "Platform/LinkBroadcaster.h"
#include "Platform/WindowForward.h"

#include <QPointer>
#include <QVBoxLayout>

namespace {

TSendSymbolHook& Hook()
{
    static TSendSymbolHook hook;
    return hook;
}

QPointer<TExternalLinkingWindow>& StartWindow()
{
    static QPointer<TExternalLinkingWindow> window;
    return window;
}

} // namespace

TExternalLinkingWindow::TExternalLinkingWindow(QWidget* parent)
    : TExternalLinkingWindow(TLinkBroadcaster::DefaultName(), parent)
{
}

TExternalLinkingWindow::TExternalLinkingWindow(const QString& socketName, QWidget* parent) : QWidget(parent)
{
    setWindowTitle(QStringLiteral("External Linking Window"));
    resize(443, 440);
    // Closing the main window ends the program even while this one is open.
    setAttribute(Qt::WA_QuitOnClose, false);
    FormCreate(socketName);
    if (!StartWindow())
        StartWindow() = this;
}

TExternalLinkingWindow::~TExternalLinkingWindow() = default;

void TExternalLinkingWindow::FormCreate(const QString& socketName)
{
    // The component and its user interface live inside this window and fill it.
    Linker = new TLinkBroadcaster(this);
    Linker->Listen(socketName);
    LinkerView = new TLinkBroadcasterView(*Linker, this);
    auto* layout = new QVBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(LinkerView);
}

void TExternalLinkingWindow::ShowLinkingWindow()
{
    BringWindowForward(this);
}

void TExternalLinkingWindow::SendSymbol(const QByteArray& symbol)
{
    Linker->SetSymbol(symbol);
    Linker->Link();
    if (Linker->Status() == 0)
        ShowLinkingWindow();
}

TExternalLinkingWindow* ExternalLinkingWindow()
{
    return StartWindow();
}

void SetSendSymbolHook(TSendSymbolHook hook)
{
    Hook() = std::move(hook);
}

void SendSymbol(const QByteArray& symbol)
{
    if (Hook()) {
        Hook()(symbol);
        return;
    }
    if (TExternalLinkingWindow* window = StartWindow())
        window->SendSymbol(symbol);
}
