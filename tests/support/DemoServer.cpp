#include "DemoServer.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QTest>
#include <csignal>
#include <sys/prctl.h>

namespace {

// JSON strings of the log carry bytes as Latin-1 characters.
QByteArray Bytes(const QJsonValue& v) { return v.toString().toLatin1(); }


}  // namespace

QByteArray TDemoRequest::Value(const QByteArray& key) const
{
    for (const auto& [k, v] : Pairs)
        if (k == key)
            return v;
    return {};
}

bool TDemoRequest::Has(const QByteArray& key) const
{
    for (const auto& p : Pairs)
        if (p.first == key)
            return true;
    return false;
}

TDemoServer::TDemoServer(const QStringList& extraArguments, int startTimeoutMs)
{
    const QString program = QStringLiteral(VESK_BUILD_DIR "/vesk-demo-server");
    QStringList arguments = {QStringLiteral("--listen"), QStringLiteral("127.0.0.1"),
                             QStringLiteral("--port"), QStringLiteral("0")};
    arguments += extraArguments;
    Process.setProgram(program);
    Process.setArguments(arguments);
    // The server dies with the test, even one that crashed before its fixture could stop it.
    Process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    Process.start();
    if (!Process.waitForStarted(startTimeoutMs)) {
        StartProblem = "cannot start " + program.toLocal8Bit() + ": " +
                       Process.errorString().toLocal8Bit();
        return;
    }
    // The first stdout line names the port.
    QDeadlineTimer deadline(startTimeoutMs);
    while (Port == 0 && !deadline.hasExpired() && Process.state() == QProcess::Running) {
        Process.waitForReadyRead(50);
        Poll();
    }
    if (Port == 0) {
        Poll();
        StartProblem = "vesk-demo-server did not report its port; stderr: " + ErrText;
    }
}

TDemoServer::~TDemoServer()
{
    Stop();
    // A sanitizer report of the server would otherwise vanish with its process.
    Poll();
    ErrText += Process.readAllStandardError();
    if (ErrText.contains("Sanitizer") || ErrText.contains("runtime error"))
        qWarning("vesk-demo-server reported:\n%s", ErrText.constData());
}

void TDemoServer::Stop()
{
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished(5000);
    }
}

QByteArray TDemoServer::Problem() const
{
    if (!StartProblem.isEmpty())
        return StartProblem;
    if (Process.state() != QProcess::Running)
        return "vesk-demo-server is not running; stderr: " + ErrText;
    return {};
}

QString TDemoServer::Address() const { return QStringLiteral("127.0.0.1:%1").arg(Port); }

QString TDemoServer::TunnelUrl() const
{
    return QStringLiteral("http://127.0.0.1:%1/tunnel").arg(Port);
}

void TDemoServer::Poll()
{
    // Pulls what the pipes hold now, also when the caller runs no event loop.
    if (Process.state() == QProcess::Running)
        while (Process.waitForReadyRead(0)) {
        }
    ErrText += Process.readAllStandardError();
    Partial += Process.readAllStandardOutput();
    qsizetype start = 0;
    for (;;) {
        const qsizetype end = Partial.indexOf('\n', start);
        if (end < 0)
            break;
        ParseLine(Partial.mid(start, end - start));
        start = end + 1;
    }
    Partial.remove(0, start);
}

void TDemoServer::ParseLine(const QByteArray& line)
{
    if (line.startsWith("listening on ")) {
        const qsizetype colon = line.lastIndexOf(':');
        Port = quint16(line.mid(colon + 1).trimmed().toUInt());
    } else if (line.startsWith("CONN ")) {
        if (line.endsWith(" open"))
            ++Opened;
        else if (line.endsWith(" close"))
            ++Closed;
    } else if (line.startsWith("REQ ")) {
        const QJsonObject o = QJsonDocument::fromJson(line.mid(4)).object();
        TDemoRequest r;
        r.Conn = o.value(QStringLiteral("conn")).toInt();
        const QJsonValue id = o.value(QStringLiteral("id"));
        if (id.isDouble())
            r.Id = qint64(id.toDouble());
        for (const QJsonValue& pair : o.value(QStringLiteral("pairs")).toArray()) {
            const QJsonArray kv = pair.toArray();
            r.Pairs.append({Bytes(kv.at(0)), Bytes(kv.at(1))});
        }
        Reqs.append(r);
    } else if (line.startsWith("POST ")) {
        const QJsonObject o = QJsonDocument::fromJson(line.mid(5)).object();
        TDemoPost p;
        p.Conn = o.value(QStringLiteral("conn")).toInt();
        p.Sequence = qint64(o.value(QStringLiteral("sequence")).toDouble(-1));
        p.Bytes = qint64(o.value(QStringLiteral("bytes")).toDouble());
        p.Status = o.value(QStringLiteral("status")).toInt();
        Uploads.append(p);
    } else {
        OtherLines.append(line);
    }
}

QVector<TDemoRequest> TDemoServer::Requests()
{
    Poll();
    return Reqs;
}

QVector<TDemoRequest> TDemoServer::RequestsWith(const QByteArray& command)
{
    Poll();
    QVector<TDemoRequest> out;
    for (const auto& r : Reqs)
        if (r.Command() == command)
            out.append(r);
    return out;
}

QVector<TDemoPost> TDemoServer::Posts()
{
    Poll();
    return Uploads;
}

bool TDemoServer::Logged(const QByteArray& prefix)
{
    Poll();
    for (const QByteArray& line : OtherLines)
        if (line.startsWith(prefix))
            return true;
    return false;
}

int TDemoServer::OpenedCount()
{
    Poll();
    return Opened;
}

int TDemoServer::ClosedCount()
{
    Poll();
    return Closed;
}

QByteArray TDemoServer::StdErr()
{
    Poll();
    return ErrText;
}

bool TDemoServer::WaitFor(const std::function<bool()>& condition, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        Poll();
        if (condition())
            return true;
        if (deadline.hasExpired())
            return false;
        QTest::qWait(5);
    }
}

bool TDemoServer::WaitForRequests(const QByteArray& command, int count, int timeoutMs)
{
    return WaitFor([&] { return RequestsWith(command).size() >= count; }, timeoutMs);
}
