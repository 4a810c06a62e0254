// labels: colortools
#include "Shared/ColorTools.h"

#include "Platform/VeskError.h"

#include <QImage>
#include <QtTest>

namespace {

// A source whose every pixel is distinct per channel, so a wrong block or a mixed channel
// shows up in the averages.
QImage Ramp(int w, int h)
{
    QImage img(w, h, QImage::Format_RGB888);
    for (int y = 0; y < h; ++y) {
        uchar* p = img.scanLine(y);
        for (int x = 0; x < w; ++x) {
            p[3 * x + 0] = uchar(10 * x + y);
            p[3 * x + 1] = uchar(200 - 7 * y);
            p[3 * x + 2] = uchar((x * 31 + y * 17) % 256);
        }
    }
    return img;
}

// The rounded mean of channel c over the block of source pixels [x0, x0+fx) x [y0, y0+fy).
int BlockMean(const QImage& img, int x0, int y0, int fx, int fy, int c)
{
    unsigned sum = 0;
    for (int y = y0; y < y0 + fy; ++y)
        for (int x = x0; x < x0 + fx; ++x)
            sum += img.constScanLine(y)[3 * x + c];
    const unsigned n = unsigned(fx * fy);
    return int((sum + n / 2) / n);
}

int Channel(const QImage& img, int x, int y, int c) { return img.constScanLine(y)[3 * x + c]; }

} // namespace

class TColorToolsTest : public QObject {
    Q_OBJECT

private Q_SLOTS:
    void RoundsEachBlockToNearest()
    {
        QImage src(9, 9, QImage::Format_RGB888);
        src.fill(QColor(255, 255, 255));
        // The block in the middle has one pixel of 0 in the first channel only.
        src.scanLine(4)[3 * 4 + 0] = 0;
        QImage dst;
        ShrinkBitmap(src, dst, 3, 3);
        QCOMPARE(dst.size(), QSize(3, 3));
        QCOMPARE(dst.format(), QImage::Format_RGB888);
        QCOMPARE(Channel(dst, 1, 1, 0), 227); // (8 * 255 + 4) div 9
        QCOMPARE(Channel(dst, 1, 1, 1), 255); // channels are not mixed
        QCOMPARE(Channel(dst, 1, 1, 2), 255);
        QCOMPARE(Channel(dst, 0, 0, 0), 255);

        // Halves round up: a 2x1 block of 0 and 1 averages to 1.
        QImage half(2, 1, QImage::Format_RGB888);
        half.fill(Qt::black);
        half.scanLine(0)[0] = 1;
        ShrinkBitmap(half, dst, 2, 1);
        QCOMPARE(Channel(dst, 0, 0, 0), 1);
    }

    void EveryBlockAveragedAndEdgesIgnored()
    {
        // 10x10 by 3x3: the last column and row fall outside every block; the accumulators
        // must be cleared between bands and each band land in its own row.
        QImage src = Ramp(10, 10);
        QImage dst(50, 50, QImage::Format_RGB32); // wrong size and format on purpose
        ShrinkBitmap(src, dst, 3, 3);
        QCOMPARE(dst.size(), QSize(3, 3));
        for (int by = 0; by < 3; ++by)
            for (int bx = 0; bx < 3; ++bx)
                for (int c = 0; c < 3; ++c)
                    QCOMPARE(Channel(dst, bx, by, c), BlockMean(src, 3 * bx, 3 * by, 3, 3, c));

        // Unequal factors.
        QImage wide = Ramp(8, 9);
        ShrinkBitmap(wide, dst, 4, 3);
        QCOMPARE(dst.size(), QSize(2, 3));
        QCOMPARE(Channel(dst, 1, 2, 2), BlockMean(wide, 4, 6, 4, 3, 2));
    }

    void MirrorAndDegenerateSizes()
    {
        // With -3 horizontally, destination column 0 holds the rightmost used block (source
        // columns 6..8 of 10).
        QImage src = Ramp(10, 6);
        QImage dst;
        ShrinkBitmap(src, dst, -3, 3);
        QCOMPARE(dst.size(), QSize(3, 2));
        for (int by = 0; by < 2; ++by)
            for (int c = 0; c < 3; ++c) {
                QCOMPARE(Channel(dst, 0, by, c), BlockMean(src, 6, 3 * by, 3, 3, c));
                QCOMPARE(Channel(dst, 2, by, c), BlockMean(src, 0, 3 * by, 3, 3, c));
            }

        // Narrower or lower than one block: an empty destination.
        QImage narrow = Ramp(2, 9);
        ShrinkBitmap(narrow, dst, 3, 3);
        QCOMPARE(dst.width(), 0);
        QImage low = Ramp(9, 2);
        ShrinkBitmap(low, dst, 3, 3);
        QCOMPARE(dst.height(), 0);

        // 1 x 1 copies; another source format is converted first.
        QImage same = Ramp(7, 5);
        ShrinkBitmap(same, dst, 1, 1);
        QCOMPARE(dst, same);
        QImage argb(4, 4, QImage::Format_ARGB32);
        argb.fill(QColor(10, 20, 30));
        ShrinkBitmap(argb, dst, 2, 2);
        QCOMPARE(dst.pixelColor(1, 1), QColor(10, 20, 30));
    }

    void NegativeVerticalFactorRefusedUntouched()
    {
        QImage src = Ramp(9, 9);
        const QImage srcBefore = src;
        QImage dst(5, 5, QImage::Format_RGB32);
        dst.fill(Qt::green);
        const QImage dstBefore = dst;
        try {
            ShrinkBitmap(src, dst, 3, -3);
            QFAIL("no assertion failure");
        } catch (const EAssertionFailed& e) {
            QVERIFY(e.GetMessage().startsWith(QLatin1String("Not implemented yet.")));
        }
        QCOMPARE(src, srcBefore);
        QCOMPARE(dst, dstBefore);
        QCOMPARE(dst.format(), QImage::Format_RGB32);
    }
};

QTEST_GUILESS_MAIN(TColorToolsTest)
#include "tst_colortools.moc"
