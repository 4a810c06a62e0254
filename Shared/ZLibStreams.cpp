#include "Shared/ZLibStreams.h"

#include <utility>
#include <zlib.h>

namespace {
// zlib's standard text for a return code. Our own table, so a report always carries the
// short standard text and never the detailed message zlib leaves on the stream.
QString ZLibText(int code)
{
    switch (code) {
    case Z_NEED_DICT: return QStringLiteral("need dictionary");
    case Z_STREAM_END: return QStringLiteral("stream end");
    case Z_OK: return QString();
    case Z_ERRNO: return QStringLiteral("file error");
    case Z_STREAM_ERROR: return QStringLiteral("stream error");
    case Z_DATA_ERROR: return QStringLiteral("data error");
    case Z_MEM_ERROR: return QStringLiteral("insufficient memory");
    case Z_BUF_ERROR: return QStringLiteral("buffer error");
    case Z_VERSION_ERROR: return QStringLiteral("incompatible version");
    default: return QString();
    }
}

// The compressor's passes: a message sent is small, and its output is handed on whole.
constexpr qsizetype DeflatePass = 4096;
// The inflater's passes are large because each call of inflate copies what it made into its
// own 32 KiB window: at 4 KiB a pass, every byte received was copied once more, and the
// calls' set-up and slow tails cost the client a tenth of its CPU in a blast.
constexpr qsizetype InflatePass = 128 * 1024;
// A pass has room for this many bytes out per byte of input left (what text compresses to,
// and more), and shrinks near a limit to what is left; never below SmallestPass.
constexpr qsizetype RoomPerInputByte = 8;
constexpr qsizetype SmallestPass = 4096;

// Runs one input through a stream in passes of at most passSize bytes, each pass writing
// straight into the spare room at the end of output (grown geometrically, so a long burst
// costs no quadratic copying). With a limit, stops after the pass that brings the bytes
// produced in this call to maxOutput or more; what zlib still holds, and the input not
// taken, wait for the next call.
// Returns the zlib code that stopped it, Z_OK when all went well.
// previousFilled says that the last pass of the previous call filled its buffer (zlib may
// have more to give without new input) and is updated for the next call.
template <typename Step>
int RunPasses(z_stream& stream, const char* input, qsizetype inputSize, QByteArray& output, Step step,
              bool& previousFilled, qsizetype passSize, qsizetype maxOutput = -1)
{
    if (inputSize <= 0 && !previousFilled)
        return Z_OK;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(input));
    stream.avail_in = uInt(qMax<qsizetype>(inputSize, 0));
    qsizetype producedHere = 0;
    while (stream.avail_in > 0 || previousFilled) {
        if (maxOutput >= 0 && producedHere >= maxOutput)
            return Z_OK;
        // Room in proportion to the input left, so that a trickle of small pieces keeps small
        // buffers; and no more than the limit leaves.
        qsizetype pass = qBound(SmallestPass, RoomPerInputByte * qsizetype(stream.avail_in), passSize);
        if (maxOutput >= 0)
            pass = qBound(SmallestPass, maxOutput - producedHere, pass);
        const qsizetype start = output.size();
        if (output.capacity() < start + pass)
            output.reserve(qMax<qsizetype>(2 * output.capacity(), start + pass));
        output.resize(start + pass);
        stream.next_out = reinterpret_cast<Bytef*>(output.data() + start);
        stream.avail_out = uInt(pass);
        const uInt inputBefore = stream.avail_in;
        const bool onlyForRoom = previousFilled && inputBefore == 0;
        const int result = step(stream);
        const qsizetype produced = pass - qsizetype(stream.avail_out);
        producedHere += produced;
        // Bytes made before any error stay in the output.
        output.resize(start + produced);
        if (result == Z_BUF_ERROR && onlyForRoom) {
            // The previous pass happened to fill its buffer exactly and nothing was left:
            // no failure. Should zlib have left its "buffer error" mark on the stream, it
            // goes, so that it can never be taken for a real error later.
            stream.msg = nullptr;
            previousFilled = false;
            return Z_OK;
        }
        if (result < 0 || result == Z_NEED_DICT || result == Z_STREAM_END) {
            previousFilled = false;
            return result;
        }
        previousFilled = stream.avail_out == 0;
        // No input taken and no room used: another pass would spin for ever.
        if (!previousFilled && produced == 0 && stream.avail_in == inputBefore)
            break;
    }
    return Z_OK;
}
} // namespace

// ---- TZLibCompressor ----

struct TZLibCompressor::TState {
    z_stream Stream{};
    bool Initialised = false;
    bool Failed = false;
    ~TState()
    {
        if (Initialised)
            deflateEnd(&Stream);
    }
};

