// labels: compression
#include "Shared/ZLibStreams.h"

#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QtTest>
#include <zlib.h>

namespace {
QByteArray RandomBytes(qsizetype n, quint32 seed)
{
    QRandomGenerator random(seed);
    QByteArray data(n, Qt::Uninitialized);
    for (char& c : data)
        c = char(random.bounded(256));
    return data;
}

// Alert-like text: compresses well, like the real traffic.
QByteArray AlertText(int i)
{
    return "Wex Top\r\nsymbol=SYM" + QByteArray::number(i) + "&last=" + QByteArray::number(10 + i % 50)
           + ".25&prev_close=9.75&volume=" + QByteArray::number(i * 1234) + "&time=12:00:0" + QByteArray::number(i % 10);
}

QByteArray Inflate(const QByteArray& compressed)
{
    TZLibDecompressor d;
    d.Write(compressed);
    return d.Output;
}

// A complete zlib stream made by zlib itself, optionally asking for a preset dictionary.
QByteArray FinishedStream(const QByteArray& data, const QByteArray& dictionary = {})
{
    z_stream s{};
    deflateInit(&s, Z_DEFAULT_COMPRESSION);
    if (!dictionary.isEmpty())
        deflateSetDictionary(&s, reinterpret_cast<const Bytef*>(dictionary.constData()), uInt(dictionary.size()));
    QByteArray out(int(deflateBound(&s, uLong(data.size()))) + 16, '\0');
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    s.avail_in = uInt(data.size());
    s.next_out = reinterpret_cast<Bytef*>(out.data());
    s.avail_out = uInt(out.size());
    deflate(&s, Z_FINISH);
    out.resize(qsizetype(s.total_out));
    deflateEnd(&s);
    return out;
}

QString ErrorOf(TZLibDecompressor& d, const QByteArray& data)
{
    try {
        d.Write(data);
    } catch (const EZDecompressionError& e) {
        return e.GetMessage();
    }
    return QString();
}

// Runs python3 with a script, bytes through stdin, and returns its stdout.
QByteArray RunPython(const QByteArray& script, const QByteArray& input)
{
    QProcess python;
    python.start(QStringLiteral("python3"), {QStringLiteral("-c"), QString::fromLatin1(script)});
    if (!python.waitForStarted(10000))
        return "<python3 did not start>";
    python.write(input);
    python.closeWriteChannel();
    if (!python.waitForFinished(30000)) {
        python.kill();
        python.waitForFinished();
        return "<python3 did not finish>";
    }
    return python.readAllStandardOutput();
}
} // namespace

class TstCompression : public QObject {
    Q_OBJECT
private Q_SLOTS:
    void FlushedPieceIsHeaderBlockAndMarker();
    void NewestPieceIsHeldUntilFlush();
    void LargePieceSpansSeveralPasses();
    void PassesFilledExactlyKeepStreamGoing();
    void SplitAtEveryByteInflatesTheSame();
    void DataErrorThenSilence();
    void EndOfStreamAndDictionaryDoNotHang();
    void IndependentZlibReadsOurStream();
    void WeReadIndependentZlibStream();
    void BoundedWritesGiveTheSameBytesInSlices();
};

