#pragma once
// One conversation with a client, independent of how its bytes travel (a TCP connection or
// an HTTP tunnel): reads the opening command, inflates and parses the client's requests,
// answers them, and streams alerts as compressed response frames.

#include "MarketData.h"
#include "ServerOptions.h"
#include "WireFormat.h"
#include "ZStreams.h"

#include <QElapsedTimer>
#include <QQueue>
#include <QObject>
#include <QTimer>
#include <functional>
#include <memory>

class TConversation : public QObject {
    Q_OBJECT
public:
    // write sends bytes to the client; close ends the transport; backlog tells how many
    // written bytes the client has not taken yet. None is called after close was asked for.
    TConversation(int conn, const TServerOptions& options,
                  std::function<void(const QByteArray&)> write, std::function<void()> close,
                  std::function<qint64()> backlog, QObject* parent = nullptr);
    ~TConversation() override;

    // Bytes of the client-to-server stream, in order.
    void Input(const QByteArray& bytes);
    // Stops everything; the transport is going away.
    void Detach();

    int Conn() const { return ConnNumber; }

private:
    void ReadOpeningCommand();
    void OpeningDone();
    void HandleRequest(const TRequest& request);
    void AfterBatch();
    void QueueFrame(qint32 id, const QByteArray& body);
    void QueueAlert(const QByteArray& category);
    void Flush();
    void Close(const QByteArray& why);
    void StartAlerts();
    void SendBurst(const QVector<QByteArray>& categories);
    void PumpBurst();
    void PumpZipBomb();
    void SendHugeAlert();
    void PumpBlast();
    void PrebuildBlast();
    void QueueBlastAlerts(qint64 end);
    QByteArray NextBlastCategory();
    void SingleRowTick();
    void ListTick();
    void ScriptTick();
    bool Subscribed(const QByteArray& category) const { return Categories.contains(category); }

    const int ConnNumber;
    const TServerOptions& Options;
    std::function<void(const QByteArray&)> Write;
    std::function<void()> CloseTransport;
    std::function<qint64()> Backlog;

    bool Closed = false;
    bool Silent = false;  // after deliberately broken output: nothing more is sent
    QByteArray OpeningBuffer;
    int OpeningLines = 0;
    bool StreamStarted = false;

    TInflater Inflater;
    TDeflater Deflater;
    TRequestParser Parser;
    QByteArray OutPlain;

    int PingsSeen = 0;
    std::optional<qint32> ListenId;
    QVector<QByteArray> Categories;
    bool BurstDone = false;
    QVector<QPair<QByteArray, qint64>> BurstLeft;  // category, alerts still to send
    QTimer BurstTimer;
    bool BadFramePending = false;
    bool BadFrameDone = false;
    bool StopSent = false;
    qint64 ZipBombLeftMiB = -1;  // -1: not started
    bool ZeroWindow = false;     // the client's last 32 KiB of inflated output are zeros
    QByteArray ZeroBlocks;       // one MiB of zeros for a zero window
    QTimer ZipBombTimer;
    bool HugeAlertDone = false;
    bool BlastStarted = false;
    qint64 BlastQueued = 0;
    QQueue<QByteArray> Prebuilt;  // compressed blast blocks not yet written, in stream order
    QTimer BlastTimer;
    QElapsedTimer BlastClock;

    TMarketData Market;
    QTimer CloseTimer;
    QTimer SingleRowTimer;
    QTimer ListTimer;
    QTimer ScriptTimer;
    QElapsedTimer SingleRowClock;
    qint64 SingleRowTicksSent = 0;
    int ScriptPosition = 0;
};
