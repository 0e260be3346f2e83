#pragma once
// A Windows-style INI file in GBK, read and written one value at a time. A
// file that starts with a UTF-8 byte-order mark is read as UTF-8 and
// written back as GBK.
//
// Nothing is cached: each read loads the file afresh and each write rewrites
// it at once, keeping everything else in it (other sections and keys,
// comments, order, CRLF line ends). Section and key names match without
// regard to ASCII case; where a key stands twice, the first one counts.

#include <QString>
#include <cstdint>
#include <optional>
#include <stdexcept>

namespace tarvelo {

class IniFileError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

class IniFile {
public:
    // Does not touch the file.
    explicit IniFile(QString path);

    const QString& path() const { return path_; }

    // A missing or unreadable file, section or key gives the default.
    QString readString(const QString& section, const QString& key, const QString& fallback) const;
    // Decimal (or $ / 0x hexadecimal) 32-bit integers; anything else gives the default.
    int32_t readInteger(const QString& section, const QString& key, int32_t fallback) const;
    bool readBool(const QString& section, const QString& key, bool fallback) const;

    // Throws IniFileError when the file cannot be written.
    void writeString(const QString& section, const QString& key, const QString& value);
    void writeInteger(const QString& section, const QString& key, int32_t value);
    void writeBool(const QString& section, const QString& key, bool value);

private:
    std::optional<QString> read(const QString& section, const QString& key) const;

    QString path_;
    mutable bool toldUtf8_ = false;  // the log hears of a UTF-8 file once
};

// The integer rule of the settings file, on its own for testing.
bool parseInt32(const QString& text, int32_t& value);

}  // namespace tarvelo
