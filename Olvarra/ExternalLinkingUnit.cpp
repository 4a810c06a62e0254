#include "Olvarra/ExternalLinkingUnit.h"

namespace {
TSendSymbolHook& Hook()
{
    static TSendSymbolHook hook;
    return hook;
}
} // namespace

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
    // The window itself arrives with the application shell.
}
