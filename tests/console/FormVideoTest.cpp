// The video console under the offscreen platform, with scripted capture
// drivers and a pseudo-terminal as the matrix line.

#include "../capture/device/ScriptedDriver.h"
#include "capture/device/DriverRegistry.h"
#include "console/FormVideo.h"
#include "settings/IniData.h"
#include "support/LogFile.h"
#include "support/PostgresServer.h"
#include "support/PseudoTerminal.h"
#include "support/TempDir.h"
#include "support/Parts.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QRegularExpression>
#include <QTimer>
#include <QMouseEvent>
#include <QPushButton>
#include "framework/SpinEdit.h"
#include <functional>
#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

class FormVideoTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        driver = std::make_shared<ScriptedDriver>(script);
        useDrivers({driver});
        qputenv("TARVELO_MESSAGE_LOG", QFile::encodeName(dir.file("messages.log")));
    }
    void TearDown() override
    {
        console.reset();
        DriverRegistry::setDriverSource(nullptr);
        qunsetenv("TARVELO_MESSAGE_LOG");
    }

    void useDrivers(std::vector<std::shared_ptr<CaptureDriver>> drivers)
    {
        DriverRegistry::setDriverSource([drivers](int32_t) { return drivers; });
    }
    void writeLine(int32_t port)
    {
        TIniData().WritePortParam({port, 9600, 8, 'n', 1});
    }
    TfmVideo& open()
    {
        ConsoleServices services;
        services.AdoString = adoString;
        services.HaveRight = [this](int32_t right) { return right == 5 && granted; };
        console = std::make_unique<TfmVideo>(services);
        console->ApplyParam("op1", "");
        return *console;
    }
    // The fourteen controls that follow the matrix link.
    std::vector<QWidget*> linkControls()
    {
        std::vector<QWidget*> controls;
        for (const char* name : {"sbUp", "sbDown", "sbLeft", "sbRight", "sbZoomIn", "sbZoomOut", "sbFocuIn", "sbFocuOut",
                                 "sbApertureIn", "sbApertureOut", "btSwitch", "btRecord", "btCapture", "btShowSet"})
            controls.push_back(part<QWidget>(*console, name));
        return controls;
    }
    int enabledCount()
    {
        int n = 0;
        for (QWidget* w : linkControls())
            n += w->isEnabled();
        return n;
    }
    void click(QWidget* target, QEvent::Type type, Qt::MouseButton button)
    {
        QMouseEvent e(type, QPointF(5, 5), target->mapToGlobal(QPointF(5, 5)), button,
                      type == QEvent::MouseButtonRelease ? Qt::NoButton : button, Qt::NoModifier);
        QApplication::sendEvent(target, &e);
    }
    QString messages() { return QString::fromUtf8(readBytes(dir.file("messages.log"))); }
    // A console that stores its snapshots as rows of a table made here.
    TfmVideo& openForDatabase(const QString& connection, const QString& table)
    {
        QueryObject maker;
        maker.setConnectionString(connection);
        maker.setStatement(table);
        maker.execute();
        writeLine(5);
        TIniData().WriteSaveToDatabase(true);
        adoString = connection;
        TfmVideo& form = open();
        form.show();
        return form;
    }
    // The rows' video inputs, in the order they were stored.
    QList<int> portsIn(const QString& connection)
    {
        QueryObject reader;
        reader.setConnectionString(connection);
        reader.setStatement("select VIDEOPORT from CAPPICTURE order by rowid");
        reader.open();
        QList<int> ports;
        for (int row = 0; row < reader.rowCount(); ++row)
            ports << reader.listed(row, "VIDEOPORT").toInt();
        return ports;
    }

    int rowsIn(const QString& connection)
    {
        QueryObject reader;
        reader.setConnectionString(connection);
        reader.setStatement("select * from CAPPICTURE");
        reader.open();
        return reader.rowCount();
    }

    TempWorkDir dir;
    PortsDir ports;
    PseudoTerminal line{ports, 5};
    DriverScript script;
    std::shared_ptr<ScriptedDriver> driver;
    bool granted = true;
    QString adoString;
    std::unique_ptr<TfmVideo> console;
};

}  // namespace

