#pragma once
// TDemoServer: runs build/vesk-demo-server for one test, on 127.0.0.1 and a free port.
//
//   TDemoServer server({"--seed", "7", "--rate", "20"});   // extra server arguments
//   QVERIFY2(server.IsRunning(), server.Problem().constData());
//   talk.ServerAddress = server.Address().toLatin1();       // "127.0.0.1:<port>"
//   QVERIFY(server.WaitForRequests("ping", 2));             // event loop runs meanwhile
//   const auto logins = server.RequestsWith("login");      // what the client sent, in order
//   QCOMPARE(logins[0].Value("username"), QByteArray("x"));
//   QVERIFY(server.WaitFor([&] { return server.ClosedCount() == 1; }));
//
// Every wait runs the event loop in short slices and gives up after its bound (default 10 s),
// so the client under test keeps working while the test waits. The destructor kills the
// server. Tunnel clients use TunnelUrl(); Posts() lists the uploads the server answered.

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>
#include <functional>
#include <optional>
#include <utility>

// One request as the server read it (the leading "message_id" pair is in Id, not in Pairs).
struct TDemoRequest {
    int Conn = 0;                     // connection number, from 1, in order of opening
    std::optional<qint64> Id;         // message id, when the request carried one
    QVector<std::pair<QByteArray, QByteArray>> Pairs;

    // The value of the first pair with this key; empty when absent.
    QByteArray Value(const QByteArray& key) const;
    bool Has(const QByteArray& key) const;
    QByteArray Command() const { return Value("command"); }
};

// One tunnel upload as the server answered it.
struct TDemoPost {
    int Conn = 0;        // 0 when it matched no open tunnel
    qint64 Sequence = -1;
    qint64 Bytes = 0;    // decoded bytes
    int Status = 0;
};

class TDemoServer {
public:
    explicit TDemoServer(const QStringList& extraArguments = {}, int startTimeoutMs = 10000);
    ~TDemoServer();
    TDemoServer(const TDemoServer&) = delete;
    TDemoServer& operator=(const TDemoServer&) = delete;

    bool IsRunning() const { return Port > 0 && Process.state() == QProcess::Running; }
    // Why the server is not running (start failure and its stderr), for QVERIFY2.
    QByteArray Problem() const;

    quint16 ServerPort() const { return Port; }
    QString Address() const;     // "127.0.0.1:<port>"
    QString TunnelUrl() const;   // "http://127.0.0.1:<port>/tunnel"

    // Reads what the server has logged so far (without running the event loop).
    void Poll();
    QVector<TDemoRequest> Requests();
    QVector<TDemoRequest> RequestsWith(const QByteArray& command);
    QVector<TDemoPost> Posts();
    int OpenedCount();   // connections (or tunnels) opened so far
    int ClosedCount();   // of them, closed so far
    QByteArray StdErr(); // everything the server wrote on stderr so far
    // Whether the server has logged a line that starts with prefix (for example "ZIPBOMB").
    bool Logged(const QByteArray& prefix);

    // Runs the event loop until condition holds (true) or timeoutMs passed (false).
    bool WaitFor(const std::function<bool()>& condition, int timeoutMs = 10000);
    bool WaitForRequests(const QByteArray& command, int count = 1, int timeoutMs = 10000);

    // Ends the server now (the destructor does it too).
    void Stop();

private:
    void ParseLine(const QByteArray& line);

    QProcess Process;
    quint16 Port = 0;
    QByteArray StartProblem;
    QByteArray Partial;
    QByteArray ErrText;
    QVector<TDemoRequest> Reqs;
    QVector<TDemoPost> Uploads;
    QVector<QByteArray> OtherLines;
    int Opened = 0;
    int Closed = 0;
};
