#pragma once
// The stand-in host's main window: a button for every export and a log.

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;

namespace host {

class HostSession;

class HostWindow : public QWidget {
    Q_OBJECT
public:
    explicit HostWindow(HostSession& session);

private:
    void run(const QString& step);

    HostSession& session_;
    QLineEdit* argument_;
};

}  // namespace host