TEST_F(FormVideoTest, LinkAndDriverCrossed)
{
    struct Case {
        bool link;
        bool driver;
        QString status;
        int enabled;
    } cases[] = {
        {true, true, "", 14},
        {false, true, "矩阵连接串口参数有误", 0},
        {true, false, "无视频捕捉设备(卡)", 14},
        {false, false, "无视频捕捉设备(卡)", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.status.toStdString() + (c.link ? " link" : " no link"));
        writeLine(c.link ? 5 : 0);
        useDrivers(c.driver ? std::vector<std::shared_ptr<CaptureDriver>>{driver}
                            : std::vector<std::shared_ptr<CaptureDriver>>{});
        TfmVideo& form = open();
        EXPECT_EQ(part<QLabel>(form, "lShow")->text(), c.link ? "lShow" : "矩阵连接串口参数有误") << "before the first showing";
        form.show();
        EXPECT_EQ(part<QLabel>(form, "lShow")->text(), c.status);
        EXPECT_EQ(enabledCount(), c.enabled);
        EXPECT_TRUE(part<SpinEdit>(form, "sePort")->isEnabled());
        EXPECT_TRUE(part<QPushButton>(form, "btClose")->isEnabled());
        EXPECT_TRUE(part<QPushButton>(form, "btParamSet")->isEnabled());
        EXPECT_EQ(part<TVideoCap>(form, "VideoCap")->VideoOverlay(), c.driver) << "the live picture";
        console.reset();
    }
}

TEST_F(FormVideoTest, ADriverWithoutOverlayEndsTheFirstShowing)
{
    writeLine(0);
    script.hasOverlay = false;
    TfmVideo& form = open();
    form.show();
    EXPECT_EQ(messages(), "Driver has no overlay mode\n") << "the framework's error report";
    EXPECT_EQ(enabledCount(), 14) << "the controls keep the form's state, link down or not";
    EXPECT_FALSE(part<TVideoCap>(form, "VideoCap")->VideoOverlay());
    form.hide();
    form.show();
    EXPECT_EQ(messages(), "Driver has no overlay mode\n") << "no later showing retries";
}

TEST_F(FormVideoTest, RightsDecideTheSettingsButtons)
{
    writeLine(5);
    granted = false;
    TfmVideo& form = open();
    form.show();
    EXPECT_FALSE(part<QPushButton>(form, "btShowSet")->isVisible());
    EXPECT_FALSE(part<QPushButton>(form, "btParamSet")->isVisible());
    granted = true;
    form.ApplyParam("op1", "");
    EXPECT_TRUE(part<QPushButton>(form, "btShowSet")->isVisible());
    EXPECT_TRUE(part<QPushButton>(form, "btParamSet")->isVisible());
}

TEST_F(FormVideoTest, ClosingHidesAndAShowingLaterChangesNothing)
{
    writeLine(5);
    TfmVideo& form = open();
    form.show();
    part<QLabel>(form, "lShow")->setText("kept");
    form.close();
    EXPECT_FALSE(form.isVisible());
    TIniData().WriteCardIndex(7);  // not read again
    form.show();
    EXPECT_EQ(part<QLabel>(form, "lShow")->text(), "kept");
    EXPECT_EQ(part<TVideoCap>(form, "VideoCap")->DriverIndex(), 0);
    part<QPushButton>(form, "btClose")->click();
    EXPECT_FALSE(form.isVisible());
}

TEST_F(FormVideoTest, SwitchingUsesTheMonitorsReadAtCreation)
{
    writeLine(5);
    TIniData().WriteLocalPort(1);
    TfmVideo& form = open();
    form.show();
    TIniData().WriteLocalPort(3);  // the settings dialog, while the console lives
    part<SpinEdit>(form, "sePort")->setValue(12);
    part<QPushButton>(form, "btSwitch")->click();
    EXPECT_EQ(line.read(7), "1Ma12#a");
    form.SwitchToTV(5);
    EXPECT_EQ(line.read(6), "2Ma5#a");
    EXPECT_EQ(form.matrix().CurrentPort(), 5);
}

