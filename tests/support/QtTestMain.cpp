// Test programs that touch widgets share one QApplication on the offscreen
// platform.
#include <QApplication>
#include <cstdlib>
#include <ctime>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    // Without TZ, glibc reloads its time zone on every local-time call, under
    // a lock ThreadSanitizer cannot see (the test pattern's clock asks for
    // it on GStreamer's threads). Naming the default zone lets it load once.
#ifndef _WIN32
    setenv("TZ", ":/etc/localtime", 0);
    tzset();
#endif
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
