#pragma once
// A fresh temporary directory that is also the current directory while the
// object lives, because the settings file is "./Tarvelo.ini".

#include <QString>
#include <QTemporaryDir>

namespace tarvelo::test {

class TempWorkDir {
public:
    TempWorkDir();
    ~TempWorkDir();
    QString path() const { return dir_.path(); }
    QString file(const QString& name) const { return dir_.filePath(name); }

private:
    QTemporaryDir dir_;
    QString previous_;
};

void writeBytes(const QString& path, const QByteArray& bytes);
QByteArray readBytes(const QString& path);
QByteArray gbk(const QString& text);  // the text as GBK bytes

}  // namespace tarvelo::test
