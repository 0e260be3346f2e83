// The library's console and message boxes belong to the host's window: on
// a real X server their WM_TRANSIENT_FOR names the window the host handed
// over.

#include "console/FormVideo.h"
#include "framework/Application.h"
#include "framework/MessageBox.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
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

// WM_TRANSIENT_FOR of a shown window, read by xprop.
uintptr_t transientFor(QWidget& window)
{
    QCoreApplication::processEvents();
    QProcess xprop;
    xprop.start("xprop", {"-id", QString::number(window.winId()), "WM_TRANSIENT_FOR"});
    xprop.waitForFinished(5000);
    auto match = QRegularExpression("window id # (0x[0-9a-f]+)").match(QString::fromLocal8Bit(xprop.readAll()));
    return match.hasMatch() ? match.captured(1).toULongLong(nullptr, 16) : 0;
}

}  // namespace

TEST(OwnerWindow, TheConsoleBelongsToTheHostsWindow)
{
    QTemporaryDir work;  // the console reads ./Tarvelo.ini
    QString previous = QDir::currentPath();
    QDir::setCurrent(work.path());
    QWidget host;
    host.show();
    QWidget otherHost;
    otherHost.show();
    Application::setOwnerWindow(uintptr_t(host.winId()));
    {
        TfmVideo console{ConsoleServices{}};
        console.show();
        EXPECT_EQ(transientFor(console), uintptr_t(host.winId())) << "the first showing";
        console.hide();
        console.show();
        EXPECT_EQ(transientFor(console), uintptr_t(host.winId())) << "shown again";
        console.hide();
        Application::setOwnerWindow(uintptr_t(otherHost.winId()));
        console.show();
        EXPECT_EQ(transientFor(console), uintptr_t(otherHost.winId())) << "a new owner";
    }
    Application::setOwnerWindow(0);
    QDir::setCurrent(previous);
}

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
