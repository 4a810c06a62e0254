#pragma once
// The price-spike signal that the full top list grid asks for when a spike is first painted.
// The main window installs the player; a test may install its own.

#include <functional>

void PlayPriceSpikeSound();

using TPriceSpikeSoundHandler = std::function<void()>;
void SetPriceSpikeSoundHandler(TPriceSpikeSoundHandler handler); // empty: silence
