// The settings dialog: what it shows, what it writes (read back by Python's
// configparser with GBK, an independent reader), and when it writes nothing.

#include "framework/SpinEdit.h"
#include "settings/FormParam.h"
#include "settings/IniData.h"
#include "support/LogFile.h"
#include "support/TempDir.h"
#include "support/Parts.h"

#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QProcess>
#include <QKeyEvent>
#include <QPushButton>
#include <functional>
#include <gtest/gtest.h>

using namespace tarvelo;
using namespace tarvelo::test;

namespace {

class FormParamTest : public ::testing::Test {
protected:
    void SetUp() override { qputenv("TARVELO_MESSAGE_LOG", QFile::encodeName(dir.file("messages.log"))); }
    void TearDown() override { qunsetenv("TARVELO_MESSAGE_LOG"); }

    // Every key of the file as "section/key=value", in the file's order.
    QString storedKeys()
    {
        QProcess p;
        p.start("python3", {"-c",
                            "import configparser,sys\n"
                            "c=configparser.RawConfigParser()\n"
                            "c.optionxform=str\n"
                            "c.read(sys.argv[1],encoding='gbk')\n"
                            "print(' '.join(s+'/'+k+'='+v for s in c.sections() for k,v in c[s].items()))\n",
                            dir.file("Tarvelo.ini")});
        p.waitForFinished(10000);
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }
    QString messages() { return QString::fromUtf8(readBytes(dir.file("messages.log"))); }

    TempWorkDir dir;
};

const QString Saved = QStringLiteral("数据设置完成，再次启动时生效\n");
const QString Wrong = QStringLiteral("设置数据有误，请检查\n");

}  // namespace

TEST_F(FormParamTest, WithoutAFileItShowsTheDefaultsAndSavesThem)
{
    TfmParam dialog;
    EXPECT_EQ(part<QComboBox>(dialog, "cbPort")->currentText(), "0");
    EXPECT_EQ(part<QComboBox>(dialog, "cbBaud")->currentText(), "0");
    EXPECT_EQ(part<QComboBox>(dialog, "cbData")->currentText(), "0");
    EXPECT_EQ(part<QComboBox>(dialog, "cbParity")->currentText(), "无");
    EXPECT_EQ(part<QComboBox>(dialog, "cbStop")->currentText(), "0");
    EXPECT_EQ(part<SpinEdit>(dialog, "seTV")->number(), 2);
    EXPECT_EQ(part<SpinEdit>(dialog, "seLocal")->number(), 1);
    EXPECT_EQ(part<SpinEdit>(dialog, "seIndex")->number(), 0);
    EXPECT_FALSE(part<QCheckBox>(dialog, "cbDataBase")->isChecked());
    EXPECT_EQ(part<QLineEdit>(dialog, "edDir")->text(), "");
    EXPECT_EQ(part<QComboBox>(dialog, "cbPort")->count(), 30);
    dialog.show();
    part<QPushButton>(dialog, "btConfirm")->click();
    EXPECT_FALSE(dialog.isVisible());
    EXPECT_EQ(messages(), Saved);
    EXPECT_EQ(storedKeys(), "串口/串口号=0 串口/波特率=0 串口/数据位=0 串口/校验位=n 串口/停止位=0 设置/数据库启用=0 "
                            "设置/图片目录= 设置/视频卡号=0 视频端口/本机=1 视频端口/主监视器=2")
        << "every key, in the order of the writes";
}

TEST_F(FormParamTest, ParityLettersShowAndComeBack)
{
    struct Case {
        char stored;
        const char* shown;
        char written;
    } cases[] = {{'e', "偶校验", 'e'}, {'o', "奇校验", 'o'}, {'E', "偶校验", 'e'}, {'M', "无", 'n'}, {'s', "无", 'n'}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.stored);
        TIniData().WritePortParam({3, 9600, 8, c.stored, 1});
        TfmParam dialog;
        EXPECT_EQ(part<QComboBox>(dialog, "cbParity")->currentText(), QString::fromUtf8(c.shown));
        part<QPushButton>(dialog, "btConfirm")->click();
        EXPECT_TRUE(storedKeys().contains(QString("串口/校验位=") + c.written)) << storedKeys().toStdString();
    }
}

// What is no whole number, and text that the GBK file cannot hold (it
// would come back as "?"), get the error box and write nothing.
TEST_F(FormParamTest, WhatTheFileCannotHoldWritesNothing)
{
    TIniData().WritePortParam({3, 9600, 8, 'n', 1});
    QByteArray before = readBytes(dir.file("Tarvelo.ini"));
    const std::pair<const char*, std::function<void(TfmParam&)>> wrongs[] = {
        {"stop 1.5", [](TfmParam& d) { part<QComboBox>(d, "cbStop")->setCurrentText("1.5"); }},
        {"port COM3", [](TfmParam& d) { part<QComboBox>(d, "cbPort")->setCurrentText("COM3"); }},
        {"empty baud", [](TfmParam& d) { part<QComboBox>(d, "cbBaud")->setCurrentText(""); }},
        {"directory outside GBK", [](TfmParam& d) { part<QLineEdit>(d, "edDir")->setText(QStringLiteral("/srv/사진/é")); }},
    };
    for (const auto& [what, makeWrong] : wrongs) {
        SCOPED_TRACE(what);
        TfmParam dialog;
        makeWrong(dialog);
        dialog.show();
        part<QPushButton>(dialog, "btConfirm")->click();
        EXPECT_FALSE(dialog.isVisible()) << "it closes all the same";
        EXPECT_EQ(readBytes(dir.file("Tarvelo.ini")), before);
    }
    EXPECT_EQ(messages(), Wrong + Wrong + Wrong + Wrong);
}

