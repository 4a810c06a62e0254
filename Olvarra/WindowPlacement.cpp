#include "Olvarra/WindowPlacement.h"

#include "Platform/SettingsStore.h"
#include "Shared/WakeMeSoon.h"

#include <QEvent>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>
#include <algorithm>
#include <limits>

namespace {

int WindowStateNumber(const QWidget* window)
{
    if (window->windowState() & Qt::WindowMinimized)
        return 1;
    if (window->windowState() & Qt::WindowMaximized)
        return 2;
    return 0;
}

void ApplyWindowStateNumber(QWidget* window, int state)
{
    Qt::WindowStates states = window->windowState() & ~(Qt::WindowMinimized | Qt::WindowMaximized);
    if (state == 1)
        states |= Qt::WindowMinimized;
    else if (state == 2)
        states |= Qt::WindowMaximized;
    window->setWindowState(states);
}

QScreen* ScreenHolding(const QRect& frame)
{
    if (QScreen* screen = QGuiApplication::screenAt(frame.center()))
        return screen;
    // Wholly off every monitor: the nearest one.
    QScreen* nearest = nullptr;
    qint64 best = std::numeric_limits<qint64>::max();
    for (QScreen* screen : QGuiApplication::screens()) {
        const QRect g = screen->geometry();
        const qint64 dx = std::max({0, g.left() - frame.right(), frame.left() - g.right()});
        const qint64 dy = std::max({0, g.top() - frame.bottom(), frame.top() - g.bottom()});
        const qint64 d = dx * dx + dy * dy;
        if (d < best) {
            best = d;
            nearest = screen;
        }
    }
    return nearest;
}

// The frame around a window's client area as the window system reports it; empty until the
// window has been shown (and, under some window managers, for a while after).
QMargins FrameMargins(const QWidget* window)
{
    const QRect frame = window->frameGeometry();
    const QRect client = window->geometry();
    return QMargins(client.left() - frame.left(), client.top() - frame.top(), frame.right() - client.right(),
                    frame.bottom() - client.bottom());
}

// Qt learns a window's border and title bar when the window is first shown, or even later,
// when the window manager has framed it. So the window is fitted on its first show in the
// normal state (also a hidden window shown later from the list) and again whenever its frame
// changes while it is shown; a window the user moves later, with the same frame, is left
// where it is put.
class TFrameFit : public QObject {
public:
    explicit TFrameFit(QWidget* window) : QObject(window), Window(window), Check(new TWakeMeSoon(this))
    {
        // After the event: Qt settles a window's position and frame only once the show, move
        // or state change that told us has been handled.
        Check->OnWakeUp = [this] { FitIfFrameChanged(); };
        window->installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        switch (event->type()) {
        case QEvent::Show:
        case QEvent::Move:
        case QEvent::Resize:
        case QEvent::WindowStateChange:
            Check->Request();
            break;
        default:
            break;
        }
        return QObject::eventFilter(watched, event);
    }

private:
    void FitIfFrameChanged()
    {
        if (!Window->isVisible()
            || (Window->windowState() & (Qt::WindowMinimized | Qt::WindowMaximized | Qt::WindowFullScreen)))
            return;
        const QMargins margins = FrameMargins(Window);
        if (Fitted && margins == FittedMargins)
            return;
        Fitted = true;
        FittedMargins = margins;
        MoveOntoMonitor(Window);
    }

    QWidget* Window;
    TWakeMeSoon* Check;
    bool Fitted = false; // fitted while shown, with FittedMargins
    QMargins FittedMargins;
};

} // namespace

QRect FitOntoMonitor(QRect frame, const QRect& monitor)
{
    if (frame.right() > monitor.right())
        frame.moveRight(monitor.right());
    if (frame.left() < monitor.left())
        frame.moveLeft(monitor.left());
    if (frame.bottom() > monitor.bottom())
        frame.moveBottom(monitor.bottom());
    if (frame.top() < monitor.top())
        frame.moveTop(monitor.top());
    return frame;
}

void MoveOntoMonitor(QWidget* window)
{
    const QRect frame = window->frameGeometry();
    QScreen* screen = ScreenHolding(frame);
    if (!screen)
        return;
    const QRect fitted = FitOntoMonitor(frame, screen->availableGeometry());
    if (fitted.topLeft() != frame.topLeft())
        window->move(fitted.topLeft());
}

void KeepFittingOnceFramed(QWidget* window)
{
    new TFrameFit(window); // owned by the window
}

QPoint NormalFramePos(const QWidget* window)
{
    // Qt reports the normal rectangle of the client area, so the frame's offset is taken off.
    const QPoint frameOffset = window->geometry().topLeft() - window->frameGeometry().topLeft();
    return window->normalGeometry().topLeft() - frameOffset;
}

void RestoreWindowPlacement(TSettingsStore& settings, const QString& section, QWidget* window)
{
    const QRect normal = window->normalGeometry();
    const QPoint framePos = NormalFramePos(window);
    const int width = settings.ReadInteger(section, QStringLiteral("Width"), normal.width());
    const int height = settings.ReadInteger(section, QStringLiteral("Height"), normal.height());
    const int left = settings.ReadInteger(section, QStringLiteral("Left"), framePos.x());
    const int top = settings.ReadInteger(section, QStringLiteral("Top"), framePos.y());
    const bool visible = settings.ReadBool(section, QStringLiteral("Visible"), window->isVisible());
    const int state = settings.ReadInteger(section, QStringLiteral("State"), WindowStateNumber(window));
    window->resize(std::max(1, width), std::max(1, height));
    window->move(left, top);
    MoveOntoMonitor(window);
    ApplyWindowStateNumber(window, state);
    window->setVisible(visible);
}

void SaveWindowPlacement(TSettingsStore& settings, const QString& section, const QWidget* window)
{
    const QRect normal = window->normalGeometry();
    const QPoint framePos = NormalFramePos(window);
    settings.WriteInteger(section, QStringLiteral("Width"), normal.width());
    settings.WriteInteger(section, QStringLiteral("Height"), normal.height());
    settings.WriteInteger(section, QStringLiteral("Left"), framePos.x());
    settings.WriteInteger(section, QStringLiteral("Top"), framePos.y());
    settings.WriteInteger(section, QStringLiteral("State"), WindowStateNumber(window));
    settings.WriteBool(section, QStringLiteral("Visible"), window->isVisible());
}
