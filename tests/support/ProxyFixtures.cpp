#include "support/ProxyFixtures.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QHostAddress>
#include <QProcess>
#include <csignal>
#include <sys/prctl.h>
#include <QStandardPaths>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>

#include <cctype>
#include <csignal>
#include <pwd.h>
#include <sys/types.h>
#include <unistd.h>

namespace {

// A proxy comes up in well under a second; this only bounds a broken start.
constexpr int StartDeadlineMs = 10000;

QString FindProgram(const QString& name)
{
    QString path = QStandardPaths::findExecutable(name);
    if (path.isEmpty())
        path = QStandardPaths::findExecutable(name, {QStringLiteral("/usr/sbin"), QStringLiteral("/sbin"),
                                                     QStringLiteral("/usr/local/sbin")});
    return path;
}

bool RunQuietly(const QString& program, const QStringList& arguments, const QByteArray& input,
                QString& output)
{
    QProcess p;
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, arguments);
    if (!p.waitForStarted(5000))
        return false;
    if (!input.isEmpty())
        p.write(input);
    p.closeWriteChannel();
    p.waitForFinished(15000);
    output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

} // namespace

TProxyProcess::TProxyProcess() = default;

TProxyProcess::~TProxyProcess() { Stop(); }

bool TProxyProcess::Fail(const QString& why, bool skip)
{
    Reason = why;
    Skip = skip;
    Stop();
    return false;
}

QString TProxyProcess::TempPath(const QString& name) const { return Folder->filePath(name); }

quint16 TProxyProcess::FreeLoopbackPort()
{
    QTcpServer probe;
    if (!probe.listen(QHostAddress::LocalHost, 0))
        return 0;
    return probe.serverPort();
}

bool TProxyProcess::IsRunning() const { return Process && Process->state() == QProcess::Running; }

QByteArray TProxyProcess::Log() const
{
    QByteArray text;
    if (!LogPath.isEmpty()) {
        QFile f(LogPath);
        if (f.open(QIODevice::ReadOnly))
            text = f.readAll();
    }
    if (Process)
        Console += Process->readAll();
    return text + Console;
}

bool TProxyProcess::Launch(const QString& program, const QStringList& arguments, const QString& configName,
                           const QByteArray& config, const QString& logName)
{
    QFile cf(TempPath(configName));
    if (!cf.open(QIODevice::WriteOnly) || cf.write(config) != config.size())
        return Fail(QStringLiteral("cannot write %1").arg(cf.fileName()));
    cf.close();
    LogPath = logName.isEmpty() ? QString() : TempPath(logName);

    Console.clear();
    Process = std::make_unique<QProcess>();
    Process->setProcessChannelMode(QProcess::MergedChannels);
    // A group of its own, so Stop reaches the workers a proxy forks as well; and it dies with
    // the test, even one that crashed before its fixture could stop it.
    Process->setChildProcessModifier([] {
        ::setsid();
        ::prctl(PR_SET_PDEATHSIG, SIGKILL);
    });
    Process->start(program, arguments);
    if (!Process->waitForStarted(5000))
        return Fail(QStringLiteral("%1 did not start: %2").arg(program, Process->errorString()));

    QDeadlineTimer deadline(StartDeadlineMs);
    while (!deadline.hasExpired()) {
        if (Process->state() != QProcess::Running) {
            return Fail(QStringLiteral("%1 exited at start (code %2): %3")
                            .arg(program)
                            .arg(Process->exitCode())
                            .arg(QString::fromLocal8Bit(Log())));
        }
        QTcpSocket probe;
        probe.connectToHost(QHostAddress::LocalHost, ListenPort);
        if (probe.waitForConnected(200)) {
            probe.abort();
            return true;
        }
        Process->waitForFinished(50);
    }
    return Fail(QStringLiteral("%1 did not accept on port %2 in time: %3")
                    .arg(program)
                    .arg(ListenPort)
                    .arg(QString::fromLocal8Bit(Log())));
}

void TProxyProcess::Stop()
{
    if (!Process)
        return;
    if (Process->state() != QProcess::NotRunning) {
        const qint64 pid = Process->processId();
        if (pid > 0)
            ::kill(-pid_t(pid), SIGTERM);
        if (!Process->waitForFinished(3000)) {
            if (pid > 0)
                ::kill(-pid_t(pid), SIGKILL);
            Process->waitForFinished(3000);
        }
    }
    // Keep the console output readable after the stop.
    Console += Process->readAll();
    Process.reset();
}

// ---------------------------------------------------------------------------------------

const QByteArray TDanteProxy::TestUserName = "vesk-socks-test";
const QByteArray TDanteProxy::TestPassword = "vesk-socks-pw-41";

