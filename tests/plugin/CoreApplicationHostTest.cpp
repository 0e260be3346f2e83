// A host whose Qt application object shows no widgets (a console or QML
// host) loads the library: its messages go to standard error, it gets no
// window, and nothing takes it down.

#include "tarvelo.h"

#include <QCoreApplication>
#include <QTemporaryFile>
#include <cstdio>
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Standard error of the calls in `body`, caught in a file.
template <typename Body>
QString standardErrorOf(Body body)
{
    QTemporaryFile file;
    EXPECT_TRUE(file.open());
    std::fflush(stderr);
    int saved = dup(STDERR_FILENO);
    dup2(file.handle(), STDERR_FILENO);
    body();
    std::fflush(stderr);
    dup2(saved, STDERR_FILENO);
    close(saved);
    file.seek(0);
    return QString::fromLocal8Bit(file.readAll());
}

}  // namespace

TEST(CoreApplicationHost, GetsItsMessagesOnStandardErrorAndNoWindow)
{
    qunsetenv("TARVELO_MESSAGE_LOG");
    void* library = dlopen(TARVELO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(library, nullptr) << dlerror();
    void* host = dlopen(HOST_NONE, RTLD_NOW | RTLD_LOCAL);
    ASSERT_NE(host, nullptr) << dlerror();
    auto init = reinterpret_cast<decltype(&Frame_Init)>(dlsym(library, "Frame_Init"));
    auto exec = reinterpret_cast<decltype(&Frame_ExecFunc)>(dlsym(library, "Frame_ExecFunc"));
    auto freeAll = reinterpret_cast<decltype(&Frame_FreeAll)>(dlsym(library, "Frame_FreeAll"));

    bool found = true;
    QString said = standardErrorOf([&] { found = init(0, 0, host, 0); });
    EXPECT_FALSE(found);
    EXPECT_TRUE(said.contains(QStringLiteral("没有发现主程序中的Frame_ExecSqlCmd函数"))) << said.toStdString();
    EXPECT_TRUE(said.contains(QStringLiteral("没有发现主程序中的Frame_GetWorkPath函数"))) << said.toStdString();
    for (int32_t function : {1, 2, 3})
        exec(function);
    EXPECT_TRUE(freeAll());
    EXPECT_TRUE(QCoreApplication::instance()->inherits("QCoreApplication"));
    EXPECT_FALSE(QCoreApplication::instance()->inherits("QApplication")) << "the library made no application of its own";
    dlclose(host);
    dlclose(library);
}

int main(int argc, char** argv)
{
    QCoreApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
