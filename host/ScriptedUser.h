#pragma once
// A user at the screen, played by a script: finds the library's controls by
// name and presses, clicks, types, answers file dialogs and takes pictures
// of windows. A control is named by its object name, its caption without
// the accelerator mark, or its tool tip; controls of an open modal window
// come first, as a user can reach no other.

#include <QString>
#include <QWidget>
#include <functional>

namespace host {

class ScriptedUser {
public:
    explicit ScriptedUser(QString shotsDir) : shotsDir_(std::move(shotsDir)) {}

    // The modal window a user sees now: message boxes do not count, they
    // are answered on their own.
    static QWidget* modalWindow();

    static QWidget* find(const QString& name);

    // Each returns an empty text when it did it, otherwise why not.
    QString press(const QString& name);
    QString release(const QString& name);
    QString set(const QString& name, const QString& value);
    QString answerFileDialog(const QString& path);
    QString screenshot(const QString& name);  // of the modal window, else of the library's window
    QString closeModal();
    static QString textOf(const QString& name, bool& found);

    // Clicks later, from the event loop: a click that opens a modal window
    // returns only when that window closes. False when there is no such button.
    static bool clickLater(const QString& name, std::function<void()> clicked);

private:
    QString shotsDir_;
};

}  // namespace host
