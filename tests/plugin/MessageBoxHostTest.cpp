// A Qt host loads the library and closes the message boxes it shows, as a
// user would, recording each one.

#include "tarvelo.h"

#include <QApplication>
#include <QMessageBox>
#include <QTimer>
#include <dlfcn.h>
#include <gtest/gtest.h>

namespace {

struct SeenBox {
    QString text;
    bool modal;
    QMessageBox::StandardButtons buttons;
};

class MessageBoxHostTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        library = dlopen(TARVELO_LIBRARY, RTLD_NOW | RTLD_LOCAL);
        ASSERT_NE(library, nullptr) << dlerror();
        init = reinterpret_cast<decltype(init)>(dlsym(library, "Frame_Init"));
        ASSERT_NE(init, nullptr);
        QObject::connect(&closer, &QTimer::timeout, [this] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box)
                return;
            seen.push_back({box->text(), box->isModal(), box->standardButtons()});
            box->accept();
        });
        closer.start(20);
    }

    void TearDown() override
    {
        closer.stop();
        if (library)
            dlclose(library);
    }

    bool initWith(const char* hostModulePath)
    {
        void* host = dlopen(hostModulePath, RTLD_NOW | RTLD_LOCAL);
        EXPECT_NE(host, nullptr) << dlerror();
        bool result = init(0, 0, host, 0);
        dlclose(host);
        return result;
    }

    QStringList texts() const
    {
        QStringList out;
        for (const SeenBox& b : seen)
            out << b.text;
        return out;
    }

    void* library = nullptr;
    decltype(&Frame_Init) init = nullptr;
    QTimer closer;
    std::vector<SeenBox> seen;
};

}  // namespace

TEST_F(MessageBoxHostTest, AHostWithoutServicesSeesSixMessagesInOrder)
{
    EXPECT_FALSE(initWith(HOST_NONE));
    EXPECT_EQ(texts(), QStringList({
                           QStringLiteral("没有发现主程序中的Frame_ExecSqlCmd函数"),
                           QStringLiteral("没有发现主程序中的Frame_GetMainFormHandle函数"),
                           QStringLiteral("没有发现主程序中的Frame_HaveRight函数"),
                           QStringLiteral("没有发现主程序中的Frame_GetImageByID函数"),
                           QStringLiteral("没有发现主程序中的Frame_AddSystemLog函数"),
                           QStringLiteral("没有发现主程序中的Frame_GetWorkPath函数"),
                       }));
    for (const SeenBox& b : seen) {
        EXPECT_TRUE(b.modal);
        EXPECT_EQ(b.buttons, QMessageBox::Ok);
    }
}

TEST_F(MessageBoxHostTest, TheMainFormHandleNameIsNotTheOneLookedUp)
{
    EXPECT_FALSE(initWith(HOST_FORMHANDLE));
    EXPECT_EQ(texts(), QStringList({QStringLiteral("没有发现主程序中的Frame_GetMainFormHandle函数")}));
}

// The host unloads the library from a handler of its own while a box of
// the library waits: the code that showed the box is still there when the
// box closes, and the call goes on to its end.
TEST_F(MessageBoxHostTest, AnUnloadDuringABoxLetsTheCallFinish)
{
    closer.stop();
    QTimer host;
    QObject::connect(&host, &QTimer::timeout, [this] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (library) {
            dlclose(library);
            library = nullptr;
        }
        seen.push_back({box->text(), box->isModal(), box->standardButtons()});
        box->accept();
    });
    host.start(20);
    EXPECT_FALSE(initWith(HOST_NONE));
    EXPECT_EQ(seen.size(), 6u) << "every lookup went on";
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
