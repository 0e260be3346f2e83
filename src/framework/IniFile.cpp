#include "framework/IniFile.h"

#include "framework/FileBeside.h"
#include "framework/GbkText.h"
#include "framework/Log.h"

#include <QFile>
#include <QFileInfo>
#include <QSaveFile>
// Our names are GBK bytes and our comparator folds ASCII only: SimpleIni
// need not convert anything.
#define SI_NO_CONVERSION
#define SI_IMPLEMENTATION
#include <SimpleIni.h>
#include <charconv>
#include <memory>
#include <optional>
#include <vector>

namespace tarvelo {
namespace {

// Orders names byte by byte, folding ASCII letters only. The trail byte of a
// GBK double-byte character may fall in 'A'..'Z' and must not be folded, or
// two different Chinese names would compare equal.
struct GbkNoCaseLess {
    static unsigned char fold(unsigned char c) { return c >= 'A' && c <= 'Z' ? c + 32 : c; }

    bool operator()(const char* left, const char* right) const
    {
        auto l = reinterpret_cast<const unsigned char*>(left);
        auto r = reinterpret_cast<const unsigned char*>(right);
        bool trailByte = false;
        for (;; ++l, ++r) {
            unsigned char a = trailByte ? *l : fold(*l);
            unsigned char b = trailByte ? *r : fold(*r);
            if (a != b || a == 0)
                return a < b;
            trailByte = !trailByte && a >= 0x81 && a <= 0xFE;
        }
    }
};

using Store = CSimpleIniTempl<char, GbkNoCaseLess, SI_ConvertA<char>>;

// The file as stored: GBK, or UTF-8 where it starts with a byte-order mark
// (what current Windows editors save).
struct FileText {
    std::string bytes;  // without the byte-order mark
    bool crlf = false;
    bool utf8 = false;
};

constexpr std::string_view Utf8Mark = "\xEF\xBB\xBF";

std::optional<FileText> readFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return std::nullopt;
    std::string data = file.readAll().toStdString();
    bool utf8 = data.starts_with(Utf8Mark);
    if (utf8)
        data.erase(0, Utf8Mark.size());
    bool crlf = data.find("\r\n") != std::string::npos;
    return FileText{std::move(data), crlf, utf8};
}

std::string encode(const QString& text, bool utf8)
{
    return utf8 ? text.toStdString() : toGbk(text);
}

QString decode(std::string_view bytes, bool utf8)
{
    return utf8 ? QString::fromUtf8(bytes.data(), qsizetype(bytes.size())) : fromGbk(bytes);
}

std::unique_ptr<Store> newStore()
{
    auto store = std::make_unique<Store>(false, true, false);
    store->SetSpaces(false);
    return store;
}

std::unique_ptr<Store> loadStore(const std::optional<FileText>& text)
{
    auto store = newStore();
    if (text && store->LoadData(text->bytes.data(), text->bytes.size()) < 0)
        return newStore();
    return store;
}


// Every section, key and value, in the store's order.
std::vector<std::string> entriesOf(const Store& store)
{
    std::vector<std::string> entries;
    Store::TNamesDepend sections;
    store.GetAllSections(sections);
    sections.sort(Store::Entry::LoadOrder());
    for (const auto& section : sections) {
        Store::TNamesDepend keys;
        store.GetAllKeys(section.pItem, keys);
        keys.sort(Store::Entry::LoadOrder());
        for (const auto& key : keys) {
            Store::TNamesDepend values;
            store.GetAllValues(section.pItem, key.pItem, values);
            for (const auto& value : values)
                entries.push_back(std::string(section.pItem) + '\0' + key.pItem + '\0' + value.pItem);
        }
    }
    return entries;
}

// A file that is not quite an INI file (a section name with no closing
// bracket, running into the next line) could be written back meaning
// something else: the new text must read as what was meant to be written.
void checkRendered(const Store& meant, const std::string& rendered, const QString& path)
{
    auto written = newStore();
    if (written->LoadData(rendered.data(), rendered.size()) < 0 || entriesOf(*written) != entriesOf(meant))
        throw IniFileError(path.toStdString() +
                           " cannot be written back without changing other settings: it is not a well-formed INI file");
}

// SimpleIni ends its lines as the platform does ("\r\n" on Windows); a
// file keeps the line ends it had, and a new one gets the platform's.
constexpr bool NewFilesEndLinesWithCrlf = SI_NEWLINE_A[0] == '\r';

std::string withLineEnds(const std::string& text, bool crlf)
{
    std::string out;
    out.reserve(text.size() + text.size() / 16);
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n')
            continue;
        if (text[i] == '\n' && crlf)
            out += '\r';
        out += text[i];
    }
    return out;
}