TZLibCompressor::TZLibCompressor(TZCompressionLevel level) : State(std::make_unique<TState>())
{
    int zlevel = Z_DEFAULT_COMPRESSION;
    switch (level) {
    case TZCompressionLevel::None: zlevel = 0; break;
    case TZCompressionLevel::Fastest: zlevel = 1; break;
    case TZCompressionLevel::Default: zlevel = Z_DEFAULT_COMPRESSION; break;
    case TZCompressionLevel::Maximum: zlevel = 9; break;
    }
    const int result = deflateInit2(&State->Stream, zlevel, Z_DEFLATED, MAX_WBITS, 8, Z_DEFAULT_STRATEGY);
    if (result < 0)
        throw EZCompressionError(ZLibText(result));
    State->Initialised = true;
}

TZLibCompressor::~TZLibCompressor() = default;

namespace {
void Deflate(z_stream& stream, bool& failed, const QByteArray& input, QByteArray& output, int flush)
{
    // A stream that failed once stays silent: whatever follows could not be decoded anyway.
    if (failed)
        return;
    bool previousFilled = false;
    const int result = RunPasses(stream, input.constData(), input.size(), output,
                                 [flush](z_stream& s) { return deflate(&s, flush); }, previousFilled, DeflatePass);
    stream.next_in = nullptr;
    stream.avail_in = 0;
    if (result != Z_OK) {
        failed = true;
        throw EZCompressionError(ZLibText(result));
    }
}
} // namespace

void TZLibCompressor::Write(const QByteArray& data)
{
    if (data.isEmpty())
        return;
    // The newest piece waits, so that Flush always hands deflate real input with the sync
    // flush and a burst ends on a flush boundary in the call that carries its last bytes.
    if (!HeldChunk.isEmpty()) {
        const QByteArray chunk = std::exchange(HeldChunk, data);
        Deflate(State->Stream, State->Failed, chunk, Output, Z_NO_FLUSH);
    } else {
        HeldChunk = data;
    }
}

void TZLibCompressor::Flush()
{
    if (HeldChunk.isEmpty())
        return;
    const QByteArray chunk = std::exchange(HeldChunk, QByteArray());
    Deflate(State->Stream, State->Failed, chunk, Output, Z_SYNC_FLUSH);
}

// ---- TZLibDecompressor ----

struct TZLibDecompressor::TState {
    z_stream Stream{};
    bool Initialised = false;
    bool Failed = false;
    bool MoreOutput = false; // the last pass filled its buffer: zlib may hold more output
    ~TState()
    {
        if (Initialised)
            inflateEnd(&Stream);
    }
};

TZLibDecompressor::TZLibDecompressor() : State(std::make_unique<TState>())
{
    const int result = inflateInit2(&State->Stream, MAX_WBITS);
    if (result < 0)
        throw EZDecompressionError(ZLibText(result));
    State->Initialised = true;
    // The stream never ends, so its check value is never compared with anything; computing
    // it over every byte received was a tenth of the inflate's cost.
    inflateValidate(&State->Stream, 0);
}

TZLibDecompressor::~TZLibDecompressor() = default;

void TZLibDecompressor::Write(const QByteArray& data)
{
    if (State->Failed || data.isEmpty())
        return;
    WriteSome(data.constData(), data.size(), -1);
}

qsizetype TZLibDecompressor::WriteSome(const char* data, qsizetype size, qsizetype maxOutput)
{
    if (State->Failed || (size <= 0 && !State->MoreOutput))
        return size > 0 ? size : 0;
    z_stream& stream = State->Stream;
    const int result = RunPasses(stream, data, size, Output, [](z_stream& s) { return inflate(&s, Z_SYNC_FLUSH); },
                                 State->MoreOutput, InflatePass, maxOutput);
    const qsizetype taken = qMax<qsizetype>(size, 0) - qsizetype(stream.avail_in);
    const bool inputLeft = stream.avail_in > 0;
    stream.next_in = nullptr;
    stream.avail_in = 0;
    if (result == Z_OK)
        return taken;
    // The peer finished its stream with the last byte given: legal, if unusual. Anything
    // sent after that is found on the next Write (inflate then stops at once with input left).
    if (result == Z_STREAM_END && !inputLeft)
        return taken;
    // A preset dictionary we cannot supply, bytes after the end of the stream, or corrupt
    // data: the rest of this stream cannot be read. Report once, then stay silent.
    State->Failed = true;
    throw EZDecompressionError(ZLibText(result));
}

bool TZLibDecompressor::HasMoreOutput() const
{
    return State->MoreOutput && !State->Failed;
}

bool TZLibDecompressor::HasFailed() const
{
    return State->Failed;
}
