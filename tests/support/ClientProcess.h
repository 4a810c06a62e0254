#pragma once
// TClientProcess: the built vesk-client, run as a user runs it, in a folder of its own.
//
//   TXSession x;  TDemoServer server({"--seed", "3"});
//   TClientProcess client(x, server.Address());     // demo/Vesk.ini, pointed at the server
//   QVERIFY2(client.Start(), client.Problem().constData());
//   const auto main = client.WaitForMainWindow();
//   client.Login(main, "joe", "secret");            // typed into the window, Login pressed
//   x.CloseWindow(main);
//   QVERIFY(client.WaitForExit(5000));
//   QCOMPARE(client.ExitCode(), 0);
//   const auto settings = client.Settings();         // what the program left for next time
//
// The program gets its own Vesk.ini in a temporary folder (its current folder) and its own
// per-user settings folder there, so a test never touches the user's settings. It runs on
// the real X server of the session (the xcb platform), not the offscreen one.

#include "XSession.h"

#include <QByteArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>
#include <memory>

class QSettings;

class TClientProcess {
public:
    // configuration: the text of Vesk.ini; empty means demo/Vesk.ini. Its "address=" line is
    // pointed at serverAddress.
    TClientProcess(TXSession& x, const QString& serverAddress, QByteArray configuration = {});
    ~TClientProcess();

    QString Folder() const { return Dir.path(); }
    QString SettingsFile() const;
    // Writes a settings file before the start, as an earlier run would have left it.
    void WriteSettings(const QByteArray& text);

    bool Start();
    QByteArray Problem() const { return StartProblem; }
    qint64 Pid() const { return Process.processId(); }

    // The main window, once mapped (its caption is the configured title and the version).
    TXSession::TWindowId WaitForMainWindow(int timeoutMs = 15000);
    // Types the user name and password into the login fields and presses Enter (Login).
    void Login(TXSession::TWindowId mainWindow, const QString& user, const QString& password);

    bool IsRunning() const { return Process.state() != QProcess::NotRunning; }
    bool WaitForExit(int timeoutMs);
    int ExitCode() const { return Process.exitCode(); }
    QProcess::ExitStatus ExitStatus() const { return Process.exitStatus(); }
    QByteArray Output();  // stdout and stderr so far

    // Peak resident memory of the running program in KiB (VmHWM), 0 when unknown.
    qint64 PeakRssKiB() const;
    int OpenDescriptors() const;
    // CPU time the program has used so far (user and system), in milliseconds.
    qint64 CpuMs() const;

    // The settings file as QSettings reads it (valid after the program has ended).
    std::unique_ptr<QSettings> Settings() const;

private:
    TXSession& X;
    QTemporaryDir Dir;
    QProcess Process;
    QByteArray StartProblem;
    QByteArray Out;
    QString Title;
};
