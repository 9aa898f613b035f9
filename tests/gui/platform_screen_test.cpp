#include "platform/screen.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <gtest/gtest.h>

namespace {

TEST(Screen, SizeOfThePrimaryScreen)
{
    int width = -1;
    int height = -1;
    PrimaryScreenSize(&width, &height);
    int areaX = -1;
    int areaWidth = -1;
    PrimaryScreenArea(&areaX, nullptr, &areaWidth, nullptr);
#ifndef _WIN32
    EXPECT_EQ(width, 0) << "no screen is known before the application exists";
    EXPECT_EQ(height, 0);
    EXPECT_EQ(areaX, 0);
    EXPECT_EQ(areaWidth, 0);
#endif
    int argc = 1;
    char name[] = "platform_screen_test";
    char *argv[] = {name, nullptr};
    QGuiApplication app(argc, argv);
    PrimaryScreenSize(&width, &height);
    const QRect geometry = QGuiApplication::primaryScreen()->geometry();
    EXPECT_GT(width, 0);
    EXPECT_EQ(width, geometry.width());
    EXPECT_EQ(height, geometry.height());

    int x = -1;
    int y = -1;
    PrimaryScreenArea(&x, &y, &width, &height);
    const QRect available = QGuiApplication::primaryScreen()->availableGeometry();
    EXPECT_GT(width, 0);
    EXPECT_EQ(QRect(x, y, width, height), available);
}

} // namespace
