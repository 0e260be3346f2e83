#include "framework/MessageBox.h"

#include "framework/Application.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdlib>

namespace tarvelo {
namespace {

bool logUnattended(const QString& text)
{
    const char* path = std::getenv("TARVELO_MESSAGE_LOG");
    if (!path || !*path)
        return false;
    QFile log(QString::fromLocal8Bit(path));
    if (log.open(QIODevice::Append | QIODevice::Text))
        log.write((text + '\n').toUtf8());
    return true;
}

QString boxTitle()
{
    QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Tarvelo") : name;
}

}  // namespace

void showMessage(const QString& text)
{
    if (logUnattended(text))
        return;
    Application::ensureQt();
    QMessageBox box(QMessageBox::NoIcon, boxTitle(), text, QMessageBox::Ok);
    box.exec();
}

}  // namespace tarvelo
