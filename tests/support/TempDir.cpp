#include "support/TempDir.h"

#include "framework/GbkText.h"

#include <QDir>
#include <QFile>
#include <stdexcept>

namespace tarvelo::test {

TempWorkDir::TempWorkDir() : previous_(QDir::currentPath())
{
    if (!dir_.isValid() || !QDir::setCurrent(dir_.path()))
        throw std::runtime_error("cannot make a temporary work directory");
}

TempWorkDir::~TempWorkDir()
{
    QDir::setCurrent(previous_);
}

void writeBytes(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly | QIODevice::Truncate) || f.write(bytes) != bytes.size())
        throw std::runtime_error("cannot write " + path.toStdString());
}

QByteArray readBytes(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray gbk(const QString& text)
{
    return QByteArray::fromStdString(toGbk(text));
}

}  // namespace tarvelo::test
