#pragma once
// The simple modal message box: the text and an OK button.

#include <QString>

namespace tarvelo {

// Shows `text` modally on the calling thread and returns when the user has
// closed it. When the environment variable TARVELO_MESSAGE_LOG names a file,
// nobody is there to close a box (unattended runs, headless hosts): the text
// is appended to that file as a line of UTF-8 instead, and the call returns.
// A host whose Qt application object shows no widgets gets the text on
// standard error. The box belongs to the host's window.
void showMessage(const QString& text);

// True when TARVELO_MESSAGE_LOG names a file: nobody is at the screen.
bool unattended();

enum class MessageIcon { None, Information, Critical };

// The same, with a caption and an icon.
void showMessage(const QString& text, const QString& caption, MessageIcon icon);

}  // namespace tarvelo