bool TDanteProxy::EnsureTestAccount(QString& why, bool& skip)
{
    if (::geteuid() != 0) {
        why = QStringLiteral("SOCKS user-name authentication needs the system account %1, "
                             "which only root may create; run as root to include this case")
                  .arg(QString::fromLatin1(TestUserName));
        skip = true;
        return false;
    }
    QString out;
    if (!::getpwnam(TestUserName.constData())) {
        const QString useradd = FindProgram(QStringLiteral("useradd"));
        if (useradd.isEmpty() ||
            !RunQuietly(useradd,
                        {QStringLiteral("-M"), QStringLiteral("-N"), QStringLiteral("-s"),
                         QStringLiteral("/usr/sbin/nologin"), QStringLiteral("-d"), QStringLiteral("/nonexistent"),
                         QString::fromLatin1(TestUserName)},
                        {}, out)) {
            why = QStringLiteral("cannot create the account %1: %2").arg(QString::fromLatin1(TestUserName), out);
            skip = true;
            return false;
        }
    }
    const QString chpasswd = FindProgram(QStringLiteral("chpasswd"));
    if (chpasswd.isEmpty() || !RunQuietly(chpasswd, {}, TestUserName + ':' + TestPassword + '\n', out)) {
        why = QStringLiteral("cannot set the password of %1: %2").arg(QString::fromLatin1(TestUserName), out);
        skip = true;
        return false;
    }
    return true;
}

bool TDanteProxy::Start()
{
    Stop();
    Reason.clear();
    Skip = false;
    const QString program = FindProgram(QStringLiteral("danted"));
    if (program.isEmpty())
        return Fail(QStringLiteral("danted is not installed (package dante-server, see scripts/setup)"), true);
    if (Mode == Socks5UserName && !EnsureTestAccount(Reason, Skip))
        return false;

    Folder = std::make_unique<QTemporaryDir>();
    if (!Folder->isValid())
        return Fail(QStringLiteral("no temporary folder"));
    // The workers drop to "nobody" and must still reach their log.
    QFile::setPermissions(Folder->path(), QFile::permissions(Folder->path()) | QFile::ReadOther |
                                              QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    ListenPort = FreeLoopbackPort();
    if (ListenPort == 0)
        return Fail(QStringLiteral("no free loopback port"));

    const QByteArray method = Mode == Socks5UserName ? "username" : "none";
    QByteArray config;
    config += "logoutput: " + TempPath(QStringLiteral("danted.log")).toLocal8Bit() + "\n";
    config += "internal: 127.0.0.1 port = " + QByteArray::number(ListenPort) + "\n";
    config += "external: 127.0.0.1\n";
    config += "clientmethod: none\n";
    config += "socksmethod: " + method + "\n";
    config += "user.privileged: root\n";
    config += "user.unprivileged: nobody\n";
    config += "client pass { from: 127.0.0.0/8 to: 0.0.0.0/0 log: connect disconnect error }\n";
    config += "socks pass { from: 127.0.0.0/8 to: 127.0.0.0/8 log: connect disconnect error }\n";
    config += "socks block { from: 0.0.0.0/0 to: 0.0.0.0/0 log: connect error }\n";

    return Launch(program,
                  {QStringLiteral("-f"), TempPath(QStringLiteral("danted.conf")), QStringLiteral("-N"),
                   QStringLiteral("1"), QStringLiteral("-p"), TempPath(QStringLiteral("danted.pid"))},
                  QStringLiteral("danted.conf"), config, QStringLiteral("danted.log"));
}

bool TDanteProxy::CarriedConnectionTo(quint16 targetPort) const
{
    // A carried connection is logged as
    //   pass(1): tcp/connect [: <client> <proxy> -> <proxy side> 127.0.0.1.<target port>
    const QByteArray target = "127.0.0.1." + QByteArray::number(targetPort);
    const QList<QByteArray> lines = Log().split('\n');
    for (const QByteArray& line : lines) {
        if (!line.contains("pass(") || !line.contains("tcp/connect"))
            continue;
        const qsizetype arrow = line.indexOf("->");
        if (arrow < 0)
            continue;
        const QByteArray after = line.mid(arrow);
        const qsizetype at = after.indexOf(target);
        if (at >= 0) {
            const qsizetype end = at + target.size();
            if (end == after.size() || !std::isdigit(static_cast<unsigned char>(after[end])))
                return true;
        }
    }
    return false;
}

// ---------------------------------------------------------------------------------------

bool TTinyProxy::Start(const QByteArray& userName, const QByteArray& password)
{
    Stop();
    Reason.clear();
    Skip = false;
    const QString program = FindProgram(QStringLiteral("tinyproxy"));
    if (program.isEmpty())
        return Fail(QStringLiteral("tinyproxy is not installed (package tinyproxy, see scripts/setup)"), true);

    Folder = std::make_unique<QTemporaryDir>();
    if (!Folder->isValid())
        return Fail(QStringLiteral("no temporary folder"));
    ListenPort = FreeLoopbackPort();
    if (ListenPort == 0)
        return Fail(QStringLiteral("no free loopback port"));

    QByteArray config;
    config += "Port " + QByteArray::number(ListenPort) + "\n";
    config += "Listen 127.0.0.1\n";
    config += "Timeout 600\n";
    config += "LogLevel Info\n";
    config += "MaxClients 50\n";
    config += "Allow 127.0.0.1\n";
    config += "DisableViaHeader Yes\n";
    if (!userName.isEmpty())
        config += "BasicAuth " + userName + " " + password + "\n";

    // No log file: in the foreground tinyproxy writes its log to the console, which we keep.
    return Launch(program, {QStringLiteral("-d"), QStringLiteral("-c"), TempPath(QStringLiteral("tinyproxy.conf"))},
                  QStringLiteral("tinyproxy.conf"), config, {});
}