// The new text goes to a temporary file beside the old one, which replaces
// it only once it is complete and on the disk (Qt's save file flushes it;
// the directory is flushed after the rename): a full disk, a crash or a
// power cut half-way leaves the old settings as they were. The replacement keeps the old file's
// permissions, and a symbolic link stays a link to the updated target. Only
// where the directory takes no new file is the file rewritten in place.
// Unbuffered, because a buffered QSaveFile (Qt 6.4) commits a file that its
// final flush wrote only in part.
// QSaveFile's commit ignores what its own flush says, so the file is
// flushed, and the flush checked, here first; the directory flushed after
// is the one the file really is in, behind a symbolic link.
void writeAll(const QString& path, const std::string& bytes)
{
    QSaveFile file(path);
    file.setDirectWriteFallback(true);
    std::string why;
    bool written = file.open(QIODevice::WriteOnly | QIODevice::Unbuffered) &&
                   file.write(bytes.data(), static_cast<qint64>(bytes.size())) == static_cast<qint64>(bytes.size());
    if (written && !FlushToDisk(file, why)) {
        file.cancelWriting();
        throw IniFileError("cannot write " + path.toStdString() + ": " + why);
    }
    if (!written || !file.commit())
        throw IniFileError("cannot write " + path.toStdString() + ": " + file.errorString().toStdString());
    QString target = QFileInfo(path).canonicalFilePath();
    if (!FlushDirectoryOf(QFile::encodeName(target.isEmpty() ? path : target), why))
        throw IniFileError("cannot write " + path.toStdString() + ": " + why);
}

// A character GBK cannot hold would be written as "?": the file is refused
// instead, naming the first line that cannot be kept.
std::string toGbkWithoutLoss(const QString& text, const QString& path)
{
    const QStringList lines = text.split(QLatin1Char('\n'));
    for (qsizetype i = 0; i < lines.size(); ++i)
        if (!gbkCanHold(lines[i]))
            throw IniFileError(QStringLiteral("%1 cannot be written as GBK without loss: line %2 \"%3\"")
                                   .arg(path)
                                   .arg(i + 1)
                                   .arg(lines[i].trimmed())
                                   .toStdString());
    return toGbk(text);
}

}  // namespace

bool parseInt32(const QString& text, int32_t& value)
{
    std::string s = text.trimmed().toStdString();
    std::string_view digits(s);
    bool negative = !digits.empty() && digits.front() == '-';
    if (negative || (!digits.empty() && digits.front() == '+'))
        digits.remove_prefix(1);
    int base = 10;
    if (digits.starts_with('$')) {
        base = 16;
        digits.remove_prefix(1);
    } else if (digits.starts_with("0x") || digits.starts_with("0X")) {
        base = 16;
        digits.remove_prefix(2);
    }
    if (digits.empty() || digits.front() == '-' || digits.front() == '+')
        return false;
    int64_t magnitude = 0;
    auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), magnitude, base);
    if (ec != std::errc() || end != digits.data() + digits.size())
        return false;
    int64_t signedValue = negative ? -magnitude : magnitude;
    if (signedValue < INT32_MIN || signedValue > INT32_MAX)
        return false;
    value = static_cast<int32_t>(signedValue);
    return true;
}

IniFile::IniFile(QString path) : path_(std::move(path)) {}

std::optional<QString> IniFile::read(const QString& section, const QString& key) const
{
    auto text = readFile(path_);
    if (text && text->utf8 && !toldUtf8_) {
        toldUtf8_ = true;
        logLine("settings", path_.toStdString() + " starts with a UTF-8 byte-order mark: read as UTF-8");
    }
    auto store = loadStore(text);
    bool utf8 = text && text->utf8;
    const char* value = store->GetValue(encode(section, utf8).c_str(), encode(key, utf8).c_str(), nullptr);
    if (!value)
        return std::nullopt;
    return decode(value, utf8);
}

QString IniFile::readString(const QString& section, const QString& key, const QString& fallback) const
{
    return read(section, key).value_or(fallback);
}

int32_t IniFile::readInteger(const QString& section, const QString& key, int32_t fallback) const
{
    auto text = read(section, key);
    int32_t value = fallback;
    if (text && parseInt32(*text, value))
        return value;
    return fallback;
}

bool IniFile::readBool(const QString& section, const QString& key, bool fallback) const
{
    return readInteger(section, key, fallback ? 1 : 0) != 0;
}

void IniFile::writeString(const QString& section, const QString& key, const QString& value)
{
    // A file that exists but cannot be read or parsed must not be replaced
    // by one holding nothing but this key.
    auto text = readFile(path_);
    if (!text && QFile::exists(path_))
        throw IniFileError("Unable to read " + path_.toStdString());
    if (text && text->utf8) {
        // Written back as every reader of the settings expects it.
        text->bytes = toGbkWithoutLoss(decode(text->bytes, true), path_);
        text->utf8 = false;
        logLine("settings", path_.toStdString() + " was UTF-8: written back as GBK");
    }
    auto store = newStore();
    if (text && store->LoadData(text->bytes.data(), text->bytes.size()) < 0)
        throw IniFileError("Unable to read " + path_.toStdString());
    store->SetValue(toGbk(section).c_str(), toGbk(key).c_str(), toGbk(value).c_str(), nullptr, true);
    std::string rendered;
    if (store->Save(rendered, false) < 0)
        throw IniFileError("Unable to write to " + path_.toStdString());
    checkRendered(*store, rendered, path_);
    // A mark pasted into the middle of a file becomes part of a key; were
    // that key written first, the next reader would take the GBK file for
    // UTF-8. A blank line first keeps every key as it was.
    if (rendered.starts_with(Utf8Mark))
        rendered.insert(0, "\n");
    writeAll(path_, withLineEnds(rendered, text ? text->crlf : NewFilesEndLinesWithCrlf));
}

void IniFile::writeInteger(const QString& section, const QString& key, int32_t value)
{
    writeString(section, key, QString::number(value));
}

void IniFile::writeBool(const QString& section, const QString& key, bool value)
{
    writeString(section, key, value ? QStringLiteral("1") : QStringLiteral("0"));
}

}  // namespace tarvelo
