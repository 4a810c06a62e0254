#include "XSession.h"

#include <QDeadlineTimer>
#include <QElapsedTimer>
#include <QRect>
#include <QThread>
#include <csignal>
#include <sys/prctl.h>

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <X11/extensions/XTest.h>
#include <X11/keysym.h>

namespace {

// A test runs for seconds at most; Xlib's default handler would end the whole test process
// on an error such as a window that vanished between a lookup and a query.
int IgnoreXError(::Display*, XErrorEvent*) { return 0; }

QString TitleOf(::Display* display, Window window)
{
    // Qt sets the UTF-8 title; WM_NAME is the fallback.
    const Atom netName = XInternAtom(display, "_NET_WM_NAME", False);
    const Atom utf8 = XInternAtom(display, "UTF8_STRING", False);
    Atom type = 0;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, netName, 0, 1024, False, utf8, &type, &format,
                           &count, &after, &data) == Success && data) {
        const QString title = QString::fromUtf8(reinterpret_cast<char*>(data), int(count));
        XFree(data);
        return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        const QString title = QString::fromLatin1(name);
        XFree(name);
        return title;
    }
    return {};
}

} // namespace

TXSession::TXSession(int width, int height)
{
    // Xvfb picks a free display itself and writes its number on the descriptor we name.
    Server.setProgram(QStringLiteral("Xvfb"));
    Server.setArguments({QStringLiteral("-displayfd"), QStringLiteral("1"),
                         QStringLiteral("-screen"), QStringLiteral("0"),
                         QStringLiteral("%1x%2x24").arg(width).arg(height),
                         QStringLiteral("-nolisten"), QStringLiteral("tcp"),
                         QStringLiteral("-noreset")});
    Server.setChildProcessModifier([] { ::prctl(PR_SET_PDEATHSIG, SIGKILL); });
    Server.start();
    if (!Server.waitForStarted(5000)) {
        StartProblem = "cannot start Xvfb: " + Server.errorString().toLocal8Bit();
        return;
    }
    QByteArray out;
    QDeadlineTimer deadline(10000);
    while (!out.contains('\n') && !deadline.hasExpired() && Server.state() == QProcess::Running) {
        Server.waitForReadyRead(50);
        out += Server.readAllStandardOutput();
    }
    bool ok = false;
    const int number = out.trimmed().toInt(&ok);
    if (!ok) {
        StartProblem = "Xvfb did not name its display; stderr: " + Server.readAllStandardError();
        return;
    }
    Name = QStringLiteral(":%1").arg(number);
    XSetErrorHandler(IgnoreXError);
    Display = XOpenDisplay(Name.toLatin1().constData());
    if (!Display) {
        StartProblem = "cannot open display " + Name.toLatin1();
        return;
    }
    // Qt sends its answers to pings to the root window, for whoever watches the root's own
    // structure (or redirects its children, which would make this session the window manager).
    XSelectInput(Display, DefaultRootWindow(Display), StructureNotifyMask);
}

TXSession::~TXSession()
{
    if (Display)
        XCloseDisplay(Display);
    if (Server.state() != QProcess::NotRunning) {
        Server.terminate();
        if (!Server.waitForFinished(3000)) {
            Server.kill();
            Server.waitForFinished(3000);
        }
    }
}

QVector<TXSession::TWindowId> TXSession::FindWindows(const QString& title, bool prefix)
{
    QVector<TWindowId> found;
    if (!Display)
        return found;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(Display, DefaultRootWindow(Display), &root, &parent, &children, &count))
        return found;
    for (unsigned int i = 0; i < count; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(Display, children[i], &attributes) ||
            attributes.map_state != IsViewable)
            continue;
        const QString name = TitleOf(Display, children[i]);
        if (prefix ? name.startsWith(title) : name == title)
            found.append(children[i]);
    }
    if (children)
        XFree(children);
    return found;
}

QStringList TXSession::MappedTitles()
{
    QStringList titles;
    const auto windows = FindWindows(QString(), true);
    for (TWindowId w : windows)
        titles.append(TitleOf(Display, w));
    return titles;
}

TXSession::TWindowId TXSession::WaitForWindow(const QString& title, int timeoutMs, bool prefix)
{
    QDeadlineTimer deadline(timeoutMs);
    do {
        const auto windows = FindWindows(title, prefix);
        if (!windows.isEmpty())
            return windows.front();
        QThread::msleep(20);
    } while (!deadline.hasExpired());
    return 0;
}

