#pragma once
// Where top-level windows stand: their placement in the settings store (normal rectangle,
// minimised / maximised state, shown or hidden) and keeping them on a monitor, at start-up
// and again once the window system has told us the size of their frames.

#include <QPoint>
#include <QRect>
#include <QString>

class QWidget;
class TSettingsStore;

// The rectangle moved, without changing its size, to lie on the monitor: the right edge is
// pulled in first, then the left edge wins; the same for bottom and top.
QRect FitOntoMonitor(QRect frame, const QRect& monitor);
// Moves a top-level window onto the monitor that holds it (or the nearest one).
void MoveOntoMonitor(QWidget* window);
// Fits the window onto its monitor again on its first show in the normal state and whenever
// its frame changes while shown; the fit made before that sees only the client area.
void KeepFittingOnceFramed(QWidget* window);

// Where the window's frame would stand in its normal (restored) state.
QPoint NormalFramePos(const QWidget* window);

// One window's placement under a settings section: "Width", "Height", "Left", "Top" (the
// normal frame), "State" (0 normal, 1 minimised, 2 maximised) and "Visible". A key that is
// absent keeps what the window has now; the normal placement is brought onto its monitor
// before the state is applied, so a window saved minimised or maximised also comes back to a
// reachable place.
void RestoreWindowPlacement(TSettingsStore& settings, const QString& section, QWidget* window);
void SaveWindowPlacement(TSettingsStore& settings, const QString& section, const QWidget* window);
