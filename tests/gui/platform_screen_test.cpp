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
#ifndef _WIN32
    EXPECT_EQ(width, 0) << "no screen is known before the application exists";
    EXPECT_EQ(height, 0);
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
}

} // namespace
