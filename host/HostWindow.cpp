#include "HostWindow.h"

#include "HostSession.h"

#include <QFormLayout>
#include <QGridLayout>
#include <QGroupBox>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace host {

HostWindow::HostWindow(HostSession& session, ServiceAnswers answers, const QString& adoString,
                       const QString& operatorName)
    : session_(session),
      answers_(std::move(answers)),
      ado_(new QLineEdit(adoString, this)),
      operator_(new QLineEdit(operatorName, this)),
      extra_(new QLineEdit(this)),
      right_(new QSpinBox(this)),
      monitorCamera_(new QSpinBox(this)),
      tvCamera_(new QSpinBox(this)),
      log_(new QPlainTextEdit(this))
{
    setWindowTitle(QStringLiteral("tarvelo-host"));
    right_->setRange(-1000, 1000);
    right_->setValue(answers_.right);
    for (QSpinBox* camera : {monitorCamera_, tvCamera_}) {
        camera->setRange(-100000, 100000);
        camera->setValue(1);
    }
    log_->setReadOnly(true);
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(hostGroup());
    layout->addWidget(consoleGroup());
    layout->addWidget(log_, 1);
    resize(520, 520);
}

QWidget* HostWindow::hostGroup()
{
    auto* group = new QGroupBox(QStringLiteral("The host"), this);
    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Connection string"), ado_);
    form->addRow(QStringLiteral("Operator name"), operator_);
    form->addRow(QStringLiteral("Second parameter"), extra_);
    form->addRow(QStringLiteral("Frame_HaveRight answers"), right_);
    connect(right_, &QSpinBox::valueChanged, this, [this](int value) {
        answers_.right = value;
        setServiceAnswers(answers_);
    });
    auto* buttons = new QGridLayout;
    auto add = [&](const QString& caption, int column, std::function<QString()> step) {
        auto* b = new QPushButton(caption, group);
        connect(b, &QPushButton::clicked, this, [this, step] { run(step()); });
        buttons->addWidget(b, 0, column);
    };
    add(QStringLiteral("Frame_Init"), 0, [] { return QStringLiteral("Frame_Init"); });
    add(QStringLiteral("Frame_SetAdoString"), 1, [this] { return "Frame_SetAdoString=" + ado_->text(); });
    add(QStringLiteral("Frame_SetParam"), 2,
        [this] { return "Frame_SetParam=" + operator_->text() + ',' + extra_->text(); });
    form->addRow(buttons);
    return group;
}

QWidget* HostWindow::consoleGroup()
{
    auto* group = new QGroupBox(QStringLiteral("The library's windows"), this);
    auto* grid = new QGridLayout(group);
    grid->addWidget(monitorCamera_, 0, 0);
    grid->addWidget(tvCamera_, 1, 0);
    auto add = [&](const QString& caption, int row, int column, std::function<QString()> step) {
        auto* b = new QPushButton(caption, group);
        connect(b, &QPushButton::clicked, this, [this, step] { run(step()); });
        grid->addWidget(b, row, column);
    };
    add(QStringLiteral("Video_SwitchToMonitor"), 0, 1,
        [this] { return "Video_SwitchToMonitor=" + QString::number(monitorCamera_->value()); });
    add(QStringLiteral("Video_SwitchToTV"), 1, 1,
        [this] { return "Video_SwitchToTV=" + QString::number(tvCamera_->value()); });
    add(QStringLiteral("Console (1)"), 2, 0, [] { return QStringLiteral("Frame_ExecFunc=1"); });
    add(QStringLiteral("Picture query (2)"), 2, 1, [] { return QStringLiteral("Frame_ExecFunc=2"); });
    add(QStringLiteral("Playback (3)"), 2, 2, [] { return QStringLiteral("Frame_ExecFunc=3"); });
    add(QStringLiteral("Video_CapturePicture"), 3, 0, [] { return QStringLiteral("Video_CapturePicture"); });
    add(QStringLiteral("Frame_FreeChild"), 3, 1, [] { return QStringLiteral("Frame_FreeChild"); });
    add(QStringLiteral("Frame_FreeAll"), 3, 2, [] { return QStringLiteral("Frame_FreeAll"); });
    return group;
}

void HostWindow::log(const QString& line)
{
    log_->appendPlainText(line);
}

void HostWindow::run(const QString& step)
{
    session_.runStep(step);
}

}  // namespace host