void TstCompression::FlushedPieceIsHeaderBlockAndMarker()
{
    TZLibCompressor c;
    const QByteArray piece = "command=ping&response=1";
    c.Write(piece);
    c.Flush();
    QVERIFY(c.Output.size() > 6);
    // Maximum level writes its own header flag; every level reads back.
    for (auto level : {TZCompressionLevel::None, TZCompressionLevel::Fastest, TZCompressionLevel::Maximum}) {
        TZLibCompressor other(level);
        other.Write(piece);
        other.Flush();
        QCOMPARE(Inflate(other.Output), piece);
        if (level == TZCompressionLevel::Maximum)
            QCOMPARE(quint8(other.Output[1]), quint8(0xda));
    }
    // zlib header: deflate, 32K window, default level; then the empty stored block.
    QCOMPARE(quint8(c.Output[0]), quint8(0x78));
    QCOMPARE(quint8(c.Output[1]), quint8(0x9c));
    QVERIFY(c.Output.endsWith(QByteArray("\x00\x00\xff\xff", 4)));
    QCOMPARE(Inflate(c.Output), piece);

    // A second Flush adds nothing, not even another empty block.
    const QByteArray before = c.Output;
    c.Flush();
    QCOMPARE(c.Output, before);

    // The owner takes the output; the next piece continues the same stream.
    TZLibDecompressor d;
    d.Write(c.Output);
    c.Output.clear();
    c.Write("second");
    c.Flush();
    QVERIFY(c.Output.endsWith(QByteArray("\x00\x00\xff\xff", 4)));
    d.Write(c.Output);
    QCOMPARE(d.Output, piece + "second");
}

void TstCompression::NewestPieceIsHeldUntilFlush()
{
    TZLibCompressor fresh;
    fresh.Flush();
    fresh.Write(QByteArray());
    fresh.Flush();
    QVERIFY(fresh.Output.isEmpty());

    TZLibCompressor c;
    const QByteArray first = RandomBytes(3000, 1);  // incompressible: shows up at once
    const QByteArray second = RandomBytes(3000, 2);
    c.Write(first);
    QVERIFY(c.Output.isEmpty()); // held
    c.Write(second);
    c.Write(QByteArray()); // changes nothing, not even the held piece
    // The first piece went to deflate, the second is still held: not all of it can be there.
    QVERIFY(c.Output.size() < first.size() + second.size());
    c.Flush();
    QCOMPARE(Inflate(c.Output), first + second);
}

void TstCompression::LargePieceSpansSeveralPasses()
{
    TZLibCompressor c;
    const QByteArray big = RandomBytes(50000, 3);
    c.Write(big);
    c.Flush();
    QVERIFY(c.Output.size() > 3 * 4096);
    QCOMPARE(Inflate(c.Output), big);

    // And the inflater, producing far more than one pass from a small input.
    TZLibCompressor z;
    const QByteArray zeros(200000, '\0');
    z.Write(zeros);
    z.Flush();
    QVERIFY(z.Output.size() < 4096);
    QCOMPARE(Inflate(z.Output), zeros);
    // Outputs of exactly one and two passes.
    for (int n : {4096, 8192, 4095, 4097}) {
        TZLibCompressor e;
        e.Write(QByteArray(n, 'q'));
        e.Flush();
        QCOMPARE(Inflate(e.Output).size(), qsizetype(n));
    }
    // Bytes that do not compress get the inflater's largest passes: outputs that fill one or
    // two of them exactly, whole and in bounded slices.
    for (int n : {128 * 1024, 128 * 1024 - 1, 128 * 1024 + 1, 256 * 1024}) {
        TZLibCompressor e(TZCompressionLevel::None);
        const QByteArray random = RandomBytes(n, quint32(n));
        e.Write(random);
        e.Flush();
        QCOMPARE(Inflate(e.Output), random);
        TZLibDecompressor bounded;
        QByteArray out;
        qsizetype taken = 0;
        for (int calls = 0; (taken < e.Output.size() || bounded.HasMoreOutput()) && calls < 1000; ++calls) {
            taken += bounded.WriteSome(e.Output.constData() + taken, e.Output.size() - taken, 100000);
            QVERIFY(bounded.Output.size() <= 100000 + 4096);
            out += std::exchange(bounded.Output, QByteArray());
        }
        QCOMPARE(out, random);
    }
}

