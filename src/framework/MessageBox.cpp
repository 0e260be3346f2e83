#include "framework/MessageBox.h"

#include "framework/Application.h"

#include <QCoreApplication>
#include <QFile>
#include <QMessageBox>
#include <cstdio>
#include <cstdlib>

namespace tarvelo {

bool unattended();

namespace {

bool logUnattended(const QString& text)
{
    if (!unattended())
        return false;
    QFile log(qEnvironmentVariable("TARVELO_MESSAGE_LOG"));
    if (log.open(QIODevice::Append))  // one "\n" a line, on Windows too
        log.write((text + '\n').toUtf8());
    return true;
}

QString boxTitle()
{
    QString name = QCoreApplication::applicationName();
    return name.isEmpty() ? QStringLiteral("Tarvelo") : name;
}

}  // namespace

bool unattended()
{
    return !qEnvironmentVariableIsEmpty("TARVELO_MESSAGE_LOG");
}

void showMessage(const QString& text)
{
    showMessage(text, boxTitle(), MessageIcon::None);
}

void showMessage(const QString& text, const QString& caption, MessageIcon icon)
{
    if (logUnattended(text))
        return;
    if (!Application::ensureWidgets()) {
        // A host that shows no widgets: the message goes to standard error.
        std::fprintf(stderr, "%s\n", text.toLocal8Bit().constData());
        return;
    }
    QMessageBox::Icon shown = icon == MessageIcon::Information ? QMessageBox::Information
                              : icon == MessageIcon::Critical  ? QMessageBox::Critical
                                                               : QMessageBox::NoIcon;
    QMessageBox box(shown, caption, text, QMessageBox::Ok);
    Application::adopt(&box);
    box.exec();
}

}  // namespace tarvelo
