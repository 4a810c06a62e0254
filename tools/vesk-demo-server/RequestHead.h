#pragma once
// The head of one HTTP request of the tunnel (request line and Content-Length), read from the
// front of a buffer. Knows nothing of sockets, so it can be fed any bytes.

#include <QByteArray>

struct THttpRequestHead {
    QByteArray Method;
    QByteArray Path;   // without the query; the absolute form a proxy sends is reduced to it
    QByteArray Query;  // after '?', empty when there is none
    // -1: no Content-Length; -2: one that is not a whole number of zero or more.
    qint64 ContentLength = -1;
};

enum class THeadResult { Incomplete, TooLarge, Bad, Complete };

// Reads a head from the front of buffer. On Complete the head and its blank line are removed
// from buffer, so what is left is the start of the body. TooLarge: no blank line within
// maxBytes. Bad: no method, target and version.
THeadResult ReadRequestHead(QByteArray& buffer, qsizetype maxBytes, THttpRequestHead& head);
