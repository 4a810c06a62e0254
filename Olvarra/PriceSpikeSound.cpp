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

namespace {
TPriceSpikeNoticeHandler& NoticeHandler()
{
    static TPriceSpikeNoticeHandler handler;
    return handler;
}
} // namespace

void SetPriceSpikeNoticeHandler(TPriceSpikeNoticeHandler handler)
{
    NoticeHandler() = std::move(handler);
}

void NotifyPriceSpike(const QByteArray& symbol, double priceSpike)
{
    if (NoticeHandler())
        NoticeHandler()(symbol, priceSpike);
}
