// vesk-bench-e2e: the client's whole receive path, measured end to end in this process.
//
// Starts build/vesk-demo-server in blast mode, logs in with the real TMainConnection over a
// real socket to 127.0.0.1 (real zlib), and feeds eight shown alert windows, one of each
// display kind, under the offscreen platform. Prints:
//   - client CPU per alert and alerts per second over a 200,000-alert blast, as fast as we
//     take them; paints per window per second (the busiest window's rate against the display
//     frame limit, the mean, and the shortest time between two paints of one window);
//     lateness of the main connection's 500 ms tick;
//   - raw zlib inflate plus frame cutting of the very bytes received, and the ratio;
//   - heap allocations per alert (an operator new replacement counts them): over the blast,
//     and per single-row alert through the receive path without painting;
//   - p50 / p99 latency at 10,000 alerts/s: the server's send stamp to the end of the first
//     paint of the alert's grid after the alert reached it; with the busiest window's paint
//     rate; the same at 2,000 alerts/s, where the loop could paint after every alert;
//   - resident memory with eight full windows and a 100,000-row Rook.
// Arguments: [alerts in the blast] [blast: the blast only] [hidden: windows never shown, so the
// blast measures the receive path without painting].
// Every phase has a time limit, so the program always ends by itself.

#include "bench/AllocationCount.h"
#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Shared/GenericServerConnection.h"
#include "Shared/SocketServerConnections.h"
#include "Shared/TalkWithServer.h"

#include <QAbstractScrollArea>
#include <QApplication>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QFile>
#include <QProcess>
#include <QTimer>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <new>
#include <sys/resource.h>
#include <vector>
#include <zlib.h>

