// Writes a picture and a setting into the directory it is given, as a
// console and the settings dialog do, and prints what each write reported,
// for a test that watches (or fails) the system calls from outside.
//   durable_writer DIR [--leftovers]
// --leftovers first leaves temporary files under the names this process
// would take, as a power cut leaves them for a later run with the same id.

#include "framework/FileBeside.h"
#include "framework/IniFile.h"

#include <QFile>
#include <QString>
#include <cstdio>
#include <cstring>
#include <unistd.h>

int main(int argc, char** argv)
{
    if (argc < 2)
        return 2;
    const QString dir = QString::fromLocal8Bit(argv[1]);
    if (argc > 2 && std::strcmp(argv[2], "--leftovers") == 0)
        for (unsigned n = 0; n < 16; ++n) {
            QFile left(dir + "/.~tarvelo-" + QString::number((qulonglong(getpid()) << 12) ^ n, 36) + ".tmp");
            left.open(QIODevice::WriteOnly);
        }
    std::string why;
    const char* outcomes[] = {"written", "not created", "not written", "name not durable"};
    auto picture = tarvelo::WriteBeside(dir + "/picture.jpg", QByteArray(5000, 'p'), why);
    std::printf("picture: %s %s\n", outcomes[int(picture)], why.c_str());
    try {
        tarvelo::IniFile settings(dir + "/Tarvelo.ini");
        settings.writeString(QStringLiteral("设置"), QStringLiteral("视频卡号"), "1");  // a new file
        settings.writeString(QStringLiteral("设置"), QStringLiteral("视频卡号"), "2");  // replaced
        std::printf("settings: written\n");
    } catch (const std::exception& e) {
        std::printf("settings: %s\n", e.what());
    }
    return 0;
}
