#pragma once
// Runs a script of steps from the event loop, one at a time, as a person
// would: an export or a click that opens a modal window goes on while the
// script acts inside that window. Besides the exports and load, unload,
// wait=MS, the steps are
//   press=CONTROL, release=CONTROL   the mouse on a control (a head button)
//   click=CONTROL                    a button
//   set=CONTROL,VALUE                a spin box, edit, check box or list
//   file=PATH                        the open file dialog chooses PATH
//   shot=NAME                        a picture of the window, NAME.png
//   close                            closes the modal window
//   expect=CONTROL,TEXT              a label, button or window says TEXT
//   await=WORD                       prints "waiting for WORD", goes on when
//                                    WORD arrives as a line on standard input
// A step that cannot be done within ten seconds fails the script.

#include "HostSession.h"
#include "ScriptedUser.h"

#include <QElapsedTimer>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSocketNotifier>
#include <QStringList>
#include <QTimer>
#include <functional>
#include <memory>

namespace host {

class StepRunner : public QObject {
public:
    StepRunner(HostSession& session, ScriptedUser& user);

    // `done` gets the outcome once the last step is done or one failed; a
    // call the script made may still be on the stack below it (inside a
    // modal window), so `done` must not unload the library.
    void start(QStringList steps, std::function<void(bool ok)> done);

    // Steps that act on windows: the host then leaves the windows to them.
    static bool drivesWindows(const QStringList& steps);

private:
    enum class Outcome { Done, Again, Failed };

    void tick();
    std::shared_ptr<bool> startCall();  // false once the call has returned
    bool callStillRunning() const;
    Outcome run(const QString& step);
    Outcome runUserStep(const QString& name, const QString& argument);
    Outcome checkText(const QString& argument);
    Outcome awaitWord(const QString& word);
    Outcome awaitFile(const QString& path);
    Outcome awaited(const QString& word, Outcome outcome);
    void readInput();
    void fail(int index, const QString& why);
    void finish(bool ok);

    HostSession& session_;
    ScriptedUser& user_;
    QStringList steps_;
    int next_ = 0;
    std::function<void(bool)> done_;
    QTimer timer_;
    QElapsedTimer clock_;
    QElapsedTimer stepClock_;
    qint64 waitUntil_ = 0;
    QString lastProblem_;

    // A call made from the event loop that may still be running: it has
    // not returned, and no modal window has opened since it was made.
    std::shared_ptr<bool> callRunning_;
    QPointer<QWidget> modalAtCall_;

    std::unique_ptr<QSocketNotifier> input_;
    QByteArray inputBuffer_;
    QSet<QString> wordsHeard_;
    bool announced_ = false;
};

}  // namespace host