namespace {

double ProcessCpuSeconds()
{
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

double PeakRssMb()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

double CurrentRssMb()
{
    QFile f(QStringLiteral("/proc/self/statm"));
    if (!f.open(QIODevice::ReadOnly))
        return -1;
    const QList<QByteArray> parts = f.readAll().split(' ');
    return parts.size() > 1 ? parts[1].toDouble() * 4096 / (1024.0 * 1024.0) : -1;
}

qint64 ThreadCpuNs()
{
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return qint64(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

qint64 NowUs()
{
    return std::chrono::duration_cast<std::chrono::microseconds>(std::chrono::system_clock::now().time_since_epoch())
        .count();
}

// Category (the demo server's kind name) and display value of each window.
const std::pair<const char*, const char*> Kinds[] = {
    {"quickstrike", ""},        {"bollinger", "set"},          {"symbols", "symbol"},
    {"points", "pointslist"},   {"simple", "simplelist"},      {"rook", "rook-simplelist"},
    {"tamber", "tamber-simplelist"}, {"wex", "wex"},
};
constexpr int WindowCount = 8;
// "hidden" on the command line: the windows take every alert but are never shown, so nothing
// paints; the blast's CPU is then the receive path alone.
bool ShowWindows = true;

int WindowOf(const QByteArray& body)
{
    const qsizetype end = body.indexOf('\r');
    const QByteArrayView category(body.constData(), end < 0 ? body.size() : end);
    for (int i = 0; i < WindowCount; ++i)
        if (category == Kinds[i].first)
            return i;
    return -1;
}

qint64 StampOf(const QByteArray& body, const char* key)
{
    // This is the benchmark's own work, counted in the client's CPU, so it must cost next to
    // nothing: the stamps end the body, so the search runs back from the end and compares only
    // where the key's first byte is (a comparison at every position was 6 % of the samples).
    const qsizetype n = qsizetype(strlen(key));
    qsizetype at = body.size() - n;
    while (at >= 0 && (body[at] != key[0] || memcmp(body.constData() + at, key, size_t(n)) != 0))
        --at;
    if (at < 0)
        return -1;
    qint64 v = 0;
    for (qsizetype i = at + n; i < body.size() && body[i] >= '0' && body[i] <= '9'; ++i)
        v = v * 10 + (body[i] - '0');
    return v;
}

// The socket connection, keeping a copy of every compressed byte it hands over.
class TRecordingConnection : public TSocketServerConnection {
public:
    TRecordingConnection(const QByteArray& host, const QByteArray& port, QByteArray* record)
        : TSocketServerConnection(host, port), Record(record)
    {
    }
    QByteArray Receive() override
    {
        QByteArray bytes = TSocketServerConnection::Receive();
        if (Record && !bytes.isEmpty()) {
            Record->append(bytes);
            ++Reads;
        }
        return bytes;
    }

    static inline long long Reads = 0; // pieces handed over (not empty)

private:
    QByteArray* Record;
};

// Hands over given bytes as if a server had sent them; never connects, as in the fuzz
// harnesses: the conversation takes bytes while it is starting.
class TFakeConnection : public TGenericServerConnection {
public:
    bool Connect() override { return true; }
    void Send(const QByteArray&) override {}
    void Close() override {}
    QByteArray Receive() override { return std::exchange(Waiting, QByteArray()); }
    void Deliver(const QByteArray& bytes)
    {
        Waiting += bytes;
        RaiseDataAvailable();
    }

private:
    QByteArray Waiting;
};

// Sees each grid's paint end: the paint is run from inside the filter, then timed.
class TPaintWatch : public QObject {
public:
    explicit TPaintWatch(int window, std::function<void(int, qint64, qint64)> painted)
        : Window(window), Painted(std::move(painted))
    {
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Paint || Inside)
            return false;
        // Sent once more from here, through the filters behind this one (the scroll area's
        // own, which paints the grid), so that the paint has ended when this returns.
        const qint64 startUs = NowUs();
        const qint64 cpuStart = ThreadCpuNs();
        Inside = true;
        QCoreApplication::sendEvent(watched, event);
        Inside = false;
        Painted(Window, startUs, ThreadCpuNs() - cpuStart);
        return true;
    }

private:
    int Window;
    std::function<void(int, qint64, qint64)> Painted; // the window, when its paint began, its CPU ns
    bool Inside = false;
};

struct TServer {
    QProcess Process;
    QByteArray Address;
    QByteArray Log;

    bool Start(const QStringList& arguments)
    {
        Process.setProcessChannelMode(QProcess::SeparateChannels);
        Process.start(QCoreApplication::applicationDirPath() + QStringLiteral("/vesk-demo-server"),
                      QStringList{QStringLiteral("--port"), QStringLiteral("0"), QStringLiteral("--seed"),
                                  QStringLiteral("7")} + arguments);
        if (!Process.waitForStarted(10000))
            return false;
        QElapsedTimer t;
        t.start();
        while (t.elapsed() < 10000) {
            Process.waitForReadyRead(100);
            Log += Process.readAllStandardOutput();
            const qsizetype at = Log.indexOf("listening on ");
            const qsizetype end = Log.indexOf('\n', at);
            if (at >= 0 && end > at) {
                Address = Log.mid(at + 13, end - at - 13).trimmed();
                return true;
            }
        }
        return false;
    }
    ~TServer()
    {
        Process.kill();
        Process.waitForFinished(3000);
    }
};

struct TClient {
    std::unique_ptr<TMainConnection> Connection;
    std::vector<std::unique_ptr<TAlertForm>> Windows;
    std::vector<std::unique_ptr<TPaintWatch>> Watches;
    std::vector<long long> Paints = std::vector<long long>(WindowCount, 0);
    // Per window: when its last paint began, and the shortest time between the beginnings of
    // two of its paints since the gaps were last reset (microseconds); the frame limit is
    // about when paints begin, a paint's own length varies.
    std::vector<qint64> LastPaintUs = std::vector<qint64>(WindowCount, -1);
    qint64 ShortestGapUs = -1;
    qint64 PaintCpuNs = 0; // CPU of the grids' paint events (the thread's, so the server's is not in it)
    // Per window: send stamps of alerts handed over and not yet painted.
    std::vector<std::vector<qint64>> Unpainted = std::vector<std::vector<qint64>>(WindowCount);
    std::vector<qint64> Latencies;
    bool MeasureLatency = false;
    qint64 LastSeq = -1;
    qint64 Received = 0;
    std::function<void(qint64 seq)> OnAlert;
    qint64 LastTickMs = -1;
    qint64 WorstTickLateMs = 0;
    QElapsedTimer Since;

    explicit TClient(const QByteArray& address)
    {
        Since.start();
        Connection = std::make_unique<TMainConnection>(address, nullptr);
        for (int i = 0; i < WindowCount; ++i) {
            auto w = std::make_unique<TAlertForm>(*Connection);
            w->LoadSettings(TConfigFile::FromText(QByteArray("[Alert Window 0]\nsubscription=") + Kinds[i].first
                                                  + "\ndisplay=" + Kinds[i].second + "\n"),
                            "Alert Window 0");
            w->resize(393, 480);
            if (ShowWindows)
                w->show();
            Connection->AddCategory(Kinds[i].first);
            auto watch = std::make_unique<TPaintWatch>(i, [this](int window, qint64 startUs, qint64 cpuNs) {
                Painted(window, startUs, cpuNs);
            });
            QWidget* grid = w->GetGrid();
            if (auto* area = qobject_cast<QAbstractScrollArea*>(grid))
                area->viewport()->installEventFilter(watch.get());
            else if (grid)
                grid->installEventFilter(watch.get());
            Watches.push_back(std::move(watch));
            Windows.push_back(std::move(w));
        }
        // After the windows: it sees each alert once the windows have taken it.
        Connection->AddAlertListener([this](const QByteArray& body) {
            ++Received;
            const qint64 seq = StampOf(body, "&blast_seq=");
            if (MeasureLatency) {
                const int w = WindowOf(body);
                const qint64 sent = StampOf(body, "&blast_sent=");
                if (w >= 0 && sent > 0)
                    Unpainted[size_t(w)].push_back(sent);
            }
            if (seq >= 0)
                LastSeq = seq;
            if (OnAlert)
                OnAlert(seq);
        });
        QObject::connect(Connection.get(), &TMainConnection::Ticked, [this] {
            const qint64 now = Since.elapsed();
            if (LastTickMs >= 0)
                WorstTickLateMs = std::max(WorstTickLateMs, now - LastTickMs - 500);
            LastTickMs = now;
        });
    }

    void Painted(int window, qint64 startUs, qint64 cpuNs)
    {
        ++Paints[size_t(window)];
        PaintCpuNs += cpuNs;
        qint64& last = LastPaintUs[size_t(window)];
        if (last >= 0 && (ShortestGapUs < 0 || startUs - last < ShortestGapUs))
            ShortestGapUs = startUs - last;
        last = startUs;
        const qint64 now = NowUs();
        if (!MeasureLatency)
            return;
        for (qint64 sent : Unpainted[size_t(window)])
            Latencies.push_back(now - sent);
        Unpainted[size_t(window)].clear();
    }

    void Login()
    {
        Connection->SetUserName("bench");
        Connection->SetPassword("bench");
    }

    // Runs the event loop until condition or the limit. The loop sleeps while nothing
    // happens (a loop that polls would spend the CPU being measured); a timer wakes it to
    // look at the limit.
    bool RunUntil(const std::function<bool()>& condition, int limitMs)
    {
        QElapsedTimer t;
        t.start();
        QTimer wake;
        wake.start(20);
        while (!condition()) {
            if (t.elapsed() > limitMs)
                return false;
            QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents);
        }
        return true;
    }
    void Settle(int ms)
    {
        QElapsedTimer t;
        t.start();
        RunUntil([&] { return t.elapsed() >= ms; }, ms + 1000);
    }
    long long TotalPaints() const
    {
        long long n = 0;
        for (long long p : Paints)
            n += p;
        return n;
    }
};

// Raw zlib inflate of the recorded stream into one reused 64 KiB buffer window, cutting
// frames as they complete: the least any client must do with these bytes.
double RawInflateAndCutSeconds(const QByteArray& compressed, qint64& frames)
{
    // The first bytes are the server's plain answer to nothing: the stream starts at once.
    z_stream s{};
    inflateInit(&s);
    inflateValidate(&s, 0); // as the client: a stream that never ends needs no check value
    std::vector<char> out(size_t(4) * 1024 * 1024);
    size_t have = 0;
    frames = 0;
    const double start = ProcessCpuSeconds();
    s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(compressed.constData()));
    s.avail_in = uInt(compressed.size());
    while (s.avail_in > 0) {
        s.next_out = reinterpret_cast<Bytef*>(out.data() + have);
        s.avail_out = uInt(out.size() - have);
        const int r = inflate(&s, Z_SYNC_FLUSH);
        have = out.size() - s.avail_out;
        size_t at = 0;
        while (have - at >= 8) {
            qint32 length;
            memcpy(&length, out.data() + at + 4, 4);
            if (length < 0 || have - at - 8 < size_t(length))
                break;
            ++frames;
            at += 8 + size_t(length);
        }
        memmove(out.data(), out.data() + at, have - at);
        have -= at;
        if (r != Z_OK && r != Z_BUF_ERROR)
            break;
    }
    const double seconds = ProcessCpuSeconds() - start;
    inflateEnd(&s);
    return seconds;
}

// A body as the server's blast makes them, for the no-painting allocation count.
QByteArray Frame(qint32 id, const QByteArray& body)
{
    QByteArray f(8, 0);
    qint32 n = qint32(body.size());
    memcpy(f.data(), &id, 4);
    memcpy(f.data() + 4, &n, 4);
    return f + body;
}

// A steady flow of total alerts at rate alerts/s from the server: the first second is the
// start-up, measured from then on. Prints the latency from the server's send stamp to the
// paint, and the busiest window's paint rate against the frame limit.
void MeasureSteadyFlow(TClient& client, int rate, qint64 total, const char* label)
{
    client.Settle(300);
    std::vector<long long> windowPaintsAtStart(WindowCount, 0);
    QElapsedTimer wall;
    client.OnAlert = [&](qint64 seq) {
        if (seq == rate) {
            client.MeasureLatency = true;
            client.WorstTickLateMs = 0;
            client.ShortestGapUs = -1;
            windowPaintsAtStart = client.Paints;
            wall.start();
        }
    };
    client.Login();
    client.RunUntil([&] { return client.LastSeq >= total - 1; }, 60000);
    client.OnAlert = {};
    double busiest = 0;
    const double seconds = wall.isValid() ? wall.nsecsElapsed() * 1e-9 : 0;
    for (int w = 0; w < WindowCount && seconds > 0; ++w)
        busiest = std::max(busiest, double(client.Paints[size_t(w)] - windowPaintsAtStart[size_t(w)]) / seconds);
    const double shortestGapMs = client.ShortestGapUs / 1000.0;
    client.Settle(100);
    std::vector<qint64>& l = client.Latencies;
    std::sort(l.begin(), l.end());
    const auto at = [&](double q) { return l.empty() ? -1.0 : l[size_t(q * double(l.size() - 1))] / 1000.0; };
    std::printf("steady %s alerts measured (%zu painted):\n", label, l.size());
    std::printf("  latency send -> painted   p50 %.1f ms   p99 %.1f ms   max %.1f ms\n", at(0.5), at(0.99), at(1.0));
    std::printf("  paints                    at most %.1f per window per second, frame limit 60   (shortest gap between paint beginnings %.2f ms)\n",
                busiest, shortestGapMs);
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext& context, const QString& text) {
        if (text.contains(QLatin1String("does not support raise()")))
            return;
        qt_message_output(type, context, text);
    });
    QApplication app(argc, argv);
    const qint64 blastCount = argc > 1 ? atoll(argv[1]) : 200000;
    for (int i = 2; i < argc; ++i)
        if (QByteArray(argv[i]) == "hidden")
            ShowWindows = false;

    QByteArray recorded;
    TTalkWithServer::SetConnectionFactory([&recorded](const QByteArray& address) {
        QByteArray host, port;
        SplitServerAddress(address, host, port);
        return std::unique_ptr<TGenericServerConnection>(new TRecordingConnection(host, port, &recorded));
    });

    // ---- 1. The blast, as fast as we take it ----
    // Three blasts; the figures of the one that cost least CPU per alert (the machine is
    // shared), the worst tick lateness of all three.
    double cpuPerAlertUs = 1e9, alertsPerSecond = 0, paintsPerWindowPerSecond = 0, allocsPerAlert = 0;
    double paintCpuPerAlertUs = 0, cpuPerPaintMs = 0;
    double busiestPaintsPerSecond = 0, shortestPaintGapMs = -1;
    std::vector<double> paintsPerSecondByWindow(WindowCount, 0);
    qint64 worstTickLate = 0;
    qint64 blastReceived = 0;
    for (int run = 0; run < 3; ++run) {
        // The recording is this benchmark's, not the client's: its room is made and touched
        // before the blast (about 40 compressed bytes an alert; room for 64), so that no
        // growth, copy or page fault of it is counted as the client's CPU or allocations.
        recorded.fill('\0', std::max<qsizetype>(recorded.capacity(), qsizetype(blastCount) * 64 + (1 << 20)));
        recorded.resize(0);
        TRecordingConnection::Reads = 0;
        TServer server;
        if (!server.Start({QStringLiteral("--blast"), QString::number(blastCount)})) {
            std::fprintf(stderr, "vesk-bench-e2e: cannot start vesk-demo-server\n");
            return 1;
        }
        TClient client(server.Address);
        client.Settle(300); // windows shown and painted once
        double cpuStart = 0;
        QElapsedTimer wall;
        long long paintsAtStart = 0, allocsAtQuarter = 0, allocsAtThreeQuarters = 0;
        std::vector<long long> windowPaintsAtStart(WindowCount, 0);
        client.OnAlert = [&](qint64 seq) {
            if (seq == 0) {
                cpuStart = ProcessCpuSeconds();
                wall.start();
                paintsAtStart = client.TotalPaints();
                client.PaintCpuNs = 0;
                windowPaintsAtStart = client.Paints;
                client.ShortestGapUs = -1;
                client.WorstTickLateMs = 0;
            } else if (seq == blastCount / 4) {
                allocsAtQuarter = AllocationCount();
            } else if (seq == 3 * blastCount / 4) {
                allocsAtThreeQuarters = AllocationCount();
            }
        };
        client.Login();
        const bool done = client.RunUntil([&] { return client.LastSeq >= blastCount - 1; }, 600000);
        // The last alerts' paints belong to the blast.
        QCoreApplication::processEvents();
        const double cpu = ProcessCpuSeconds() - cpuStart;
        const double seconds = wall.nsecsElapsed() * 1e-9;
        worstTickLate = std::max(worstTickLate, client.WorstTickLateMs);
        if (cpu * 1e6 / double(blastCount) < cpuPerAlertUs) {
            blastReceived = client.Received;
            cpuPerAlertUs = cpu * 1e6 / double(blastCount);
            alertsPerSecond = double(blastCount) / seconds;
            paintsPerWindowPerSecond = double(client.TotalPaints() - paintsAtStart) / WindowCount / seconds;
            paintCpuPerAlertUs = double(client.PaintCpuNs) / 1000.0 / double(blastCount);
            cpuPerPaintMs = double(client.PaintCpuNs) / 1e6 / double(std::max(1LL, client.TotalPaints() - paintsAtStart));
            for (int w = 0; w < WindowCount; ++w)
                paintsPerSecondByWindow[size_t(w)] =
                    double(client.Paints[size_t(w)] - windowPaintsAtStart[size_t(w)]) / seconds;
            busiestPaintsPerSecond = *std::max_element(paintsPerSecondByWindow.begin(), paintsPerSecondByWindow.end());
            shortestPaintGapMs = client.ShortestGapUs / 1000.0;
            allocsPerAlert = double(allocsAtThreeQuarters - allocsAtQuarter) / double(blastCount / 2);
        }
        if (!done)
            std::printf("blast NOT FINISHED within the limit: %lld of %lld alerts\n", client.LastSeq + 1, blastCount);
        client.Connection->Reset();
        client.Settle(50);
        server.Log += server.Process.readAllStandardOutput();
        const qsizetype at = server.Log.indexOf("BLAST ");
        if (at >= 0)
            std::printf("server: %s\n", server.Log.mid(at, server.Log.indexOf('\n', at) - at).constData());
    }
    TTalkWithServer::SetConnectionFactory({});
    qint64 rawFrames = 0;
    double raw = 1e9;
    for (int i = 0; i < 3; ++i)
        raw = std::min(raw, RawInflateAndCutSeconds(recorded, rawFrames));
    const double rawPerAlertUs = raw * 1e6 / double(std::max<qint64>(1, rawFrames));
    const qint64 recordedBytes = recorded.size();
    recorded = QByteArray();

    std::printf("blast of %lld alerts (98 %% single rows, 2 %% 20-row lists) into 8 %s windows, best of 3:\n", blastCount,
                ShowWindows ? "shown" : "hidden (nothing paints)");
    std::printf("  client CPU per alert           %.2f us   (%lld alerts handed over)\n", cpuPerAlertUs, blastReceived);
    std::printf("  raw inflate + cut per frame    %.3f us   (%lld frames, %.1f MB compressed)\n", rawPerAlertUs,
                rawFrames, recordedBytes / 1e6);
    std::printf("  ratio raw / client             %.3f\n", rawPerAlertUs / cpuPerAlertUs);
    std::printf("  socket pieces taken            %lld   (%.0f bytes each on average)\n", TRecordingConnection::Reads,
                double(recordedBytes) / double(std::max(1LL, TRecordingConnection::Reads)));
    std::printf("  alerts per second              %.0f\n", alertsPerSecond);
    std::printf("  of the CPU per alert, painting %.2f us   (the grids' paint events, %.2f ms per paint)\n",
                paintCpuPerAlertUs, cpuPerPaintMs);
    std::printf("  paints per window per second   at most %.1f per window per second, frame limit 60   (mean %.1f)\n",
                busiestPaintsPerSecond, paintsPerWindowPerSecond);
    std::printf("    by window:");
    for (int w = 0; w < WindowCount; ++w)
        std::printf(" %s %.1f", Kinds[w].first, paintsPerSecondByWindow[size_t(w)]);
    std::printf("\n    shortest time between the beginnings of two paints of one window   %.2f ms\n", shortestPaintGapMs);
    std::printf("  500 ms tick, worst lateness    %lld ms   (of the three)\n", worstTickLate);
    std::printf("  heap allocations per alert     %.2f   (middle half of the blast, painting and lists included)\n",
                allocsPerAlert);
    std::fflush(stdout);

    // "blast": the first phase only (for profiling it). The later phases wait for paints.
    if ((argc > 2 && QByteArray(argv[2]) == "blast") || !ShowWindows)
        return 0;

    // ---- 2. Latency at a steady 10,000 alerts/s ----
    {
        TServer server;
        if (!server.Start({QStringLiteral("--blast"), QStringLiteral("50000"), QStringLiteral("--blast-rate"),
                           QStringLiteral("10000")})) {
            std::fprintf(stderr, "vesk-bench-e2e: cannot start vesk-demo-server\n");
            return 1;
        }
        TClient client(server.Address);
        MeasureSteadyFlow(client, 10000, 50000, "10,000 alerts/s, 40,000");
        std::printf("  500 ms tick, worst lateness    %lld ms\n", client.WorstTickLateMs);

        // ---- 3. Memory: the windows are full; the Rook list grows to 100,000 rows ----
        client.Connection->Reset();
        client.Settle(50);
        for (int i = 0; i < 100000; ++i)
            client.Connection->ListenResponse(true,
                                              "rook\r\ntime=09:31&symbol=R" + QByteArray::number(i % 5000)
                                                  + "&change=0.31&bb=1.2&volume=" + QByteArray::number(1000 + i)
                                                  + "&count=3&rank=0.5&rv=2.1",
                                              {});
        client.Settle(200);
        std::printf("memory: eight full windows and a 100,000-row Rook: RSS %.1f MB now, peak %.1f MB\n",
                    CurrentRssMb(), PeakRssMb());
        std::fflush(stdout);
    }

    // ---- 3b. A lighter steady flow, where the loop has time to paint after every alert ----
    // At 2,000 alerts/s each single-row window gets an alert every few milliseconds: without
    // a frame limit every one of them would be painted; this shows the limit and its latency.
    {
        TServer server;
        if (!server.Start({QStringLiteral("--blast"), QStringLiteral("12000"), QStringLiteral("--blast-rate"),
                           QStringLiteral("2000")})) {
            std::fprintf(stderr, "vesk-bench-e2e: cannot start vesk-demo-server\n");
            return 1;
        }
        TClient client(server.Address);
        MeasureSteadyFlow(client, 2000, 12000, "2,000 alerts/s, 10,000");
        std::fflush(stdout);
    }

    // ---- 4. Allocations per single-row alert through the receive path, no painting ----
    {
        TFakeConnection* fake = nullptr;
        TTalkWithServer::SetConnectionFactory([&fake](const QByteArray&) {
            auto connection = std::make_unique<TFakeConnection>();
            fake = connection.get();
            return std::unique_ptr<TGenericServerConnection>(std::move(connection));
        });
        TMainConnection connection(QByteArray("127.0.0.1:1"), nullptr);
        connection.GetTimer()->stop();
        std::vector<std::unique_ptr<TAlertForm>> windows;
        for (int i = 0; i < WindowCount; ++i) {
            auto w = std::make_unique<TAlertForm>(connection);
            w->LoadSettings(TConfigFile::FromText(QByteArray("[Alert Window 0]\nsubscription=") + Kinds[i].first
                                                  + "\ndisplay=" + Kinds[i].second + "\n"),
                            "Alert Window 0");
            connection.AddCategory(Kinds[i].first);
            windows.push_back(std::move(w));
        }
        connection.SetUserName("bench");
        connection.SetPassword("bench");
        QCoreApplication::processEvents();
        TTalkWithServer::SetConnectionFactory({});
        // Single rows of the six single-row kinds as the blast sends them, on the listen id
        // (8), deflated with a sync flush every 200 frames as the server does.
        const char* rows[] = {
            "quickstrike\r\nsymbol=ABRX&last=12.50&prev_close=12.00&time=09%3A31%3A07&sma_divergence=1.25&change=0.50&volume=123456&vol_rate=1.5",
            "bollinger\r\naction=add&symbol=ACLO&last=25.10&prev_close=24.00&dist_from_bb=1.25&time=09%3A31%3A07",
            "symbols\r\nsymbol=ADVN&last=3.50&prev_close=3.40&time=09%3A31%3A07&sma_divergence=-0.25&change=0.10&volume=9999&vol_rate=0.5",
            "simple\r\nsymbol=AGRN&last=45.10&change=-0.20",
            "rook\r\ntime=09%3A31&symbol=ALTM&change=0.31&bb=1.2&volume=1000&count=3&rank=0.5&rv=2.1",
            "tamber\r\ntime=09%3A31&symbol=AMBR&last=10.00&prev_close=8.00&volume=5000&count=2",
        };
        z_stream z{};
        deflateInit(&z, Z_DEFAULT_COMPRESSION);
        const auto deflateAll = [&z](const QByteArray& plain) {
            QByteArray out(int(deflateBound(&z, uLong(plain.size()))) + 64, 0);
            z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
            z.avail_in = uInt(plain.size());
            z.next_out = reinterpret_cast<Bytef*>(out.data());
            z.avail_out = uInt(out.size());
            deflate(&z, Z_SYNC_FLUSH);
            out.truncate(out.size() - qsizetype(z.avail_out));
            return out;
        };
        // kind < 0: the six in turn; otherwise that one only.
        const auto block = [&](int from, int to, int kind) {
            QByteArray plain;
            for (int i = from; i < to; ++i)
                plain += Frame(8, QByteArray(rows[kind < 0 ? i % 6 : kind]) + "&blast_seq=" + QByteArray::number(i)
                                      + "&blast_sent=1765000000000000");
            return deflateAll(plain);
        };
        const auto count = [&](int kind) {
            std::vector<QByteArray> blocks;
            for (int i = 0; i < 12000; i += 200)
                blocks.push_back(block(i, i + 200, kind));
            long long before = 0;
            for (size_t b = 0; b < blocks.size() && fake; ++b) {
                if (b == blocks.size() / 2) // the first half fills the capped lists and warms up
                    before = AllocationCount();
                fake->Deliver(blocks[b]);
                QCoreApplication::processEvents();
            }
            return double(AllocationCount() - before) / 6000.0;
        };
        const double mixed = count(-1);
        std::printf("heap allocations per single-row alert (6,000 alerts, inflate, cut, 8 windows; no painting): %.3f\n",
                    mixed);
        std::printf("  by kind:");
        for (int kind = 0; kind < 6; ++kind)
            std::printf(" %.*s %.3f", int(strchr(rows[kind], '\r') - rows[kind]), rows[kind], count(kind));
        std::printf("\n");
        deflateEnd(&z);
        windows.clear();
    }
    std::printf("peak RSS %.1f MB\n", PeakRssMb());
    return 0;
}
