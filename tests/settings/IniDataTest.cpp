#include "framework/Application.h"
#include "framework/GbkText.h"
#include "framework/PathSeparator.h"
#include "settings/IniData.h"
#include "support/TempDir.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <gtest/gtest.h>

using namespace tarvelo;
using tarvelo::test::gbk;
using tarvelo::test::readBytes;
using tarvelo::test::TempWorkDir;
using tarvelo::test::writeBytes;

namespace {

class IniDataTest : public ::testing::Test {
protected:
    void TearDown() override { SetHostWorkPath(QString()); }

    void store(const QString& text) { writeBytes(dir.file("Tarvelo.ini"), gbk(text)); }

    // Runs Python with the settings file's path as its argument.
    QString python(const QString& script)
    {
        QProcess p;
        p.start(PYTHON3, {"-c", script, dir.file("Tarvelo.ini")});
        EXPECT_TRUE(p.waitForFinished(30000));
        EXPECT_EQ(p.exitCode(), 0) << p.readAllStandardError().toStdString();
        return QString::fromUtf8(p.readAllStandardOutput()).trimmed();
    }

    TempWorkDir dir;
    TIniData ini;
};

}  // namespace

TEST_F(IniDataTest, NoFileGivesEveryDefault)
{
    TPortParam p;
    p.Port = p.BaudRate = p.DataBits = p.StopBits = 99;
    p.Parity = 'x';
    ini.ReadPortParam(p);
    EXPECT_EQ(p.Port, 0);
    EXPECT_EQ(p.BaudRate, 0);
    EXPECT_EQ(p.DataBits, 0);
    EXPECT_EQ(p.Parity, 'n');
    EXPECT_EQ(p.StopBits, 0);
    EXPECT_EQ(ini.ReadLocalPort(), 1);
    EXPECT_EQ(ini.ReadMonitorPort(), 2);
    EXPECT_EQ(ini.ReadCardIndex(), 0);
    EXPECT_FALSE(ini.ReadSaveToDatabase());
    EXPECT_EQ(ini.ReadPictureDirText(), "");
    EXPECT_FALSE(QFile::exists("Tarvelo.ini"));
}

TEST_F(IniDataTest, EveryWriteReadsBack)
{
    ini.WriteCardIndex(3);
    ini.WriteLocalPort(7);
    ini.WriteMonitorPort(-4);
    ini.WritePictureDir(QStringLiteral("/srv/抓拍"));
    ini.WriteSaveToDatabase(true);
    ini.WritePortParam({4, 9600, 8, 'e', 2});
    EXPECT_EQ(ini.ReadCardIndex(), 3);
    EXPECT_EQ(ini.ReadLocalPort(), 7);
    EXPECT_EQ(ini.ReadMonitorPort(), -4);
    EXPECT_EQ(ini.ReadPictureDirText(), QStringLiteral("/srv/抓拍"));
    EXPECT_TRUE(ini.ReadSaveToDatabase());
    TPortParam p;
    ini.ReadPortParam(p);
    EXPECT_EQ(p.Port, 4);
    EXPECT_EQ(p.BaudRate, 9600);
    EXPECT_EQ(p.DataBits, 8);
    EXPECT_EQ(p.Parity, 'e');
    EXPECT_EQ(p.StopBits, 2);
    QByteArray bytes = readBytes("Tarvelo.ini");
    EXPECT_TRUE(bytes.contains(gbk(QStringLiteral("校验位=e"))));
    EXPECT_TRUE(bytes.contains(gbk(QStringLiteral("停止位=2"))));
    EXPECT_TRUE(bytes.contains(gbk(QStringLiteral("数据库启用=1"))));
    ini.WritePictureDir(QString());
    EXPECT_TRUE(readBytes("Tarvelo.ini").replace("\r\n", "\n").contains(gbk(QStringLiteral("图片目录=\n"))));
}

TEST_F(IniDataTest, StoredTextsReadAsTheirDocumentedValues)
{
    store(QStringLiteral("[串口]\n串口号=COM3\n波特率=99999999999\n数据位=8\n校验位=Even\n停止位=x\n"
                         "[设置]\n数据库启用=2\n视频卡号=\n"));
    TPortParam p;
    ini.ReadPortParam(p);
    EXPECT_EQ(p.Port, 0);
    EXPECT_EQ(p.BaudRate, 0);
    EXPECT_EQ(p.DataBits, 8);
    EXPECT_EQ(p.Parity, 'E');
    EXPECT_EQ(p.StopBits, 0);
    EXPECT_TRUE(ini.ReadSaveToDatabase());
    EXPECT_EQ(ini.ReadCardIndex(), 0);

    store(QStringLiteral("[串口]\n串口号=3\n校验位=odd\n[设置]\n数据库启用=yes\n"));
    ini.ReadPortParam(p);
    EXPECT_EQ(p.Port, 3);
    EXPECT_EQ(p.Parity, 'o');
    EXPECT_FALSE(ini.ReadSaveToDatabase());

    store(QStringLiteral("[串口]\n校验位=\n"));
    ini.ReadPortParam(p);
    EXPECT_EQ(p.Parity, 'n');
}

