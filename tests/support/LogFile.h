#pragma once
// The library's log while the object lives: TARVELO_LOG names the file.

#include "support/TempDir.h"

#include <QFile>
#include <QStringList>

namespace tarvelo::test {

class LogFile {
public:
    explicit LogFile(const QString& path) : path_(path) { qputenv("TARVELO_LOG", QFile::encodeName(path)); }
    ~LogFile() { qunsetenv("TARVELO_LOG"); }
    QStringList lines() const { return QString::fromUtf8(readBytes(path_)).split('\n', Qt::SkipEmptyParts); }

private:
    QString path_;
};

}  // namespace tarvelo::test
