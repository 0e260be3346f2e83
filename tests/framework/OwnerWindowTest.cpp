// The library's message boxes belong to the host's window: on a real X
// server the box's WM_TRANSIENT_FOR names the window the host handed over.

#include "framework/Application.h"
#include "framework/MessageBox.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTimer>
#include <QWidget>
#include <gtest/gtest.h>

using namespace tarvelo;

namespace {

// The window id in the box's WM_TRANSIENT_FOR, read by xprop; 0 for none.
uintptr_t transientForOfTheBox()
{
    uintptr_t found = 0;
    QTimer user;
    QObject::connect(&user, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        QProcess xprop;
        xprop.start("xprop", {"-id", QString::number(box->winId()), "WM_TRANSIENT_FOR"});
        xprop.waitForFinished(5000);
        QString answer = QString::fromLocal8Bit(xprop.readAllStandardOutput());
        auto match = QRegularExpression("window id # (0x[0-9a-f]+)").match(answer);
        if (match.hasMatch())
            found = match.captured(1).toULongLong(nullptr, 16);
        box->accept();
    });
    user.start(20);
    showMessage(QStringLiteral("没有发现主程序中的Frame_HaveRight函数"));
    return found;
}

}  // namespace

TEST(OwnerWindow, MessageBoxesBelongToTheHostsWindow)
{
    ASSERT_EQ(QGuiApplication::platformName(), "xcb");
    QWidget host;
    host.setWindowTitle("host");
    host.show();
    auto hostId = uintptr_t(host.winId());

    Application::setOwnerWindow(hostId);
    EXPECT_EQ(transientForOfTheBox(), hostId);

    QWidget otherHost;
    otherHost.show();
    Application::setOwnerWindow(uintptr_t(otherHost.winId()));
    EXPECT_EQ(transientForOfTheBox(), uintptr_t(otherHost.winId())) << "a new owner takes effect";

    Application::setOwnerWindow(0);
    EXPECT_NE(transientForOfTheBox(), hostId) << "no owner: the box is nobody's";
}

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}
