#pragma once
// TXSession: a private X server (Xvfb) for one test, and the hands of a user in front of it.
//
//   TXSession x;                                         // starts Xvfb on a free display
//   QVERIFY2(x.IsRunning(), x.Problem().constData());
//   env.insert("DISPLAY", x.DisplayName());              // for the program under test
//   const auto w = x.WaitForWindow("Vesk Demo 1.1.31");  // a mapped top-level window
//   x.Click(w, 40, 110);                                 // a left click, window coordinates
//   x.Type("joe\tsecret\n");                             // keys as typed
//   x.CloseWindow(w);                                    // the close box: WM_DELETE_WINDOW
//
// There is no window manager: windows stand where the program puts them, and the close box
// is what a window manager would send, a WM_DELETE_WINDOW client message. Input goes through
// the XTEST extension, as from a real keyboard and mouse. The server dies with the test.

#include <QByteArray>
#include <QImage>
#include <QProcess>
#include <QString>
#include <QStringList>
#include <QVector>

class TXSession {
public:
    using TWindowId = unsigned long;

    TXSession(int width = 1600, int height = 1200);
    ~TXSession();
    TXSession(const TXSession&) = delete;
    TXSession& operator=(const TXSession&) = delete;

    bool IsRunning() const { return Display != nullptr; }
    QByteArray Problem() const { return StartProblem; }
    QString DisplayName() const { return Name; }  // ":<n>"

    // Mapped top-level windows whose title is exactly (or, with prefix, starts with) title.
    QVector<TWindowId> FindWindows(const QString& title, bool prefix = false);
    // Waits (without running any event loop of the caller) until such a window is mapped;
    // 0 when none appeared in time.
    TWindowId WaitForWindow(const QString& title, int timeoutMs = 10000, bool prefix = false);
    QStringList MappedTitles();

    // The window's rectangle on the screen.
    QRect Geometry(TWindowId window);
    // A left click at x, y inside the window.
    void Click(TWindowId window, int x, int y);
    // Types the text on the keyboard: printable ASCII, "\t" for Tab and "\n" for Return.
    void Type(const QString& text);
    // What a window manager sends when the user presses the close box.
    void CloseWindow(TWindowId window);
    // What the screen shows now.
    QImage Screenshot();
    // How long the program takes to answer a window manager's ping (_NET_WM_PING) on the
    // window: the time its event loop needs to come round to an X event. -1: no answer in
    // time.
    double PingMs(TWindowId window, int timeoutMs = 10000);

private:
    void Key(unsigned long keysym, bool shift);
    void Sync();

    QProcess Server;
    QString Name;
    QByteArray StartProblem;
    struct _XDisplay* Display = nullptr;
    long PingStamp = 0;
};
