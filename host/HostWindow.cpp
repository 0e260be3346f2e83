#include "HostWindow.h"

#include "HostSession.h"

#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

namespace host {

HostWindow::HostWindow(HostSession& session) : session_(session), argument_(new QLineEdit(this))
{
    setWindowTitle(QStringLiteral("tarvelo-host"));
    auto* layout = new QGridLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Argument (number, text, or operator,extra):"), this), 0, 0, 1, 3);
    layout->addWidget(argument_, 1, 0, 1, 3);
    int index = 0;
    for (const QString& name : HostSession::stepNames()) {
        if (name == "wait")
            continue;
        auto* button = new QPushButton(name, this);
        connect(button, &QPushButton::clicked, this, [this, name] {
            QString arg = argument_->text();
            run(arg.isEmpty() ? name : name + '=' + arg);
        });
        layout->addWidget(button, 2 + index / 3, index % 3);
        ++index;
    }
}

void HostWindow::run(const QString& step)
{
    session_.runStep(step);
}

}  // namespace host
