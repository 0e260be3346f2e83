#pragma once
// The stand-in host's main window: every export with the values it passes,
// the answers the host gives, and a log of what each call did.

#include "HostServices.h"

#include <QWidget>

class QLineEdit;
class QPlainTextEdit;
class QSpinBox;

namespace host {

class HostSession;

class HostWindow : public QWidget {
    Q_OBJECT
public:
    HostWindow(HostSession& session, ServiceAnswers answers, const QString& adoString, const QString& operatorName);

    void log(const QString& line);

private:
    QWidget* hostGroup();
    QWidget* consoleGroup();
    void run(const QString& step);

    HostSession& session_;
    ServiceAnswers answers_;
    QLineEdit* ado_;
    QLineEdit* operator_;
    QLineEdit* extra_;
    QSpinBox* right_;
    QSpinBox* monitorCamera_;  // the camera each switch export passes
    QSpinBox* tvCamera_;
    QPlainTextEdit* log_;
};

}  // namespace host
