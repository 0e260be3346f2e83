// The settings file as anyone may have saved it: GBK or UTF-8 with a
// byte-order mark, any bytes. Every setting is read, then one is written,
// which rewrites the whole file.

#include "framework/IniFile.h"
#include "settings/IniData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static QTemporaryDir work;
    QDir::setCurrent(work.path());
    setenv("TARVELO_LOG", "/dev/null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    QFile file(QStringLiteral("Tarvelo.ini"));
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(reinterpret_cast<const char*>(data), qint64(size));
    file.close();
    tarvelo::TIniData settings;
    tarvelo::TPortParam line;
    settings.ReadPortParam(line);
    settings.ReadSaveToDatabase();
    settings.ReadMonitorPort();
    settings.ReadLocalPort();
    settings.ReadCardIndex();
    QString directory = settings.ReadPictureDirText();
    try {
        settings.WriteCardIndex(line.Port);
    } catch (const tarvelo::IniFileError&) {
        // A UTF-8 file that GBK cannot hold is refused whole: left as it was.
        QFile kept(QStringLiteral("Tarvelo.ini"));
        if (!kept.open(QIODevice::ReadOnly) || kept.readAll() != QByteArray(reinterpret_cast<const char*>(data), qsizetype(size)))
            std::abort();
        return 0;
    }
    if (settings.ReadCardIndex() != line.Port)
        std::abort();  // a write must read back
    (void)directory;
    return 0;
}
