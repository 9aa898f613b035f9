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
