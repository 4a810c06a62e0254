#pragma once
// The server's ends of the two compressed streams of a conversation: one continuous zlib
// stream per direction, never finished. The server's own code, independent of the client's
// compression unit, so that each side checks the other.

#include <QByteArray>
#include <zlib.h>

class TDeflater {
public:
    TDeflater();
    ~TDeflater();
    TDeflater(const TDeflater&) = delete;
    TDeflater& operator=(const TDeflater&) = delete;

    // Compresses data and ends with a sync flush, so the peer can decode all of it now.
    // Returns the compressed bytes.
    QByteArray CompressAndFlush(const QByteArray& data);

private:
    z_stream Stream{};
};

// Raw deflate blocks, ending on a sync flush, that inflate to `bytes` zero bytes in a stream
// whose last 32 KiB of output were zeros, and leave it so. Sent repeatedly between two
// stretches of a real stream that has just sent 32 KiB of zeros, they keep both ends in step:
// a compression bomb that costs the sender nothing.
QByteArray ZeroBlocksAfterZeroWindow(qsizetype bytes);

class TInflater {
public:
    TInflater();
    ~TInflater();
    TInflater(const TInflater&) = delete;
    TInflater& operator=(const TInflater&) = delete;

    // Appends the inflated form of data to output. Returns false on a broken stream (with
    // zlib's text in Error), or when output would grow past limit (a compression bomb);
    // after that every call fails.
    bool Inflate(const QByteArray& data, QByteArray& output, qsizetype limit);
    bool Failed() const { return !Error.isEmpty(); }
    QByteArray Error;

private:
    z_stream Stream{};
};
