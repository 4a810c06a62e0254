#include "Olvarra/PriceSpikeSound.h"

namespace {
TPriceSpikeSoundHandler& Handler()
{
    static TPriceSpikeSoundHandler handler;
    return handler;
}
} // namespace

void SetPriceSpikeSoundHandler(TPriceSpikeSoundHandler handler)
{
    Handler() = std::move(handler);
}

void PlayPriceSpikeSound()
{
    if (Handler())
        Handler()();
}
