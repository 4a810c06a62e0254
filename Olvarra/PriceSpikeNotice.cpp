#include "Olvarra/PriceSpikeNotice.h"

#include "Olvarra/AlertGridBase.h"
#include "Platform/Clock.h"
#include "Platform/DesktopNotifier.h"

#include <QCheckBox>

namespace {
// A symbol is a few letters; anything longer is cut rather than shown whole.
constexpr qsizetype MaxSymbolShown = 24;

QString ShownSymbol(const QByteArray& symbol)
{
    QString text = QString::fromLatin1(symbol.left(MaxSymbolShown));
    for (QChar& c : text)
        if (c.unicode() < 32 || c.unicode() == 127)
            c = QLatin1Char(' ');
    return text;
}
} // namespace

bool TPriceSpikeNotice::Enabled() const
{
    // The box's own flag, as for the sound: a hidden main window still means "on".
    return CheckBox && !CheckBox->isHidden() && CheckBox->isChecked();
}

QString TPriceSpikeNotice::Summary(const QByteArray& symbol)
{
    return QStringLiteral("Price spike: ") + ShownSymbol(symbol);
}

QString TPriceSpikeNotice::Body(const QByteArray& symbol, double priceSpike)
{
    // One decimal, as the grid's "PrSpk" column shows it.
    return (ShownSymbol(symbol) + QStringLiteral(" price spike ") + TCellText::FixedText(priceSpike, 1, false))
        .toHtmlEscaped();
}

bool TPriceSpikeNotice::Notify(const QByteArray& symbol, double priceSpike)
{
    if (!Enabled())
        return false;
    const qint64 now = Clock().MonotonicMs();
    while (!Recent.isEmpty() && now - Recent.first() >= PerSymbolMs)
        Recent.removeFirst();
    // Forgetting symbols whose minute is over keeps the table as small as the limit.
    for (auto it = LastShown.begin(); it != LastShown.end();)
        it = now - it.value() >= PerSymbolMs ? LastShown.erase(it) : std::next(it);
    if (LastShown.contains(symbol) || Recent.size() >= PerMinuteLimit)
        return false;
    LastShown.insert(symbol, now);
    Recent.append(now);
    DesktopNotifier().Notify(AppName, Summary(symbol), Body(symbol, priceSpike));
    return true;
}
