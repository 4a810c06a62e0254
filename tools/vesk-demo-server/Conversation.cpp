#include "Conversation.h"

#include "ServerLog.h"

#include <QRandomGenerator>
#include <QTime>
#include <chrono>
#include <cmath>

namespace {

// The plain-text lines every connection opens with, before anything is compressed.
const QByteArray OpeningLine1 = "command=set_output&mode=zlib";
const QByteArray OpeningLine2 = "command=set_input&mode=zlib";
constexpr qsizetype MaxOpeningBytes = 4096;
// A blast up to this long is made and compressed before it is sent (about 40 bytes each).
constexpr qint64 MaxPrebuiltBlast = 2'000'000;

quint64 SeedFor(const TServerOptions& options)
{
    return options.Seed ? *options.Seed : QRandomGenerator::global()->generate64();
}

QByteArray RequestLogLine(int conn, const TRequest& request)
{
    QByteArray line = "REQ {\"conn\":" + QByteArray::number(conn) + ",\"id\":";
    line += request.Id ? QByteArray::number(*request.Id) : QByteArray("null");
    line += ",\"pairs\":[";
    for (qsizetype i = 0; i < request.Pairs.size(); ++i) {
        if (i > 0)
            line += ',';
        line += '[' + JsonString(request.Pairs[i].first) + ',' +
                JsonString(request.Pairs[i].second) + ']';
    }
    line += "]}";
    return line;
}

}  // namespace

TConversation::TConversation(int conn, const TServerOptions& options,
                             std::function<void(const QByteArray&)> write,
                             std::function<void()> close, std::function<qint64()> backlog,
                             QObject* parent)
    : QObject(parent), ConnNumber(conn), Options(options), Write(std::move(write)),
      CloseTransport(std::move(close)), Backlog(std::move(backlog)), Market(SeedFor(options))
{
    BurstTimer.setInterval(1);
    connect(&BurstTimer, &QTimer::timeout, this, &TConversation::PumpBurst);
    BlastTimer.setInterval(1);
    BlastTimer.setTimerType(Qt::PreciseTimer);
    connect(&BlastTimer, &QTimer::timeout, this, &TConversation::PumpBlast);
    ZipBombTimer.setInterval(1);
    connect(&ZipBombTimer, &QTimer::timeout, this, &TConversation::PumpZipBomb);
    CloseTimer.setSingleShot(true);
    connect(&CloseTimer, &QTimer::timeout, this, [this] { Close("closing as asked (--close-after)"); });
    SingleRowTimer.setTimerType(Qt::PreciseTimer);
    connect(&SingleRowTimer, &QTimer::timeout, this, &TConversation::SingleRowTick);
    connect(&ListTimer, &QTimer::timeout, this, &TConversation::ListTick);
    connect(&ScriptTimer, &QTimer::timeout, this, &TConversation::ScriptTick);
}

TConversation::~TConversation() = default;

void TConversation::Detach()
{
    Closed = true;
    CloseTimer.stop();
    ZipBombTimer.stop();
    SingleRowTimer.stop();
    ListTimer.stop();
    ScriptTimer.stop();
    BurstTimer.stop();
    BurstLeft.clear();
    BlastTimer.stop();
}

void TConversation::Close(const QByteArray& why)
{
    if (Closed)
        return;
    if (!why.isEmpty())
        LogProblem("conn " + QByteArray::number(ConnNumber) + ": " + why);
    Detach();
    if (CloseTransport)
        CloseTransport();
}

void TConversation::Input(const QByteArray& bytes)
{
    if (Closed)
        return;
    QByteArray rest = bytes;
    if (!StreamStarted) {
        OpeningBuffer += bytes;
        rest.clear();
        ReadOpeningCommand();
        if (Closed || !StreamStarted)
            return;
        rest = OpeningBuffer;
        OpeningBuffer.clear();
        OpeningDone();
        if (Closed)
            return;
    }
    if (!rest.isEmpty()) {
        QByteArray& plain = Parser.Buffer();
        if (!Inflater.Inflate(rest, plain, 2 * MaxRequestBytes + 65536)) {
            Close("client stream cannot be inflated: " + Inflater.Error);
            return;
        }
    }
    for (;;) {
        TRequest request;
        const auto result = Parser.Next(request);
        if (result == TRequestParser::TResult::Incomplete)
            break;
        if (result == TRequestParser::TResult::Invalid) {
            Close("bad request: " + Parser.Error);
            return;
        }
        HandleRequest(request);
        if (Closed)
            return;
    }
    AfterBatch();
}