TEST_F(IniDataTest, BrokenFilesStillGiveDefaults)
{
    writeBytes("Tarvelo.ini", QByteArray());
    EXPECT_EQ(ini.ReadLocalPort(), 1);
    writeBytes("Tarvelo.ini", "\xFF\xFE\x00[\x81\n=\n==\n[" + gbk(QStringLiteral("视频端口")) + "\n本机");
    EXPECT_EQ(ini.ReadLocalPort(), 1);
    EXPECT_EQ(ini.ReadMonitorPort(), 2);
    writeBytes("Tarvelo.ini", "[" + gbk(QStringLiteral("视频端口")) + "]\r\n" +
                                  gbk(QStringLiteral("本机")) + "=5\r\n" +
                                  gbk(QStringLiteral("主监视器")) + "=\xD5");
    EXPECT_EQ(ini.ReadLocalPort(), 5);
    EXPECT_EQ(ini.ReadMonitorPort(), 2);
}

// The library joins with the platform's separator ('\\' on Windows) and
// neither adds nor removes one beyond that.
TEST_F(IniDataTest, PictureDirectoryFollowsTheJoiningRule)
{
    const QString sep{QLatin1Char(PathSeparator)};
    const QString work = dir.file("Work");
    QDir().mkdir(work);
    SetHostWorkPath(work);
    EXPECT_EQ(ini.ReadPictureDir(), work + sep + "CapPicture" + sep);
    EXPECT_TRUE(QFileInfo(work + "/CapPicture").isDir());
    EXPECT_FALSE(QFile::exists("Tarvelo.ini")) << "a default used is not written back";

    SetHostWorkPath(work + sep);
    EXPECT_EQ(ini.ReadPictureDir(), work + sep + sep + "CapPicture" + sep);

    const QString pic = dir.file("Pic");
    ini.WritePictureDir(pic + sep);
    EXPECT_EQ(ini.ReadPictureDir(), pic + sep + sep);
    EXPECT_TRUE(QFileInfo(pic).isDir());
    ini.WritePictureDir(pic);
    EXPECT_EQ(ini.ReadPictureDir(), pic + sep);
}

TEST_F(IniDataTest, PictureDirectoryIsCreatedWithItsParents)
{
    const QString sep{QLatin1Char(PathSeparator)};
    QDir().mkdir(dir.file("A"));
    ini.WritePictureDir(dir.file("A/B/C"));
    ini.ReadPictureDir();
    EXPECT_TRUE(QFileInfo(dir.file("A/B")).isDir());
    EXPECT_TRUE(QFileInfo(dir.file("A/B/C")).isDir());

    ini.WritePictureDir(QStringLiteral("rel/pics"));
    EXPECT_EQ(ini.ReadPictureDir(), "rel/pics" + sep);
    EXPECT_TRUE(QFileInfo(dir.file("rel/pics")).isDir());

    ini.WritePictureDir(QStringLiteral("p"));  // too short to be created
    EXPECT_EQ(ini.ReadPictureDir(), "p" + sep);
    EXPECT_FALSE(QFile::exists(dir.file("p")));
}

TEST_F(IniDataTest, WithoutAWorkPathTheDirectoryIsAtTheRoot)
{
    const QString sep{QLatin1Char(PathSeparator)};
    bool existed = QFileInfo::exists("/CapPicture");
    EXPECT_EQ(ini.ReadPictureDir(), sep + "CapPicture" + sep);
    if (!existed)
        QDir().rmdir("/CapPicture");
}

// Python's GBK reader runs beside the Linux build only.
#ifndef _WIN32
TEST_F(IniDataTest, AnIndependentGbkReaderReadsWhatWeWrite)
{
    ini.WritePortParam({3, 19200, 7, 'o', 1});
    ini.WritePictureDir(QStringLiteral("/数据/抓拍"));
    ini.WriteLocalPort(5);
    QString out = python(QStringLiteral(
        "import configparser,sys\n"
        "c=configparser.RawConfigParser()\n"
        "c.read(sys.argv[1],encoding='gbk')\n"
        "print(c['串口']['串口号'],c['串口']['波特率'],c['串口']['校验位'],c['设置']['图片目录'],c['视频端口']['本机'])\n"));
    EXPECT_EQ(out, QStringLiteral("3 19200 o /数据/抓拍 5"));
}

TEST_F(IniDataTest, WeReadWhatAnIndependentGbkReaderWrites)
{
    python(QStringLiteral(
        "import configparser,sys\n"
        "c=configparser.RawConfigParser()\n"
        "c['设置']={'视频卡号':'2','图片目录':'/监控/图片','数据库启用':'1'}\n"
        "c['视频端口']={'本机':'4','主监视器':'6'}\n"
        "c['串口']={'串口号':'2','波特率':'4800','数据位':'8','校验位':'e','停止位':'2'}\n"
        "f=open(sys.argv[1],'w',encoding='gbk',newline='\\r\\n')\n"
        "c.write(f)\n"));
    EXPECT_EQ(ini.ReadCardIndex(), 2);
    EXPECT_EQ(ini.ReadPictureDirText(), QStringLiteral("/监控/图片"));
    EXPECT_TRUE(ini.ReadSaveToDatabase());
    EXPECT_EQ(ini.ReadLocalPort(), 4);
    EXPECT_EQ(ini.ReadMonitorPort(), 6);
    TPortParam p;
    ini.ReadPortParam(p);
    EXPECT_EQ(p.Port, 2);
    EXPECT_EQ(p.BaudRate, 4800);
    EXPECT_EQ(p.Parity, 'e');
    EXPECT_EQ(p.StopBits, 2);
}

#endif
