// Writes a picture and a setting into the directory it is given, as a
// console and the settings dialog do, for a test that watches the system
// calls from outside.

#include "framework/FileBeside.h"
#include "framework/IniFile.h"

#include <QString>
#include <cstdio>

int main(int argc, char** argv)
{
    if (argc != 2)
        return 2;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    std::string why;
    if (tarvelo::WriteBeside(dir + "/picture.jpg", QByteArray(5000, 'p'), why) != tarvelo::BesideResult::Written) {
        std::fprintf(stderr, "%s\n", why.c_str());
        return 1;
    }
    tarvelo::IniFile settings(dir + "/Tarvelo.ini");
    settings.writeString(QStringLiteral("设置"), QStringLiteral("视频卡号"), "1");  // a new file
    settings.writeString(QStringLiteral("设置"), QStringLiteral("视频卡号"), "2");  // replaced
    return 0;
}