void TstCompression::PassesFilledExactlyKeepStreamGoing()
{
    // Without compression, this many random bytes fill the last pass exactly, so one more
    // pass runs with nothing left to do. The stream must go on carrying what comes next.
    TZLibCompressor c(TZCompressionLevel::None);
    const QByteArray piece = RandomBytes(36857, 4);
    c.Write(piece);
    c.Write("tail");
    QCOMPARE(c.Output.size() % 4096, 0);
    QVERIFY(!c.Output.isEmpty());
    c.Write("more");
    c.Flush();
    QCOMPARE(Inflate(c.Output), piece + "tail" + "more");
}

void TstCompression::SplitAtEveryByteInflatesTheSame()
{
    // A short conversation: several flushed bursts, as the conversation layer sends them.
    TZLibCompressor c;
    QByteArray plain;
    for (int burst = 0; burst < 4; ++burst) {
        for (int i = 0; i < 3; ++i) {
            const QByteArray piece = AlertText(burst * 10 + i);
            c.Write(piece);
            plain += piece;
        }
        c.Flush();
    }
    const QByteArray stream = c.Output;
    for (qsizetype cut = 0; cut <= stream.size(); ++cut) {
        TZLibDecompressor d;
        d.Write(stream.left(cut));
        d.Write(stream.mid(cut));
        QCOMPARE(d.Output, plain);
    }
    TZLibDecompressor bytewise;
    for (char byte : stream)
        bytewise.Write(QByteArray(1, byte));
    QCOMPARE(bytewise.Output, plain);
}

void TstCompression::DataErrorThenSilence()
{
    TZLibDecompressor foreign;
    QCOMPARE(ErrorOf(foreign, "this is not a zlib stream at all"), QStringLiteral("data error"));
    QVERIFY(foreign.Output.isEmpty());
    // Valid data afterwards is ignored, without raising again.
    TZLibCompressor c;
    c.Write("hello");
    c.Flush();
    QCOMPARE(ErrorOf(foreign, c.Output), QString());
    QVERIFY(foreign.Output.isEmpty());

    // Corruption in the middle: what was inflated before the error stays in Output.
    TZLibCompressor good;
    good.Write("before the damage");
    good.Flush();
    QByteArray stream = good.Output;
    const qsizetype intact = stream.size();
    good.Output.clear();
    good.Write(RandomBytes(2000, 5));
    good.Flush();
    QByteArray damaged = good.Output;
    damaged[0] = char(0xff); // reserved block type
    TZLibDecompressor d;
    d.Write(stream.left(intact));
    QCOMPARE(ErrorOf(d, damaged), QStringLiteral("data error"));
    QCOMPARE(d.Output, QByteArray("before the damage"));
    QCOMPARE(ErrorOf(d, damaged), QString());

    // The error is of the decompression family, itself a zlib error of the base type.
    TZLibDecompressor again;
    try {
        again.Write("garbage!");
        QFAIL("no error raised");
    } catch (const EZLibError& e) {
        QCOMPARE(QByteArray(e.ClassName()), QByteArray("EZDecompressionError"));
    }
}

void TstCompression::EndOfStreamAndDictionaryDoNotHang()
{
    // A peer that finishes its stream: the bytes read fine; anything after the end is an
    // error rather than a loop that never consumes it.
    const QByteArray finished = FinishedStream("last words");
    TZLibDecompressor d;
    QCOMPARE(ErrorOf(d, finished), QString());
    QCOMPARE(d.Output, QByteArray("last words"));
    QCOMPARE(ErrorOf(d, "trailing"), QStringLiteral("stream end"));
    QCOMPARE(ErrorOf(d, "more"), QString());

    TZLibDecompressor inOne;
    QCOMPARE(ErrorOf(inOne, finished + "junk"), QStringLiteral("stream end"));
    QCOMPARE(inOne.Output, QByteArray("last words"));

    // A stream that needs a preset dictionary cannot be read; it must not spin either.
    TZLibDecompressor dict;
    QCOMPARE(ErrorOf(dict, FinishedStream("payload", "dictionary")), QStringLiteral("need dictionary"));
}

