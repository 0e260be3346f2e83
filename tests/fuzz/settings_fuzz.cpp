// The settings file as anyone may have saved it: GBK or UTF-8 with a
// byte-order mark, any bytes. Every setting is read, then one is written,
// which rewrites the whole file: that value must read back, and every other
// key must read as it did before, comments and all the rest of the file
// kept. A file GBK cannot hold is refused and left as it was.

#include "framework/GbkText.h"
#include "framework/IniFile.h"
#include "settings/IniData.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
// Names are bytes, as the library reads them.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <cstdint>
#include <cstdlib>
#include <utility>
#include <vector>

namespace {

const QString File = QStringLiteral("Tarvelo.ini");
const QString Missing = QStringLiteral("\x01missing");

// Every section and key of the file, found by a parser of our own choosing
// (SimpleIni as it comes), named as the library will be asked for them.
std::vector<std::pair<QString, QString>> keysOf(const QByteArray& bytes)
{
    const bool utf8 = bytes.startsWith("\xEF\xBB\xBF");
    QByteArray text = utf8 ? bytes.mid(3) : bytes;
    auto decode = [utf8](const char* name) { return utf8 ? QString::fromUtf8(name) : tarvelo::fromGbk(name); };
    CSimpleIniA ini(false, true, false);
    std::vector<std::pair<QString, QString>> keys;
    if (ini.LoadData(text.constData(), size_t(text.size())) < 0)
        return keys;
    CSimpleIniA::TNamesDepend sections;
    ini.GetAllSections(sections);
    for (const auto& section : sections) {
        CSimpleIniA::TNamesDepend names;
        ini.GetAllKeys(section.pItem, names);
        for (const auto& key : names)
            keys.emplace_back(decode(section.pItem), decode(key.pItem));
    }
    return keys;
}

std::vector<QString> valuesOf(const std::vector<std::pair<QString, QString>>& keys)
{
    tarvelo::IniFile ini(File);
    std::vector<QString> values;
    for (const auto& [section, key] : keys)
        values.push_back(ini.readString(section, key, Missing));
    return values;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    static QTemporaryDir work;
    QDir::setCurrent(work.path());
    setenv("TARVELO_LOG", "/dev/null", 1);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char*>(data), qsizetype(size));
    QFile file(File);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        std::abort();
    file.write(input);
    file.close();
    tarvelo::TIniData settings;
    tarvelo::TPortParam line;
    settings.ReadPortParam(line);
    settings.ReadSaveToDatabase();
    settings.ReadMonitorPort();
    settings.ReadLocalPort();
    settings.ReadCardIndex();
    settings.ReadPictureDirText();

    std::vector<std::pair<QString, QString>> others;
    for (auto& key : keysOf(input))
        if (!(key.first == QStringLiteral("设置") && key.second == QStringLiteral("视频卡号")))
            others.push_back(std::move(key));
    const std::vector<QString> before = valuesOf(others);
    try {
        settings.WriteCardIndex(line.Port);
    } catch (const tarvelo::IniFileError&) {
        QFile kept(File);
        if (!kept.open(QIODevice::ReadOnly) || kept.readAll() != input)
            std::abort();  // refused, so left byte for byte as it was
        return 0;
    }
    if (settings.ReadCardIndex() != line.Port)
        std::abort();  // a write must read back
    if (valuesOf(others) != before)
        std::abort();  // and keep every other key as it read
    return 0;
}
