#pragma once
// The price-spike signal that the full top list grid asks for when a spike is first painted.
// The main window installs the player; a test may install its own.

#include <functional>

void PlayPriceSpikeSound();

using TPriceSpikeSoundHandler = std::function<void()>;
void SetPriceSpikeSoundHandler(TPriceSpikeSoundHandler handler); // empty: silence

// The same moment, with the symbol and its price spike, for the optional desktop
// notification. The main window installs the notifier.
#include <QByteArray>
void NotifyPriceSpike(const QByteArray& symbol, double priceSpike);

using TPriceSpikeNoticeHandler = std::function<void(const QByteArray& symbol, double priceSpike)>;
void SetPriceSpikeNoticeHandler(TPriceSpikeNoticeHandler handler); // empty: none