void TConversation::ReadOpeningCommand()
{
    while (OpeningLines < 2) {
        const qsizetype end = OpeningBuffer.indexOf('\n');
        if (end < 0) {
            if (OpeningBuffer.size() > MaxOpeningBytes)
                Close("no opening command");
            return;
        }
        QByteArray line = OpeningBuffer.left(end);
        if (line.endsWith('\r'))
            line.chop(1);
        OpeningBuffer.remove(0, end + 1);
        LogLine("OPEN {\"conn\":" + QByteArray::number(ConnNumber) + ",\"line\":" +
                JsonString(line) + "}");
        const QByteArray& expected = OpeningLines == 0 ? OpeningLine1 : OpeningLine2;
        if (line != expected) {
            Close("unexpected opening line " + JsonString(line.left(80)) +
                  " (this server only speaks \"" + expected + "\")");
            return;
        }
        ++OpeningLines;
    }
    StreamStarted = true;
}

void TConversation::OpeningDone()
{
    if (Options.CloseAfterMs >= 0)
        CloseTimer.start(Options.CloseAfterMs);
    if (Options.Garbage && Options.FaultsApplyTo(ConnNumber)) {
        // Not a zlib header, so the client's very first inflate fails.
        Write("this is not a zlib stream \xff\xfe\xfd\xfc\r\n");
        Silent = true;
    }
}

void TConversation::HandleRequest(const TRequest& request)
{
    LogLine(RequestLogLine(ConnNumber, request));
    // A refused client gets nothing more; the connection closes after this batch.
    if (StopSent)
        return;
    const QByteArray command = request.Value("command");
    const bool hasId = request.Id && *request.Id > 0 && *request.Id <= 0x7fffffff;
    const qint32 id = hasId ? qint32(*request.Id) : 0;

    if (command == "login") {
        if (!hasId)
            return;
        if (Options.StopText) {
            QueueFrame(id, "STOP\r\n" + *Options.StopText);
            StopSent = true;
            return;
        }
        QueueFrame(id, "SESSION ID\r\nDS" + QByteArray::number(ConnNumber) + '-' +
                           QByteArray::number(QRandomGenerator::global()->generate64(), 16));
        if (Options.BadFrame != TBadFrame::None && !BadFrameDone && Options.FaultsApplyTo(ConnNumber))
            BadFramePending = true;
        if (Options.ZipBombMiB > 0 && ZipBombLeftMiB < 0)
            ZipBombLeftMiB = Options.ZipBombMiB;
    } else if (command == "ping") {
        if (!hasId || request.Value("response") != "1")
            return;
        ++PingsSeen;
        if (Options.PingRepliesLimit < 0 || PingsSeen <= Options.PingRepliesLimit)
            QueueFrame(id, QByteArray());
    } else if (command == "listen_for_alerts") {
        if (!hasId)
            return;
        const bool first = !ListenId;
        ListenId = id;
        if (first)
            StartAlerts();
    } else if (command == "add_alert_category") {
        const QByteArray category = request.Value("category");
        if (category.isEmpty() || Subscribed(category))
            return;
        Categories.append(category);
        if (BurstDone)
            SendBurst({category});
    }
}

void TConversation::AfterBatch()
{
    if (StopSent) {
        Flush();
        Close(QByteArray());
        return;
    }
    if (ListenId && !BurstDone) {
        BurstDone = true;
        SendBurst(Categories);
    }
    if (ListenId && Options.Blast > 0 && !BlastStarted && !Categories.isEmpty() && !Silent) {
        BlastStarted = true;
        BlastClock.start();
        // Without a rate (and within reason for memory) the whole blast is made first.
        if (Options.BlastRate <= 0 && Options.Blast <= MaxPrebuiltBlast) {
            Flush();
            PrebuildBlast();
        }
        PumpBlast();
    }
    if (ListenId && Options.HugeAlertMiB > 0 && !HugeAlertDone && !Categories.isEmpty())
        SendHugeAlert();
    if (BadFramePending && !BadFrameDone) {
        BadFrameDone = true;
        BadFramePending = false;
        // One good frame, then a frame whose length no receiver may trust, in one write.
        if (ListenId && !Categories.isEmpty())
            QueueAlert(Categories.front());
        else
            QueueFrame(0, "good frame");
        AppendLE32(OutPlain, ListenId.value_or(1));
        AppendLE32(OutPlain, Options.BadFrame == TBadFrame::Negative ? -5 : 0x7fffff00);
        OutPlain += QByteArray(16, 'x');
        Flush();
        Silent = true;
        SingleRowTimer.stop();
        ListTimer.stop();
        ScriptTimer.stop();
        BurstTimer.stop();
        return;
    }
    Flush();
    if (ZipBombLeftMiB > 0 && !ZipBombTimer.isActive())
        PumpZipBomb();
}