void TstCompression::IndependentZlibReadsOurStream()
{
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 is not installed");
    TZLibCompressor c;
    QByteArray plain;
    for (int i = 0; i < 200; ++i) {
        const QByteArray piece = i % 50 == 7 ? RandomBytes(6000, quint32(i)) : AlertText(i);
        c.Write(piece);
        plain += piece;
        if (i % 17 == 0)
            c.Flush();
    }
    c.Flush();
    // The stream is never finished, so the reader must not require an end.
    const QByteArray got = RunPython("import sys, zlib\n"
                                     "d = zlib.decompressobj()\n"
                                     "sys.stdout.buffer.write(d.decompress(sys.stdin.buffer.read()))\n",
                                     c.Output);
    QCOMPARE(got.size(), plain.size());
    QVERIFY(got == plain);
}

void TstCompression::WeReadIndependentZlibStream()
{
    if (QStandardPaths::findExecutable(QStringLiteral("python3")).isEmpty())
        QSKIP("python3 is not installed");
    QByteArray plain;
    for (int i = 0; i < 500; ++i)
        plain += AlertText(i);
    // Compressed by another zlib user with a sync flush every 1000 bytes, as a server would.
    const QByteArray stream = RunPython("import sys, zlib\n"
                                        "data = sys.stdin.buffer.read()\n"
                                        "c = zlib.compressobj()\n"
                                        "out = b''\n"
                                        "for i in range(0, len(data), 1000):\n"
                                        "    out += c.compress(data[i:i+1000]) + c.flush(zlib.Z_SYNC_FLUSH)\n"
                                        "sys.stdout.buffer.write(out)\n",
                                        plain);
    QVERIFY(stream.size() > 100);
    TZLibDecompressor d;
    for (qsizetype at = 0; at < stream.size(); at += 777)
        d.Write(stream.mid(at, 777));
    QVERIFY(d.Output == plain);
}

// Bounded inflating: each call adds at most the bound plus one pass, takes only the input
// it needs, and a stream that compresses 1000:1 comes out whole in slices, also when the last
// bytes wait inside zlib with no input left.
void TstCompression::BoundedWritesGiveTheSameBytesInSlices()
{
    const QByteArray plain = QByteArray(8 * 1024 * 1024, '\0') + RandomBytes(300000, 7) + QByteArray(100000, 'z');
    TZLibCompressor compressor;
    compressor.Write(plain);
    compressor.Flush();
    const QByteArray compressed = compressor.Output;

    constexpr qsizetype Bound = 256 * 1024;
    TZLibDecompressor inflater;
    QByteArray out;
    qsizetype taken = 0;
    int calls = 0;
    while (taken < compressed.size() || inflater.HasMoreOutput()) {
        const qsizetype step = qMin<qsizetype>(compressed.size() - taken, 3000);
        const qsizetype used = inflater.WriteSome(compressed.constData() + taken, step, Bound);
        QVERIFY(used >= 0 && used <= step);
        QVERIFY2(inflater.Output.size() <= Bound + 4096, qPrintable(QString::number(inflater.Output.size())));
        taken += used;
        out += inflater.Output;
        inflater.Output.clear();
        QVERIFY(++calls < 100000);
    }
    QCOMPARE(out.size(), plain.size());
    QVERIFY(out == plain);
    QVERIFY(calls >= plain.size() / (Bound + 4096));
    QVERIFY(!inflater.HasFailed());

    // A failure inside a bounded call is raised once; the rest of the input is then taken
    // and dropped.
    TZLibDecompressor broken;
    const QByteArray garbage = "not zlib at all, not at all";
    QVERIFY_THROWS_EXCEPTION(EZDecompressionError, broken.WriteSome(garbage.constData(), garbage.size(), Bound));
    QVERIFY(broken.HasFailed());
    QCOMPARE(broken.WriteSome(garbage.constData(), garbage.size(), Bound), garbage.size());
}

QTEST_GUILESS_MAIN(TstCompression)
#include "tst_compression.moc"
