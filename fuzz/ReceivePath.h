#pragma once
// The client's receive path as the harnesses drive it: a real TMainConnection with its real
// TTalkWithServer, and one alert window of each of the eight display kinds listening on it,
// fed through a stand-in server connection that hands over the harness's bytes as received
// data. After each piece the event loop runs until it is idle, so work the conversation
// continues in later turns is done before the next piece arrives.
//
// The conversation is given the stand-in as its connection through the connection factory.

#include "FuzzCheck.h"
#include "Olvarra/AlertWindowUnit.h"
#include "Olvarra/BollingerGrid.h"
#include "Olvarra/ConfigFile.h"
#include "Olvarra/MainConnectionUnit.h"
#include "Olvarra/PointsTopListGrid.h"
#include "Olvarra/QuickStrikeGrid.h"
#include "Olvarra/RookGrid.h"
#include "Olvarra/SymbolOnlyGrid.h"
#include "Olvarra/TamberGrid.h"
#include "Olvarra/WexGridFull.h"
#include "Shared/GenericServerConnection.h"
#include "Shared/TalkWithServer.h"

#include <QAbstractEventDispatcher>
#include <QApplication>
#include <QImage>
#include <QPointer>
#include <QTimer>
#include <memory>
#include <vector>
#include <zlib.h>

// Message ids of the requests the main connection sends at login, in the order it sends
// them: each takes the free slot with the highest index, the first one after growing the
// slot table to 8.
constexpr qint32 LoginId = 1;
constexpr qint32 ListenId = 8;
constexpr qint32 LoginPingId = 7;

// Category and display value of each window.
inline const std::pair<const char*, const char*> FuzzWindowKinds[] = {
    {"QS", ""},          {"BB", "set"},  {"SYM", "symbol"},          {"PTS", "pointslist"},
    {"SL", "simplelist"}, {"ROOK", "rook-simplelist"}, {"TAM", "tamber-simplelist"}, {"WEX", "wex"},
};

class TFakeServerConnection : public TGenericServerConnection {
public:
    bool Connect() override { return true; }
    void Send(const QByteArray&) override {}
    void Close() override
    {
        if (Closed)
            return;
        Closed = true;
        // As a socket does: the end is told later, through the event loop.
        QMetaObject::invokeMethod(this, [this] { RaiseSessionClosed(); }, Qt::QueuedConnection);
    }
    QByteArray Receive() override
    {
        QByteArray result;
        result.swap(Waiting);
        return result;
    }
    void Deliver(const QByteArray& bytes)
    {
        if (Closed || bytes.isEmpty())
            return;
        Waiting += bytes;
        RaiseDataAvailable();
    }
    bool IsClosed() const { return Closed; }

private:
    QByteArray Waiting;
    bool Closed = false;
};

// Runs the event loop until nothing is left to do now (timers that are not due yet wait).
inline void PumpUntilIdle()
{
    QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance();
    for (int turn = 0; turn < 1000000; ++turn) {
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        if (!dispatcher->processEvents(QEventLoop::AllEvents)) {
            QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
            if (!dispatcher->processEvents(QEventLoop::AllEvents))
                return;
        }
    }
    FUZZ_CHECK(!"the event loop never became idle");
}

inline void EnsureApplication()
{
    // Made once and never destroyed: a QApplication torn down among the other statics at
    // exit takes the process with it.
    static QApplication* app = nullptr;
    if (app)
        return;
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The offscreen platform's complaints (it cannot raise windows) would drown the fuzzer's
    // own output; fatal messages still end the run.
    qInstallMessageHandler([](QtMsgType type, const QMessageLogContext&, const QString& text) {
        if (type == QtFatalMsg) {
            std::fprintf(stderr, "%s\n", qPrintable(text));
            std::abort();
        }
    });
    static int argc = 1;
    static char name[] = "vesk-fuzz";
    static char* argv[] = {name, nullptr};
    app = new QApplication(argc, argv);
}