TEST_F(FormVideoTest, CameraHeadButtonsPressAndReleaseWithAnyMouseButton)
{
    writeLine(5);
    TfmVideo& form = open();
    form.show();
    HeadButtonWidget* up = part<HeadButtonWidget>(form, "sbUp");
    HeadButtonWidget* zoomOut = part<HeadButtonWidget>(form, "sbZoomOut");
    click(up, QEvent::MouseButtonPress, Qt::RightButton);
    click(up, QEvent::MouseButtonRelease, Qt::RightButton);
    click(zoomOut, QEvent::MouseButtonPress, Qt::LeftButton);
    click(zoomOut, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(line.read(12), "1Ua0Ua1Wa0Wa");
    EXPECT_EQ(line.drain(), "");
}

// A press whose release never comes still stops the head, once.
TEST_F(FormVideoTest, ALostPressSendsItsReleaseOnce)
{
    writeLine(5);
    TfmVideo& form = open();
    form.show();
    HeadButtonWidget* left = part<HeadButtonWidget>(form, "sbLeft");
    click(left, QEvent::MouseButtonPress, Qt::LeftButton);
    form.hide();
    click(left, QEvent::MouseButtonRelease, Qt::LeftButton);
    EXPECT_EQ(line.read(6), "1La0La") << "hidden while held";
    EXPECT_EQ(line.drain(), "") << "the late release sends nothing more";

    form.show();
    HeadButtonWidget* focusIn = part<HeadButtonWidget>(form, "sbFocuIn");
    click(focusIn, QEvent::MouseButtonPress, Qt::LeftButton);
    QEvent ungrab(QEvent::UngrabMouse);
    QApplication::sendEvent(focusIn, &ungrab);
    EXPECT_EQ(line.read(6), "1Na0Na") << "another window took the mouse";

    click(part<HeadButtonWidget>(form, "sbApertureOut"), QEvent::MouseButtonPress, Qt::MiddleButton);
    console.reset();
    EXPECT_EQ(line.read(6), "1Ca0Ca") << "destroyed while held";
}

TEST_F(FormVideoTest, SnapshotsFromTheButtonAndTheHost)
{
    writeLine(5);
    TIniData().WritePictureDir(dir.file("pictures"));
    TfmVideo& form = open();
    form.SnapshotFromHost();
    EXPECT_EQ(part<QLabel>(form, "lShow")->text(), "不能保存图片") << "a console never shown has no driver";
    form.show();
    form.SwitchToMonitor(3);
    line.read(6);
    part<QPushButton>(form, "btCapture")->click();
    EXPECT_EQ(part<QLabel>(form, "lShow")->text(), "");
    QStringList stored = QDir(dir.file("pictures")).entryList(QDir::Files);
    ASSERT_EQ(stored.size(), 1);
    EXPECT_TRUE(stored[0].startsWith("3-")) << stored[0].toStdString();
    EXPECT_TRUE(stored[0].endsWith("-op1.jpg")) << stored[0].toStdString();
}

// Every text a user reads is Chinese; single letters of access keys aside.
TEST_F(FormVideoTest, NoEnglishInTheWindow)
{
    writeLine(5);
    TfmVideo& form = open();
    form.show();
    const QRegularExpression word("[A-Za-z]{2,}");
    for (QWidget* w : form.findChildren<QWidget*>()) {
        QString shown = w->toolTip() + ' ' + w->statusTip() + ' ' + w->whatsThis();
        if (auto* label = qobject_cast<QLabel*>(w))
            shown += ' ' + label->text();
        if (auto* button = qobject_cast<QAbstractButton*>(w))
            shown += ' ' + button->text();
        EXPECT_FALSE(word.match(shown).hasMatch()) << w->objectName().toStdString() << ": " << shown.toStdString();
    }
}

// The statement box waits for the user while the host goes on: snapshots
// the host asks for meanwhile take their frames at once and are stored after
// it, in order, sixteen at most; and the host may free the console before a
// box closes (AddressSanitizer watches what is touched then).
TEST_F(FormVideoTest, SnapshotsAskedForWhileItsStatementBoxWaits)
{
    qunsetenv("TARVELO_MESSAGE_LOG");  // a box that waits
    LogFile log(dir.file("tarvelo.log"));
    QString connection = "Provider=SQLite;Data Source=" + dir.file("pictures.db");
    TfmVideo& form = openForDatabase(connection, "create table CAPPICTURE (VIDEOPORT integer, CAPTIME datetime, "
                                                 "OPERATOR char(10), PICTURE blob)");
    int boxes = 0;
    std::function<void()> inFirstBox;
    QTimer host;
    QObject::connect(&host, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box)
            return;
        if (boxes++ == 0)
            inFirstBox();
        box->accept();
    });
    host.start(10);
    inFirstBox = [&] {
        for (int camera = 1; camera <= 20; ++camera) {
            console->SwitchToTV(camera);
            console->SnapshotFromHost();
        }
    };
    part<QPushButton>(form, "btCapture")->click();
    EXPECT_EQ(boxes, 17) << "the one open, then the sixteen waiting, one after another";
    QList<int> stored = portsIn(connection);
    QList<int> asked;
    for (int camera = 1; camera <= 16; ++camera)
        asked << camera;
    ASSERT_EQ(stored.size(), 17);
    EXPECT_EQ(stored.mid(1), asked) << "in the order asked for, each with the camera of its moment";
    EXPECT_EQ(log.lines().filter("snapshot: refused").size(), 4);
    EXPECT_EQ(part<QLabel>(form, "lShow")->text(), "保存到数据库完成");

    boxes = 0;
    inFirstBox = [&] {
        console->SnapshotFromHost();
        console.reset();  // Frame_FreeAll from a handler of the host's
    };
    part<QPushButton>(form, "btCapture")->click();
    host.stop();
    EXPECT_EQ(boxes, 1) << "no box once the console is gone";
    EXPECT_EQ(rowsIn(connection), 17) << "the console went before its rows";
}

