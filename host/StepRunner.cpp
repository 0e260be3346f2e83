#include "StepRunner.h"

#include <QApplication>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace host {
namespace {

constexpr int TickMs = 20;
constexpr qint64 StepLimitMs = 10000;

const QStringList UserSteps = {"press",  "release", "click", "set",      "file",
                               "shot",   "close",   "expect", "await", "awaitfile"};

void say(const QString& line)
{
    std::printf("%s\n", line.toUtf8().constData());
    std::fflush(stdout);
}

}  // namespace

StepRunner::StepRunner(HostSession& session, ScriptedUser& user) : session_(session), user_(user)
{
    clock_.start();
    timer_.setInterval(TickMs);
    connect(&timer_, &QTimer::timeout, this, [this] { tick(); });
}

bool StepRunner::drivesWindows(const QStringList& steps)
{
    for (const QString& step : steps)
        if (UserSteps.contains(step.section('=', 0, 0)))
            return true;
    return false;
}

void StepRunner::start(QStringList steps, std::function<void(bool)> done)
{
    steps_ = std::move(steps);
    done_ = std::move(done);
    next_ = 0;
    stepClock_.start();
    timer_.start();
}

void StepRunner::tick()
{
    if (clock_.elapsed() < waitUntil_)
        return;
    if (callStillRunning()) {
        if (stepClock_.elapsed() > StepLimitMs)
            fail(next_ - 1, QStringLiteral("the call did not return"));
        return;
    }
    if (next_ >= steps_.size()) {
        finish(true);
        return;
    }
    switch (run(steps_[next_])) {
    case Outcome::Done:
        ++next_;
        lastProblem_.clear();
        announced_ = false;
        stepClock_.restart();
        break;
    case Outcome::Again:
        if (stepClock_.elapsed() > StepLimitMs)
            fail(next_, lastProblem_.isEmpty() ? QStringLiteral("it did not happen in time") : lastProblem_);
        break;
    case Outcome::Failed:
        fail(next_, lastProblem_);
        break;
    }
}

bool StepRunner::callStillRunning() const
{
    if (!callRunning_ || !*callRunning_)
        return false;
    QWidget* modal = ScriptedUser::modalWindow();
    return !modal || modal == modalAtCall_;
}

std::shared_ptr<bool> StepRunner::startCall()
{
    callRunning_ = std::make_shared<bool>(true);
    modalAtCall_ = ScriptedUser::modalWindow();
    return callRunning_;
}

StepRunner::Outcome StepRunner::run(const QString& step)
{
    QString name = step.section('=', 0, 0);
    QString argument = step.section('=', 1);
    if (UserSteps.contains(name))
        return runUserStep(name, argument);
    if (name == "wait") {
        waitUntil_ = clock_.elapsed() + argument.toInt();
        return Outcome::Done;
    }
    if (!HostSession::stepNames().contains(name)) {
        lastProblem_ = QStringLiteral("unknown step");
        return Outcome::Failed;
    }
    // An export may open a modal window: it is called from the event loop,
    // and the script goes on inside the window.
    QTimer::singleShot(0, this, [this, running = startCall(), step, index = next_] {
        bool ok = session_.runStep(step);
        *running = false;
        if (!ok && timer_.isActive())
            fail(index, QStringLiteral("the host could not make the call"));
    });
    return Outcome::Done;
}

