#include "RequestHead.h"

#include <QList>

THeadResult ReadRequestHead(QByteArray& buffer, qsizetype maxBytes, THttpRequestHead& head)
{
    const qsizetype end = buffer.indexOf("\r\n\r\n");
    if (end < 0)
        return buffer.size() > maxBytes ? THeadResult::TooLarge : THeadResult::Incomplete;
    const QList<QByteArray> lines = buffer.left(end).split('\n');
    buffer.remove(0, end + 4);
    const QList<QByteArray> requestLine = lines.front().trimmed().split(' ');
    if (requestLine.size() < 3)
        return THeadResult::Bad;
    head.Method = requestLine[0];
    QByteArray target = requestLine[1];
    // A proxy sends the absolute form: http://host:port/path?query.
    if (target.startsWith("http://")) {
        const qsizetype slash = target.indexOf('/', 7);
        target = slash < 0 ? QByteArray("/") : target.mid(slash);
    }
    const qsizetype question = target.indexOf('?');
    head.Path = question < 0 ? target : target.left(question);
    head.Query = question < 0 ? QByteArray() : target.mid(question + 1);
    for (qsizetype i = 1; i < lines.size(); ++i) {
        const QByteArray line = lines[i].trimmed();
        const qsizetype colon = line.indexOf(':');
        if (colon > 0 && line.left(colon).trimmed().toLower() == "content-length") {
            bool ok = false;
            head.ContentLength = line.mid(colon + 1).trimmed().toLongLong(&ok);
            if (!ok || head.ContentLength < 0)
                head.ContentLength = -2;
        }
    }
    return THeadResult::Complete;
}
