#include "ZStreams.h"

#include <stdexcept>

namespace {
constexpr int PassSize = 16384;
}

TDeflater::TDeflater()
{
    if (deflateInit(&Stream, Z_DEFAULT_COMPRESSION) != Z_OK)
        throw std::runtime_error("deflateInit failed");
}

TDeflater::~TDeflater() { deflateEnd(&Stream); }

QByteArray TDeflater::CompressAndFlush(const QByteArray& data)
{
    QByteArray out;
    if (data.isEmpty())
        return out;
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    Stream.avail_in = static_cast<uInt>(data.size());
    do {
        const qsizetype old = out.size();
        out.resize(old + PassSize);
        Stream.next_out = reinterpret_cast<Bytef*>(out.data() + old);
        Stream.avail_out = PassSize;
        const int rc = deflate(&Stream, Z_SYNC_FLUSH);
        out.resize(old + PassSize - Stream.avail_out);
        if (rc != Z_OK && rc != Z_BUF_ERROR)
            throw std::runtime_error("deflate failed");
    } while (Stream.avail_out == 0 || Stream.avail_in > 0);
    return out;
}

QByteArray ZeroBlocksAfterZeroWindow(qsizetype bytes)
{
    z_stream stream{};
    if (deflateInit2(&stream, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) != Z_OK)
        throw std::runtime_error("deflateInit2 failed");
    const QByteArray window(32768, '\0');
    deflateSetDictionary(&stream, reinterpret_cast<const Bytef*>(window.constData()), uInt(window.size()));
    const QByteArray zeros(bytes, '\0');
    QByteArray out;
    stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(zeros.constData()));
    stream.avail_in = static_cast<uInt>(zeros.size());
    do {
        const qsizetype old = out.size();
        out.resize(old + PassSize);
        stream.next_out = reinterpret_cast<Bytef*>(out.data() + old);
        stream.avail_out = PassSize;
        const int rc = deflate(&stream, Z_SYNC_FLUSH);
        out.resize(old + PassSize - stream.avail_out);
        if (rc != Z_OK && rc != Z_BUF_ERROR) {
            deflateEnd(&stream);
            throw std::runtime_error("deflate failed");
        }
    } while (stream.avail_out == 0 || stream.avail_in > 0);
    deflateEnd(&stream);
    return out;
}

TInflater::TInflater()
{
    if (inflateInit(&Stream) != Z_OK)
        throw std::runtime_error("inflateInit failed");
}

TInflater::~TInflater() { inflateEnd(&Stream); }

bool TInflater::Inflate(const QByteArray& data, QByteArray& output, qsizetype limit)
{
    if (Failed())
        return false;
    if (data.isEmpty())
        return true;
    Stream.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.constData()));
    Stream.avail_in = static_cast<uInt>(data.size());
    for (;;) {
        const qsizetype old = output.size();
        output.resize(old + PassSize);
        Stream.next_out = reinterpret_cast<Bytef*>(output.data() + old);
        Stream.avail_out = PassSize;
        const int rc = inflate(&Stream, Z_SYNC_FLUSH);
        const bool filled = Stream.avail_out == 0;
        output.resize(old + PassSize - Stream.avail_out);
        if (output.size() > limit) {
            Error = "more data than the server accepts";
            return false;
        }
        if (rc == Z_STREAM_END) {
            // The client never finishes its stream; a finished one has nothing after it.
            if (Stream.avail_in > 0) {
                Error = "data after the end of the stream";
                return false;
            }
            return true;
        }
        if (rc == Z_BUF_ERROR) {
            if (Stream.avail_in == 0)
                return true;
            if (!filled) {
                Error = "buffer error";
                return false;
            }
            continue;
        }
        if (rc != Z_OK) {
            Error = zError(rc);
            return false;
        }
        if (Stream.avail_in == 0 && !filled)
            return true;
    }
}
