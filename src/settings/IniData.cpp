#include "settings/IniData.h"

#include "framework/Application.h"
#include "framework/PathSeparator.h"

#include <QDir>
#include <QFileInfo>

namespace tarvelo {
namespace {

const QString Settings = QStringLiteral("设置");
const QString VideoPorts = QStringLiteral("视频端口");
const QString SerialLine = QStringLiteral("串口");

const QString CardIndexKey = QStringLiteral("视频卡号");
const QString LocalKey = QStringLiteral("本机");
const QString MonitorKey = QStringLiteral("主监视器");
const QString PictureDirKey = QStringLiteral("图片目录");
const QString DatabaseKey = QStringLiteral("数据库启用");
const QString PortKey = QStringLiteral("串口号");
const QString BaudKey = QStringLiteral("波特率");
const QString DataBitsKey = QStringLiteral("数据位");
const QString ParityKey = QStringLiteral("校验位");
const QString StopBitsKey = QStringLiteral("停止位");

// A stored parity that is present but empty reads as no parity.
char parityLetter(const QString& stored)
{
    if (stored.isEmpty())
        return 'n';
    QChar first = stored.front();
    return first.unicode() < 0x80 ? static_cast<char>(first.unicode()) : '?';
}

QString withoutTrailingSeparators(QString path)
{
    while (path.endsWith(QLatin1Char(PathSeparator)))
        path.chop(1);
    return path;
}

}  // namespace

// Relative, so that it is found in the current directory at each access.
#ifdef _WIN32
const char* const TIniData::FileName = ".\\Tarvelo.ini";
#else
const char* const TIniData::FileName = "./Tarvelo.ini";
#endif

TIniData::TIniData() : file_(QString::fromLatin1(FileName)) {}

int32_t TIniData::ReadCardIndex() const { return file_.readInteger(Settings, CardIndexKey, 0); }
void TIniData::WriteCardIndex(int32_t value) { file_.writeInteger(Settings, CardIndexKey, value); }
int32_t TIniData::ReadLocalPort() const { return file_.readInteger(VideoPorts, LocalKey, 1); }
void TIniData::WriteLocalPort(int32_t value) { file_.writeInteger(VideoPorts, LocalKey, value); }
int32_t TIniData::ReadMonitorPort() const { return file_.readInteger(VideoPorts, MonitorKey, 2); }
void TIniData::WriteMonitorPort(int32_t value) { file_.writeInteger(VideoPorts, MonitorKey, value); }

QString TIniData::ReadPictureDir() const
{
    QString dir = ReadPictureDirText();
    if (dir.isEmpty())
        dir = HostWorkPath() + QLatin1Char(PathSeparator) + QStringLiteral("CapPicture");
    ForceDirectories(dir);
    return dir + QLatin1Char(PathSeparator);
}

QString TIniData::ReadPictureDirText() const
{
    return file_.readString(Settings, PictureDirKey, QString());
}

void TIniData::WritePictureDir(const QString& text) { file_.writeString(Settings, PictureDirKey, text); }

bool TIniData::ReadSaveToDatabase() const { return file_.readBool(Settings, DatabaseKey, false); }
void TIniData::WriteSaveToDatabase(bool value) { file_.writeBool(Settings, DatabaseKey, value); }

void TIniData::ReadPortParam(TPortParam& param) const
{
    param.Port = file_.readInteger(SerialLine, PortKey, 0);
    param.BaudRate = file_.readInteger(SerialLine, BaudKey, 0);
    param.DataBits = file_.readInteger(SerialLine, DataBitsKey, 0);
    param.Parity = parityLetter(file_.readString(SerialLine, ParityKey, QStringLiteral("n")));
    param.StopBits = file_.readInteger(SerialLine, StopBitsKey, 0);
}

void TIniData::WritePortParam(const TPortParam& param)
{
    file_.writeInteger(SerialLine, PortKey, param.Port);
    file_.writeInteger(SerialLine, BaudKey, param.BaudRate);
    file_.writeInteger(SerialLine, DataBitsKey, param.DataBits);
    file_.writeString(SerialLine, ParityKey, QString(QLatin1Char(param.Parity)));
    file_.writeInteger(SerialLine, StopBitsKey, param.StopBits);
}

void ForceDirectories(const QString& dir)
{
    QString path = withoutTrailingSeparators(dir);
    if (path.size() < 3 || QFileInfo(path).isDir())
        return;
    // Through Qt: the wide file API on Windows, where a narrow path would be
    // read in the ANSI code page.
    QDir().mkpath(path);
}

}  // namespace tarvelo