TEST_F(FormParamTest, UnlistedNumbersAndEmptiedSpinBoxesAreSaved)
{
    TfmParam dialog;
    part<QComboBox>(dialog, "cbBaud")->setCurrentText("57600");
    part<SpinEdit>(dialog, "seTV")->findChild<QLineEdit*>()->clear();
    part<SpinEdit>(dialog, "seIndex")->findChild<QLineEdit*>()->setText("-");
    part<QCheckBox>(dialog, "cbDataBase")->setChecked(true);
    part<QLineEdit>(dialog, "edDir")->setText("/监控/图片");
    part<QPushButton>(dialog, "btConfirm")->click();
    QString stored = storedKeys();
    EXPECT_TRUE(stored.contains("串口/波特率=57600")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("视频端口/主监视器=0")) << "an emptied spin box";
    EXPECT_TRUE(stored.contains("设置/视频卡号=0")) << "a lone sign";
    EXPECT_TRUE(stored.contains("设置/数据库启用=1"));
    EXPECT_TRUE(stored.contains("设置/图片目录=/监控/图片"));
}

// Enter and Esc neither confirm nor close: the design gives the dialog no
// default and no cancel key.
TEST_F(FormParamTest, KeysCancelAndTheCloseBoxWriteNothing)
{
    for (bool closeBox : {false, true}) {
        TfmParam dialog;
        part<QComboBox>(dialog, "cbPort")->setCurrentText("7");
        dialog.show();
        for (int key : {Qt::Key_Return, Qt::Key_Enter, Qt::Key_Escape}) {
            QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier);
            QApplication::sendEvent(part<QLineEdit>(dialog, "edDir"), &press);
            EXPECT_TRUE(dialog.isVisible()) << key;
        }
        if (closeBox)
            dialog.close();
        else
            part<QPushButton>(dialog, "btCancel")->click();
        EXPECT_FALSE(dialog.isVisible());
    }
    EXPECT_FALSE(QFile::exists(dir.file("Tarvelo.ini")));
    EXPECT_EQ(messages(), "");
}

// A file a current Windows editor saved (UTF-8 with a byte-order mark, here
// written by Python): shown as it reads, written back as GBK.
TEST_F(FormParamTest, AUtf8FileIsShownAndWrittenBackAsGbk)
{
    QProcess p;
    p.start("python3", {"-c",
                        "import configparser,sys\n"
                        "c=configparser.RawConfigParser()\n"
                        "c.optionxform=str\n"
                        "c['设置']={'图片目录':'/监控/图片','数据库启用':'1'}\n"
                        "c['串口']={'串口号':'5','波特率':'9600','校验位':'e'}\n"
                        "c.write(open(sys.argv[1],'w',encoding='utf-8-sig'))\n",
                        dir.file("Tarvelo.ini")});
    ASSERT_TRUE(p.waitForFinished(10000));
    TfmParam dialog;
    EXPECT_EQ(part<QLineEdit>(dialog, "edDir")->text(), "/监控/图片");
    EXPECT_EQ(part<QComboBox>(dialog, "cbPort")->currentText(), "5");
    EXPECT_EQ(part<QComboBox>(dialog, "cbParity")->currentText(), "偶校验");
    EXPECT_TRUE(part<QCheckBox>(dialog, "cbDataBase")->isChecked());
    part<QPushButton>(dialog, "btConfirm")->click();
    EXPECT_FALSE(readBytes(dir.file("Tarvelo.ini")).startsWith("\xEF\xBB\xBF"));
    QString stored = storedKeys();
    EXPECT_TRUE(stored.contains("设置/图片目录=/监控/图片")) << stored.toStdString();
    EXPECT_TRUE(stored.contains("串口/校验位=e"));
}


// A UTF-8 file holding what GBK cannot (an emoji in a comment, bytes that
// are no UTF-8 behind the mark) is not written back with "?" in its place:
// the error box, and the file as it was.
TEST_F(FormParamTest, AUtf8FileGbkCannotHoldIsLeftAsItWas)
{
    for (const QByteArray& file : {QByteArray("\xEF\xBB\xBF[设置]\n; 监控室 \xF0\x9F\x93\xB7\n图片目录=/p\n"),
                                   QByteArray("\xEF\xBB\xBF[设置]\n图片目录=/p\xB5\xE3\n")}) {
        writeBytes(dir.file("Tarvelo.ini"), file);
        LogFile log(dir.file("tarvelo.log"));
        TfmParam dialog;
        part<QPushButton>(dialog, "btConfirm")->click();
        EXPECT_EQ(readBytes(dir.file("Tarvelo.ini")), file);
        EXPECT_EQ(messages(), Wrong);
        EXPECT_EQ(log.lines().filter("cannot be written as GBK without loss").size(), 1);
        QFile::remove(dir.file("messages.log"));
    }
}
