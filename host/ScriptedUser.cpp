#include "ScriptedUser.h"

#include <QAbstractButton>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPointer>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

namespace host {
namespace {

bool names(const QWidget* w, const QString& name)
{
    if (w->objectName() == name || (!w->toolTip().isEmpty() && w->toolTip() == name))
        return true;
    auto* button = qobject_cast<const QAbstractButton*>(w);
    return button && QString(button->text()).remove('&') == name;
}

QWidget* findIn(QWidget* window, const QString& name)
{
    if (names(window, name))
        return window;
    const auto children = window->findChildren<QWidget*>();
    for (QWidget* w : children)
        if (names(w, name))
            return w;
    return nullptr;
}

// The library's windows on show: not the host's own, not message boxes.
QList<QWidget*> libraryWindows()
{
    QList<QWidget*> shown;
    const auto windows = QApplication::topLevelWidgets();
    for (QWidget* w : windows)
        if (w->isVisible() && !qobject_cast<QMessageBox*>(w) && !w->property("tarvelo-host").toBool())
            shown.append(w);
    return shown;
}

}  // namespace

QWidget* ScriptedUser::modalWindow()
{
    QWidget* modal = QApplication::activeModalWidget();
    return qobject_cast<QMessageBox*>(modal) ? nullptr : modal;
}

QWidget* ScriptedUser::find(const QString& name)
{
    if (QWidget* modal = modalWindow())
        return findIn(modal, name);
    const auto windows = libraryWindows();
    for (QWidget* w : windows)
        if (QWidget* found = findIn(w, name))
            return found;
    return nullptr;
}

QString ScriptedUser::press(const QString& name)
{
    QWidget* w = find(name);
    if (!w || !w->isEnabled())
        return w ? name + " is disabled" : "no control " + name;
    QTest::mousePress(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
    return {};
}

QString ScriptedUser::release(const QString& name)
{
    QWidget* w = find(name);
    if (!w)
        return "no control " + name;
    QTest::mouseRelease(w, Qt::LeftButton, Qt::NoModifier, w->rect().center());
    return {};
}

QString ScriptedUser::set(const QString& name, const QString& value)
{
    QWidget* w = find(name);
    if (auto* spin = qobject_cast<QAbstractSpinBox*>(w)) {
        spin->findChild<QLineEdit*>()->setText(value);
        spin->interpretText();
    } else if (auto* edit = qobject_cast<QLineEdit*>(w)) {
        edit->setText(value);
    } else if (auto* box = qobject_cast<QCheckBox*>(w)) {
        box->setChecked(value == "1");
    } else if (auto* combo = qobject_cast<QComboBox*>(w)) {
        combo->setCurrentText(value);
    } else {
        return w ? name + " takes no value" : "no control " + name;
    }
    return {};
}

QString ScriptedUser::answerFileDialog(const QString& path)
{
    auto* dialog = qobject_cast<QFileDialog*>(modalWindow());
    auto* name = dialog ? dialog->findChild<QLineEdit*>(QStringLiteral("fileNameEdit")) : nullptr;
    if (!name)
        return "no file dialog is open";
    // Typed and confirmed with Enter, as a user does.
    name->setText(QFileInfo(path).absoluteFilePath());
    QTest::keyClick(name, Qt::Key_Return);
    return {};
}

QString ScriptedUser::screenshot(const QString& name)
{
    QWidget* window = modalWindow();
    if (!window && !libraryWindows().isEmpty())
        window = libraryWindows().first();
    if (!window)
        return "no window to take";
    QDir().mkpath(shotsDir_);
    QString file = QDir(shotsDir_).filePath(name + ".png");
    if (!window->grab().save(file))
        return "cannot write " + file;
    return {};
}

QString ScriptedUser::closeModal()
{
    QWidget* modal = modalWindow();
    if (!modal)
        return "no modal window is open";
    modal->close();
    return {};
}

QString ScriptedUser::textOf(const QString& name, bool& found)
{
    QWidget* w = find(name);
    found = w != nullptr;
    if (auto* label = qobject_cast<QLabel*>(w))
        return label->text();
    if (auto* button = qobject_cast<QAbstractButton*>(w))
        return button->text();
    return w ? w->windowTitle() : QString();
}

bool ScriptedUser::clickLater(const QString& name, std::function<void()> clicked)
{
    QPointer<QAbstractButton> button = qobject_cast<QAbstractButton*>(find(name));
    if (!button || !button->isEnabled())
        return false;
    QTimer::singleShot(0, button, [button, clicked = std::move(clicked)] {
        button->click();
        clicked();
    });
    return true;
}

}  // namespace host