void TConversation::PumpZipBomb()
{
    // As fast as the client takes it, a few MiB of compressed bytes ahead at most.
    constexpr qint64 MaxAhead = 4 * 1024 * 1024;
    if (Closed || Silent || ZipBombLeftMiB <= 0) {
        ZipBombTimer.stop();
        return;
    }
    if (Backlog && Backlog() > MaxAhead) {
        ZipBombTimer.start();
        return;
    }
    if (!ZeroWindow) {
        // 32 KiB of empty frames through the real stream: the client's window is then all
        // zeros, and the prepared blocks decode there exactly as they do anywhere else.
        OutPlain += QByteArray(32768, '\0');
        Flush();
        ZeroWindow = true;
    }
    if (ZeroBlocks.isEmpty())
        ZeroBlocks = ZeroBlocksAfterZeroWindow(1024 * 1024);
    QByteArray chunk;
    for (int i = 0; i < 64 && ZipBombLeftMiB > 0; ++i, --ZipBombLeftMiB)
        chunk += ZeroBlocks;
    Write(chunk);
    if (ZipBombLeftMiB > 0)
        ZipBombTimer.start();
    else
        LogLine("ZIPBOMB {\"conn\":" + QByteArray::number(ConnNumber) + ",\"mib\":" +
                QByteArray::number(Options.ZipBombMiB) + "}");
}

void TConversation::SendHugeAlert()
{
    HugeAlertDone = true;
    const QByteArray& category = Categories.front();
    const qsizetype total = qsizetype(Options.HugeAlertMiB) * 1024 * 1024;
    const qsizetype symbolLength = std::min<qsizetype>(8 * 1024 * 1024, total / 5);
    QByteArray body = category + "\r\n" + Market.NextForm(Options.KindOf(category), QTime::currentTime());
    body += "&symbol=";
    body += QByteArray(symbolLength, 'S');
    const qsizetype rest = std::max<qsizetype>(0, total - body.size());
    const qsizetype fields = std::min<qsizetype>(200000, rest / 16);
    if (fields > 0) {
        const qsizetype each = rest / fields;  // "&f" + 6 digits + "=" + value
        const QByteArray value(std::max<qsizetype>(1, each - 9), 'v');
        body.reserve(total + 64);
        for (qsizetype i = 0; i < fields; ++i) {
            body += "&f";
            body += QByteArray::number(i).rightJustified(6, '0');
            body += '=';
            body += value;
        }
        if (body.size() < total)
            body += QByteArray(total - body.size(), 'v');
    }
    QueueFrame(*ListenId, body);
    LogLine("HUGEALERT {\"conn\":" + QByteArray::number(ConnNumber) + ",\"bytes\":" +
            QByteArray::number(body.size()) + "}");
}

void TConversation::QueueFrame(qint32 id, const QByteArray& body)
{
    if (Silent)
        return;
    AppendFrame(OutPlain, id, body);
}

void TConversation::QueueAlert(const QByteArray& category)
{
    if (!ListenId)
        return;
    const QByteArray form = Market.NextForm(Options.KindOf(category), QTime::currentTime());
    QueueFrame(*ListenId, category + "\r\n" + form);
}

void TConversation::Flush()
{
    if (Closed || OutPlain.isEmpty())
        return;
    QByteArray compressed = Deflater.CompressAndFlush(OutPlain);
    OutPlain.clear();
    ZeroWindow = false;
    // Behind blocks made ahead of time, in stream order.
    if (!Prebuilt.isEmpty())
        Prebuilt.enqueue(std::move(compressed));
    else
        Write(compressed);
}

void TConversation::StartAlerts()
{
    // A blast replaces the made-up alerts, so that what arrives is exactly the blast.
    if (Options.NoAlerts || Silent || Options.Blast > 0)
        return;
    if (!Options.Script.isEmpty()) {
        ScriptTimer.start(std::max(1, Options.ScriptIntervalMs));
        return;
    }
    if (Options.Rate > 0) {
        SingleRowTimer.start(std::max(5, int(1000 / Options.Rate)));
        SingleRowClock.start();
    }
    if (Options.ListIntervalMs > 0)
        ListTimer.start(Options.ListIntervalMs);
}

void TConversation::SendBurst(const QVector<QByteArray>& categories)
{
    if (Options.NoAlerts || !Options.Script.isEmpty() || Options.Burst <= 0 || Silent)
        return;
    for (const QByteArray& category : categories)
        BurstLeft.append({category, Options.Burst});
    PumpBurst();
}

void TConversation::PumpBurst()
{
    // As fast as the client takes it, but never more than a few MiB ahead of it, so a burst
    // of millions costs no more memory than one of thousands.
    constexpr qint64 MaxAhead = 4 * 1024 * 1024;
    while (!BurstLeft.isEmpty() && !Closed) {
        if (Backlog && Backlog() > MaxAhead) {
            BurstTimer.start();
            return;
        }
        auto& [category, left] = BurstLeft.front();
        for (int i = 0; i < 1000 && left > 0; ++i, --left)
            QueueAlert(category);
        if (left == 0)
            BurstLeft.removeFirst();
        Flush();
    }
    BurstTimer.stop();
}

