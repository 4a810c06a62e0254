#pragma once
// Handing a clicked symbol to the outside application.

#include <QByteArray>
#include <functional>

// Hands a symbol over through the external-linking window created at start-up. A test may
// divert every hand-over to a hook instead.
void SendSymbol(const QByteArray& symbol);

using TSendSymbolHook = std::function<void(const QByteArray& symbol)>;
void SetSendSymbolHook(TSendSymbolHook hook); // empty: back to the window