// One conversation from login to the end of the input: made fresh for every input, so no
// input depends on what an earlier one left behind.
class TReceivePath {
public:
    // Without windows when only the conversation matters.
    explicit TReceivePath(bool withWindows = true) : Connection("127.0.0.1:1", nullptr)
    {
        Connection.GetTimer()->stop(); // ticks and pings would depend on the wall clock
        QByteArray ini;
        int n = 0;
        for (const auto& [category, display] : FuzzWindowKinds) {
            if (!withWindows)
                break;
            ini += "[Alert Window " + QByteArray::number(++n) + "]\nsubscription=" + category + "\ndisplay=" +
                   display + "\n";
        }
        const TConfigFile config = TConfigFile::FromText(ini);
        for (int i = 1; i <= n; ++i) {
            auto window = std::make_unique<TAlertForm>(Connection);
            window->LoadSettings(config, "Alert Window " + QByteArray::number(i));
            Connection.AddCategory(window->GetSubscription());
            window->resize(260, 140);
            Windows.push_back(std::move(window));
        }
        // The conversation's connection is the stand-in, which never connects: bytes arrive
        // while the conversation is still starting, as early data from a server would.
        TTalkWithServer::SetConnectionFactory([this](const QByteArray&) {
            auto fake = std::make_unique<TFakeServerConnection>();
            Fake = fake.get();
            return fake;
        });
        Connection.SetUserName("fuzz");
        Connection.SetPassword("secret");
        PumpUntilIdle();
        TTalkWithServer::SetConnectionFactory({});
        TTalkWithServer* talk = Connection.GetServer();
        FUZZ_CHECK(talk && Fake && talk->GetConnection() == Fake.data());
        FUZZ_CHECK(talk == Connection.GetServer() && talk->GetState() == TTalkWithServer::Starting);
    }

    // The windows go first (their listeners notice), then the stand-in, then the
    // conversation with its waiting callbacks. What they leave for later (sockets freed
    // through the event loop) goes with the caller's next PumpUntilIdle.
    ~TReceivePath() { Windows.clear(); }

    // Socket bytes, in pieces of the given size, the event loop idle after each; then every
    // window paints its rows. (The windows are not shown: a shown window costs more than
    // all the rest of an input, and painting into an image runs the same drawing code.)
    void Feed(const QByteArray& bytes, qsizetype step)
    {
        for (qsizetype at = 0; at < bytes.size() && Fake && !Fake->IsClosed(); at += step) {
            Fake->Deliver(bytes.mid(at, step));
            PumpUntilIdle();
        }
        PumpUntilIdle();
        static QImage image(260, 140, QImage::Format_RGB32);
        for (const auto& window : Windows)
            window->render(&image);
    }

    qsizetype RowsShown(int window) const
    {
        QWidget* grid = Windows[size_t(window)]->GetGrid();
        if (auto* g = dynamic_cast<TQuickStrikeGrid*>(grid))
            return g->GetEntries().size();
        if (auto* g = dynamic_cast<TBollingerGrid*>(grid))
            return g->GetEntries().size();
        if (auto* g = dynamic_cast<TSymbolOnlyGrid*>(grid))
            return g->GetEntries().size();
        if (auto* g = dynamic_cast<TPointsTopListGrid*>(grid))
            return g->GetEntries().size();
        if (auto* g = dynamic_cast<TRookGrid*>(grid))
            return g->GetEntries().size();
        if (auto* g = dynamic_cast<TTamberGrid*>(grid))
            return g->GetEntries().size();
        if (auto* g = dynamic_cast<TWexTopListFullGrid*>(grid))
            return qsizetype(g->GetDisplayedEntries().size());
        return -1;
    }
    int WindowCount() const { return int(Windows.size()); }

private:
    bool ApplicationReady = (EnsureApplication(), true); // before any Qt object below

public:
    TMainConnection Connection;
    QPointer<TFakeServerConnection> Fake;  // owned by the conversation

private:
    std::vector<std::unique_ptr<TAlertForm>> Windows;
};

// Frames as the server writes them: message id and body length, little-endian, then the body.
inline QByteArray Frame(qint32 id, const QByteArray& body)
{
    QByteArray frame;
    for (quint32 v : {quint32(id), quint32(body.size())})
        for (int shift = 0; shift < 32; shift += 8)
            frame += char((v >> shift) & 0xFF);
    return frame + body;
}

// The server's zlib stream: a header and blocks each ending with a sync flush, as a live
// server sends them (the stream is never finished).
inline QByteArray Deflate(const QByteArray& plain, int level = Z_DEFAULT_COMPRESSION)
{
    z_stream z{};
    FUZZ_CHECK(deflateInit(&z, level) == Z_OK);
    QByteArray out(qsizetype(deflateBound(&z, uLong(plain.size())) + 64), Qt::Uninitialized);
    z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(plain.constData()));
    z.avail_in = uInt(plain.size());
    z.next_out = reinterpret_cast<Bytef*>(out.data());
    z.avail_out = uInt(out.size());
    FUZZ_CHECK(deflate(&z, Z_SYNC_FLUSH) == Z_OK);
    out.truncate(qsizetype(z.total_out));
    deflateEnd(&z);
    return out;
}
