#include "Platform/WindowForward.h"

#include <QWidget>

void BringWindowForward(QWidget* window)
{
    if (window->isMinimized())
        window->setWindowState(Qt::WindowNoState); // restored to normal, not to maximised
    window->show();
    window->raise();
    window->activateWindow();
}