// A server restarting under an open console and an open query: the next
// statements find the connection lost and connect again by themselves.
TEST_F(FormVideoTest, SnapshotsSurviveADatabaseRestart)
{
    PostgresServer server;
    LogFile log(dir.file("tarvelo.log"));
    TfmVideo& form = openForDatabase(server.connectionString(),
                                     "create table CAPPICTURE (VIDEOPORT integer, CAPTIME timestamp, "
                                     "OPERATOR char(10) not null, PICTURE bytea)");
    QueryObject query;  // as the query window keeps it
    query.setConnectionString(server.connectionString());
    query.setStatement("select * from CAPPICTURE");
    query.open();
    part<QPushButton>(form, "btCapture")->click();
    EXPECT_EQ(part<QLabel>(form, "lShow")->text(), "保存到数据库完成");
    server.restart();
    part<QPushButton>(form, "btCapture")->click();
    EXPECT_EQ(part<QLabel>(form, "lShow")->text(), "保存到数据库完成") << "after the restart";
    ASSERT_NO_THROW(query.open());
    EXPECT_EQ(query.rowCount(), 2);
    QStringList logged = log.lines();
    EXPECT_EQ(logged.filter("database: the connection was lost").size(), 2) << logged.join('\n').toStdString();
    EXPECT_EQ(logged.filter("database: connected again").size(), 2);
    EXPECT_EQ(logged.filter(QRegularExpression("^\\d{4}-\\d\\d-\\d\\d ")).size(), logged.size())
        << "a reason of several lines is one line of the log";
}

// Settings files as people and their editors save them; the command on the
// line shows they were read.
TEST_F(FormVideoTest, SettingsFilesAsEditorsSaveThem)
{
    const std::pair<const char*, QByteArray> files[] = {
        {"GBK with CRLF", gbk("[串口]\r\n串口号=5\r\n波特率=9600\r\n数据位=8\r\n停止位=1\r\n[视频端口]\r\n本机=3\r\n")},
        {"UTF-8 with a byte-order mark, spaces, LF, a comment, sections reversed",
         "\xEF\xBB\xBF; 记事本\n[视频端口]\n本机 = 3\n\n[串口]\n串口号 = 5\n波特率=9600\n数据位 =8\n停止位= 1\n"},
    };
    for (const auto& [what, bytes] : files) {
        SCOPED_TRACE(what);
        writeBytes(dir.file("Tarvelo.ini"), bytes);
        LogFile log(dir.file("tarvelo.log"));
        open().SwitchToMonitor(12);
        EXPECT_EQ(line.read(7), "3Ma12#a");
        EXPECT_EQ(log.lines().filter("read as UTF-8").size(), bytes.startsWith("\xEF\xBB\xBF") ? 1 : 0);
        console.reset();
        QFile::remove(dir.file("tarvelo.log"));
    }
}

