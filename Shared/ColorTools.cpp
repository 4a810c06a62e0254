#include "Shared/ColorTools.h"

#include "Platform/VeskError.h"

#include <QImage>
#include <cstdint>
#include <cstdlib>
#include <vector>

namespace {

struct TChannelSums {
    quint32 C0 = 0;
    quint32 C1 = 0;
    quint32 C2 = 0;
};

} // namespace

void ShrinkBitmap(QImage& source, QImage& destination, int fx, int fy)
{
    const bool mirror = fx < 0;
    VESK_ASSERT_MSG(fy >= 0, "Not implemented yet.");
    fx = std::abs(fx);
    VESK_ASSERT(fx > 0 && fy > 0);
    const quint32 n = quint32(fx) * quint32(fy);

    if (source.format() != QImage::Format_RGB888)
        source.convertTo(QImage::Format_RGB888);

    const int width = source.width() / fx;
    const int height = source.height() / fy;
    if (destination.width() != width || destination.height() != height
        || destination.format() != QImage::Format_RGB888)
        destination = QImage(width, height, QImage::Format_RGB888);
    if (width == 0 || height == 0)
        return;

    const int usedWidth = width * fx;
    const int usedRows = height * fy;

    // One accumulator per destination column, reused for every band of fy source rows.
    // Reading and writing use the same byte order, so the channels never need naming.
    thread_local std::vector<TChannelSums> sums;
    sums.assign(size_t(width), TChannelSums{});

    int destinationRow = 0;
    int rowsInBand = 0;
    for (int y = 0; y < usedRows; ++y) {
        const uchar* in = source.constScanLine(y);
        int column = mirror ? width - 1 : 0;
        int counter = 0;
        for (int x = 0; x < usedWidth; ++x, in += 3) {
            TChannelSums& s = sums[size_t(column)];
            s.C0 += in[0];
            s.C1 += in[1];
            s.C2 += in[2];
            if (++counter == fx) {
                counter = 0;
                column += mirror ? -1 : 1;
            }
        }
        if (++rowsInBand == fy) {
            uchar* out = destination.scanLine(destinationRow);
            for (int k = 0; k < width; ++k, out += 3) {
                TChannelSums& s = sums[size_t(k)];
                out[0] = uchar((s.C0 + n / 2) / n);
                out[1] = uchar((s.C1 + n / 2) / n);
                out[2] = uchar((s.C2 + n / 2) / n);
                s = TChannelSums{};
            }
            ++destinationRow;
            rowsInBand = 0;
        }
    }
}