void TConversation::SingleRowTick()
{
    // Counts from elapsed time, not from ticks, so a high rate is kept even though the
    // timer cannot fire more often than every few milliseconds; at most a second is caught up.
    const qint64 due = qint64(std::floor(SingleRowClock.elapsed() * Options.Rate / 1000.0));
    qint64 count = due - SingleRowTicksSent;
    const qint64 cap = std::max<qint64>(1, qint64(Options.Rate));
    if (count > cap) {
        SingleRowTicksSent = due - cap;
        count = cap;
    }
    for (; count > 0; --count) {
        ++SingleRowTicksSent;
        for (const QByteArray& category : Categories)
            if (!IsListKind(Options.KindOf(category)))
                QueueAlert(category);
    }
    Flush();
}

void TConversation::ListTick()
{
    for (const QByteArray& category : Categories)
        if (IsListKind(Options.KindOf(category)))
            QueueAlert(category);
    Flush();
}

void TConversation::ScriptTick()
{
    if (ScriptPosition >= Options.Script.size()) {
        if (Options.ScriptOnce) {
            ScriptTimer.stop();
            return;
        }
        ScriptPosition = 0;
    }
    const TScriptLine& line = Options.Script[ScriptPosition++];
    if (Options.ScriptUnfiltered || Subscribed(line.Category))
        QueueFrame(*ListenId, line.Category + "\r\n" + line.Form);
    Flush();
}

QByteArray TConversation::NextBlastCategory()
{
    // Every 50th alert is a top list (2 %), the others single rows; each group's categories
    // take turns, so every window of the mix gets its share. Without a category of one
    // group, the other takes its place.
    QVector<QByteArray> rows, lists;
    for (const QByteArray& category : Categories)
        (IsListKind(Options.KindOf(category)) ? lists : rows).append(category);
    const qint64 n = BlastQueued;
    if ((n % 50 == 49 && !lists.isEmpty()) || rows.isEmpty())
        return lists[qsizetype((n / 50) % lists.size())];
    return rows[qsizetype((n - n / 50) % rows.size())];
}

void TConversation::QueueBlastAlerts(qint64 end)
{
    const QTime now = QTime::currentTime();
    for (; BlastQueued < end; ++BlastQueued) {
        const QByteArray category = NextBlastCategory();
        const qint64 sentUs = std::chrono::duration_cast<std::chrono::microseconds>(
                                  std::chrono::system_clock::now().time_since_epoch())
                                  .count();
        QueueFrame(*ListenId, category + "\r\n" + Market.NextForm(Options.KindOf(category), now, 20) +
                                  "&blast_seq=" + QByteArray::number(BlastQueued) + "&blast_sent=" +
                                  QByteArray::number(sentUs));
    }
}

void TConversation::PrebuildBlast()
{
    // Made and compressed before the first byte goes out, so that the client, not this
    // server, sets the pace; blocks of 200 alerts, each ending on a sync flush.
    while (BlastQueued < Options.Blast) {
        QueueBlastAlerts(std::min(Options.Blast, BlastQueued + 200));
        Prebuilt.enqueue(Deflater.CompressAndFlush(OutPlain));
        OutPlain.clear();
    }
}

void TConversation::PumpBlast()
{
    constexpr qint64 MaxAhead = 4 * 1024 * 1024;
    if (Closed || Silent || !ListenId) {
        BlastTimer.stop();
        return;
    }
    if (!Prebuilt.isEmpty()) {
        while (!Prebuilt.isEmpty() && !(Backlog && Backlog() > MaxAhead))
            Write(Prebuilt.dequeue());
    } else {
        for (;;) {
            qint64 due = Options.Blast;
            if (Options.BlastRate > 0)
                due = std::min<qint64>(
                    due, qint64(std::floor(BlastClock.nsecsElapsed() * 1e-9 * Options.BlastRate)) + 1);
            if (BlastQueued >= due || (Backlog && Backlog() > MaxAhead))
                break;
            // A flush at least every 200 alerts, as a server writes whatever it has.
            QueueBlastAlerts(std::min(due, BlastQueued + 200));
            Flush();
        }
    }
    if (BlastQueued >= Options.Blast && Prebuilt.isEmpty()) {
        BlastTimer.stop();
        LogLine("BLAST {\"conn\":" + QByteArray::number(ConnNumber) + ",\"alerts\":" + QByteArray::number(BlastQueued) +
                ",\"ms\":" + QByteArray::number(BlastClock.elapsed()) + "}");
        return;
    }
    if (!BlastTimer.isActive())
        BlastTimer.start();
}
