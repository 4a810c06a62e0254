#pragma once
// One continuous zlib stream per direction per conversation. Never finished: no final block
// or trailer is written, and the inflater never expects one.

#include "Platform/VeskError.h"

#include <QByteArray>
#include <memory>

VESK_DECLARE_ERROR(EZLibError, EVeskError);
VESK_DECLARE_ERROR(EZCompressionError, EZLibError);
VESK_DECLARE_ERROR(EZDecompressionError, EZLibError);

enum class TZCompressionLevel { None = 0, Fastest = 1, Default = 2, Maximum = 3 };

class TZLibCompressor {
public:
    explicit TZLibCompressor(TZCompressionLevel level = TZCompressionLevel::Default);
    ~TZLibCompressor();
    TZLibCompressor(const TZLibCompressor&) = delete;
    TZLibCompressor& operator=(const TZLibCompressor&) = delete;

    // Holds the newest piece back, so every Flush hands deflate real input with the flush.
    void Write(const QByteArray& data);
    // Sync flush: everything written so far becomes decodable by the peer.
    void Flush();

    // Compressed bytes not yet taken; the owner reads and clears it.
    QByteArray Output;

private:
    struct TState;
    std::unique_ptr<TState> State;
    QByteArray HeldChunk;
};

class TZLibDecompressor {
public:
    TZLibDecompressor();
    ~TZLibDecompressor();
    TZLibDecompressor(const TZLibDecompressor&) = delete;
    TZLibDecompressor& operator=(const TZLibDecompressor&) = delete;

    // Inflates with a sync flush, appending to Output. Raises EZDecompressionError with zlib's
    // standard text ("data error", ...) on bad input; after that all input is ignored.
    void Write(const QByteArray& data);
    // The same, bounded: inflates from data until at least maxOutput bytes (at most one
    // 4096-byte pass more) have been added to Output, or until the input is taken and zlib
    // has nothing more to give. Returns the number of input bytes taken; the rest is for the
    // next call. maxOutput < 0: no bound. Size 0 lets zlib give what it still holds.
    qsizetype WriteSome(const char* data, qsizetype size, qsizetype maxOutput);
    // The last call stopped at its bound with a full pass: zlib may have more output even
    // without new input (call WriteSome again, with or without input).
    bool HasMoreOutput() const;
    bool HasFailed() const;

    // Inflated bytes not yet consumed; the owner removes what it consumed from the front.
    QByteArray Output;

private:
    struct TState;
    std::unique_ptr<TState> State;
};
