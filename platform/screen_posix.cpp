#include "platform/screen.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>

void PrimaryScreenSize(int *width, int *height)
{
    int w = 0;
    int h = 0;
    if (QGuiApplication::instance() != nullptr) {
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect geometry = screen->geometry();
            w = geometry.width();
            h = geometry.height();
        }
    }
    if (width != nullptr)
        *width = w;
    if (height != nullptr)
        *height = h;
}

void PrimaryScreenArea(int *x, int *y, int *width, int *height)
{
    QRect area;
    if (QGuiApplication::instance() != nullptr) {
        if (const QScreen *screen = QGuiApplication::primaryScreen())
            area = screen->availableGeometry();
    }
    if (x != nullptr)
        *x = area.isValid() ? area.x() : 0;
    if (y != nullptr)
        *y = area.isValid() ? area.y() : 0;
    if (width != nullptr)
        *width = area.isValid() ? area.width() : 0;
    if (height != nullptr)
        *height = area.isValid() ? area.height() : 0;
}