QRect TXSession::Geometry(TWindowId window)
{
    XWindowAttributes attributes;
    if (!Display || !XGetWindowAttributes(Display, window, &attributes))
        return {};
    int x = 0, y = 0;
    Window child = 0;
    XTranslateCoordinates(Display, window, DefaultRootWindow(Display), 0, 0, &x, &y, &child);
    return QRect(x, y, attributes.width, attributes.height);
}

void TXSession::Click(TWindowId window, int x, int y)
{
    const QRect g = Geometry(window);
    XTestFakeMotionEvent(Display, DefaultScreen(Display), g.x() + x, g.y() + y, CurrentTime);
    Sync();
    XTestFakeButtonEvent(Display, 1, True, CurrentTime);
    Sync();
    XTestFakeButtonEvent(Display, 1, False, CurrentTime);
    Sync();
}

void TXSession::Key(unsigned long keysym, bool shift)
{
    const KeyCode code = XKeysymToKeycode(Display, keysym);
    const KeyCode shiftCode = XKeysymToKeycode(Display, XK_Shift_L);
    if (code == 0)
        return;
    if (shift)
        XTestFakeKeyEvent(Display, shiftCode, True, CurrentTime);
    XTestFakeKeyEvent(Display, code, True, CurrentTime);
    XTestFakeKeyEvent(Display, code, False, CurrentTime);
    if (shift)
        XTestFakeKeyEvent(Display, shiftCode, False, CurrentTime);
    Sync();
    // A person types a key in tens of milliseconds; Qt sees every key either way, but a burst
    // can outrun a focus change that a key (Tab) has just asked for.
    QThread::msleep(15);
}

void TXSession::Type(const QString& text)
{
    for (QChar c : text) {
        if (c == u'\t') {
            Key(XK_Tab, false);
        } else if (c == u'\n') {
            Key(XK_Return, false);
        } else {
            const char latin = c.toLatin1();
            // The keysym of a printable ASCII character is its code; capitals and the shifted
            // punctuation of a US keyboard need Shift.
            const bool shift = c.isUpper() || QByteArrayLiteral("~!@#$%^&*()_+{}|:\"<>?").contains(latin);
            Key(static_cast<unsigned char>(latin), shift);
        }
    }
}

void TXSession::CloseWindow(TWindowId window)
{
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(Display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(Display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(Display, window, False, NoEventMask, &event);
    Sync();
}

QImage TXSession::Screenshot()
{
    if (!Display)
        return {};
    const Window root = DefaultRootWindow(Display);
    XWindowAttributes attributes;
    XGetWindowAttributes(Display, root, &attributes);
    XImage* image = XGetImage(Display, root, 0, 0, unsigned(attributes.width),
                              unsigned(attributes.height), AllPlanes, ZPixmap);
    if (!image)
        return {};
    QImage shot(attributes.width, attributes.height, QImage::Format_RGB32);
    for (int y = 0; y < attributes.height; ++y) {
        auto* line = reinterpret_cast<QRgb*>(shot.scanLine(y));
        for (int x = 0; x < attributes.width; ++x)
            line[x] = QRgb(XGetPixel(image, x, y)) | 0xff000000u;
    }
    XDestroyImage(image);
    return shot;
}

double TXSession::PingMs(TWindowId window, int timeoutMs)
{
    if (!Display)
        return -1;
    const Atom protocols = XInternAtom(Display, "WM_PROTOCOLS", False);
    const Atom ping = XInternAtom(Display, "_NET_WM_PING", False);
    const long stamp = ++PingStamp;
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = protocols;
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(ping);
    event.xclient.data.l[1] = stamp;
    event.xclient.data.l[2] = long(window);
    QElapsedTimer clock;
    clock.start();
    XSendEvent(Display, window, False, NoEventMask, &event);
    XFlush(Display);
    while (clock.elapsed() < timeoutMs) {
        while (XPending(Display)) {
            XEvent reply;
            XNextEvent(Display, &reply);
            if (reply.type == ClientMessage && reply.xclient.message_type == protocols &&
                Atom(reply.xclient.data.l[0]) == ping && reply.xclient.data.l[1] == stamp)
                return double(clock.nsecsElapsed()) / 1e6;
        }
        QThread::usleep(200);
    }
    return -1;
}

void TXSession::Sync()
{
    XSync(Display, False);
}
