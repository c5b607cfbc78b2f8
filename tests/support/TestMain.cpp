#include <QGuiApplication>
#include <gtest/gtest.h>

// Tests run with a real (offscreen) Qt application so coroutines, sockets and images work.
int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
