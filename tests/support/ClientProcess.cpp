#include "ClientProcess.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QProcessEnvironment>
#include <QSettings>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>
#include <unistd.h>

namespace {

QByteArray ReadFile(const QString& path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The caption the program gives its main window: the configured title and the version.
QString MainCaption(const QByteArray& configuration)
{
    QByteArray section;
    for (QByteArray line : configuration.split('\n')) {
        line = line.trimmed();
        if (line.startsWith('[') && line.endsWith(']')) {
            section = line.mid(1, line.size() - 2).trimmed().toLower();
        } else if (section == "general" && line.contains('=')) {
            const qsizetype eq = line.indexOf('=');
            if (line.left(eq).trimmed().toLower() == "title")
                return QString::fromLatin1(line.mid(eq + 1).trimmed()) + QStringLiteral(" 1.1.31");
        }
    }
    return QStringLiteral("Reraduv Ezerid 1.1.31");
}

} // namespace

TClientProcess::TClientProcess(TXSession& x, const QString& serverAddress, QByteArray configuration)
    : X(x)
{
    if (configuration.isEmpty())
        configuration = ReadFile(QStringLiteral(VESK_SOURCE_DIR "/demo/Vesk.ini"));
    QByteArray text;
    for (const QByteArray& line : configuration.split('\n')) {
        if (line.trimmed().startsWith("address="))
            text += "address=" + serverAddress.toLatin1() + '\n';
        else
            text += line + '\n';
    }
    Title = MainCaption(text);
    QFile file(Dir.filePath(QStringLiteral("Vesk.ini")));
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

TClientProcess::~TClientProcess()
{
    if (Process.state() != QProcess::NotRunning) {
        Process.kill();
        Process.waitForFinished(5000);
    }
}

QString TClientProcess::SettingsFile() const
{
    return Dir.filePath(QStringLiteral("config/Quorvex/Dravin Alerts.conf"));
}

void TClientProcess::WriteSettings(const QByteArray& text)
{
    QDir().mkpath(QFileInfo(SettingsFile()).path());
    QFile file(SettingsFile());
    if (file.open(QIODevice::WriteOnly))
        file.write(text);
}

bool TClientProcess::Start()
{
    if (!Dir.isValid() || !X.IsRunning()) {
        StartProblem = "no folder or no X server: " + X.Problem();
        return false;
    }
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("DISPLAY"), X.DisplayName());
    env.insert(QStringLiteral("QT_QPA_PLATFORM"), QStringLiteral("xcb"));
    // Qt keeps per-user settings under XDG_CONFIG_HOME: this run's own.
    env.insert(QStringLiteral("XDG_CONFIG_HOME"), Dir.filePath(QStringLiteral("config")));
    env.insert(QStringLiteral("XDG_RUNTIME_DIR"), Dir.filePath(QStringLiteral("runtime")));
    QDir().mkpath(Dir.filePath(QStringLiteral("runtime")));
    QFile::setPermissions(Dir.filePath(QStringLiteral("runtime")),
                          QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    Process.setProcessEnvironment(env);
    Process.setWorkingDirectory(Dir.path());
    Process.setProcessChannelMode(QProcess::MergedChannels);
    Process.setProgram(QStringLiteral(VESK_BUILD_DIR "/vesk-client"));
    Process.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    Process.start();
    if (!Process.waitForStarted(10000)) {
        StartProblem = "cannot start vesk-client: " + Process.errorString().toLocal8Bit();
        return false;
    }
    return true;
}

TXSession::TWindowId TClientProcess::WaitForMainWindow(int timeoutMs)
{
    return X.WaitForWindow(Title, timeoutMs);
}

void TClientProcess::Login(TXSession::TWindowId mainWindow, const QString& user, const QString& password)
{
    // A click on the user name field gives the window the keyboard (there is no window
    // manager to do so) and the field the focus; the field stands at its designed place on
    // the first page, below the page tabs.
    X.Click(mainWindow, 70, 99);
    QThread::msleep(300);
    X.Type(user + u'\t' + password + u'\n');
}

bool TClientProcess::WaitForExit(int timeoutMs)
{
    const bool ended = Process.waitForFinished(timeoutMs);
    Out += Process.readAll();
    return ended;
}

QByteArray TClientProcess::Output()
{
    Out += Process.readAll();
    return Out;
}

qint64 TClientProcess::PeakRssKiB() const
{
    const QByteArray status = ReadFile(QStringLiteral("/proc/%1/status").arg(Process.processId()));
    for (const QByteArray& line : status.split('\n'))
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').value(0).toLongLong();
    return 0;
}

qint64 TClientProcess::CpuMs() const
{
    // Fields 14 and 15 of /proc/<pid>/stat, after the command name in brackets.
    const QByteArray stat = ReadFile(QStringLiteral("/proc/%1/stat").arg(Process.processId()));
    const QList<QByteArray> fields = stat.mid(stat.lastIndexOf(')') + 2).split(' ');
    if (fields.size() < 13)
        return 0;
    const qint64 ticks = fields[11].toLongLong() + fields[12].toLongLong();
    return ticks * 1000 / ::sysconf(_SC_CLK_TCK);
}

int TClientProcess::OpenDescriptors() const
{
    return int(QDir(QStringLiteral("/proc/%1/fd").arg(Process.processId()))
                   .entryList(QDir::NoDotAndDotDot | QDir::AllEntries | QDir::System)
                   .size());
}

std::unique_ptr<QSettings> TClientProcess::Settings() const
{
    return std::make_unique<QSettings>(SettingsFile(), QSettings::IniFormat);
}