StepRunner::Outcome StepRunner::runUserStep(const QString& name, const QString& argument)
{
    QString first = argument.section(',', 0, 0), rest = argument.section(',', 1);
    if (name == "click") {
        if (!ScriptedUser::clickLater(argument, [running = startCall()] { *running = false; })) {
            callRunning_.reset();
            QWidget* window = ScriptedUser::modalWindow();
            lastProblem_ = "no button " + argument + " to click" +
                           (window ? " in the window " + window->windowTitle() : QString());
            return Outcome::Again;
        }
        say("click " + argument);
        return Outcome::Done;
    }
    if (name == "expect")
        return checkText(argument);
    if (name == "await")
        return awaitWord(argument);
    if (name == "awaitfile")
        return awaitFile(argument);
    QString problem;
    if (name == "press")
        problem = user_.press(argument);
    else if (name == "release")
        problem = user_.release(argument);
    else if (name == "set")
        problem = user_.set(first, rest);
    else if (name == "file")
        problem = user_.answerFileDialog(argument);
    else if (name == "shot")
        problem = user_.screenshot(argument);
    else if (name == "close")
        problem = user_.closeModal();
    if (!problem.isEmpty()) {
        lastProblem_ = problem;
        return Outcome::Again;  // the window may still be on its way
    }
    say(name == "shot" ? "screenshot " + argument + ".png" : name + " " + argument);
    return Outcome::Done;
}

StepRunner::Outcome StepRunner::checkText(const QString& argument)
{
    QString name = argument.section(',', 0, 0), expected = argument.section(',', 1);
    bool found = false;
    QString text = ScriptedUser::textOf(name, found);
    if (found && text == expected) {
        say(QStringLiteral("%1 says \"%2\"").arg(name, text));
        return Outcome::Done;
    }
    lastProblem_ = found ? QStringLiteral("%1 says \"%2\", not \"%3\"").arg(name, text, expected)
                         : "no control " + name;
    return Outcome::Again;
}

// Where standard input cannot be watched (a Windows host under Wine), the
// other side answers by making the file; the word is its name.
StepRunner::Outcome StepRunner::awaitFile(const QString& path)
{
    bool heard = QFileInfo::exists(path);
    if (!heard)
        lastProblem_ = "no file " + path;
    return awaited(QFileInfo(path).fileName(), heard ? Outcome::Done : Outcome::Again);
}

StepRunner::Outcome StepRunner::awaitWord(const QString& word)
{
    if (!input_) {
        input_ = std::make_unique<QSocketNotifier>(STDIN_FILENO, QSocketNotifier::Read);
        connect(input_.get(), &QSocketNotifier::activated, this, [this] { readInput(); });
    }
    if (wordsHeard_.remove(word))
        return awaited(word, Outcome::Done);
    lastProblem_ = QStringLiteral("standard input ended");
    return awaited(word, input_->isEnabled() ? Outcome::Again : Outcome::Failed);
}

// The other side is told once what the host waits for, and takes what
// time it needs.
StepRunner::Outcome StepRunner::awaited(const QString& word, Outcome outcome)
{
    if (!announced_) {
        say("waiting for " + word);
        announced_ = true;
    }
    stepClock_.restart();
    if (outcome == Outcome::Done)
        say("heard " + word);
    return outcome;
}

void StepRunner::readInput()
{
    char buffer[256];
    ssize_t n = ::read(STDIN_FILENO, buffer, sizeof buffer);
    if (n <= 0) {
        input_->setEnabled(false);  // nobody will answer any more
        return;
    }
    inputBuffer_.append(buffer, n);
    for (qsizetype end; (end = inputBuffer_.indexOf('\n')) >= 0; inputBuffer_.remove(0, end + 1))
        wordsHeard_.insert(QString::fromUtf8(inputBuffer_.left(end)).trimmed());
}

void StepRunner::fail(int index, const QString& why)
{
    say(QStringLiteral("step %1 (%2) failed: %3").arg(index + 1).arg(steps_.value(index), why));
    // Modal windows are closed so that their loops end and the calls
    // that opened them return.
    for (int i = 0; i < 10; ++i) {
        QWidget* modal = ScriptedUser::modalWindow();
        if (!modal)
            break;
        modal->close();
        QApplication::processEvents();
    }
    finish(false);
}

void StepRunner::finish(bool ok)
{
    timer_.stop();
    next_ = int(steps_.size());
    if (done_)
        std::exchange(done_, nullptr)(ok);
}

}  // namespace host
