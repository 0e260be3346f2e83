// tarvelo-host: a stand-in for the monitoring system's main program. It
// exports the six host services, loads libtarvelo.so as a real host does, and
// runs the exports given on its command line, or offers them as buttons.

#include "HostServices.h"
#include "HostSession.h"
#include "HostWindow.h"
#include "ScriptedUser.h"
#include "StepRunner.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QMessageBox>
#include <QRegularExpression>
#include <QSqlDatabase>
#include <QSqlQuery>
#include <QTimer>
#include <cstdio>
#include <cstdlib>

namespace {

bool noDisplay()
{
    auto empty = [](const char* name) {
        const char* v = std::getenv(name);
        return !v || !*v;
    };
    return empty("DISPLAY") && empty("WAYLAND_DISPLAY");
}

// With nobody at the screen, message boxes are read out and closed, and
// other modal windows are closed once they have been seen for a moment,
// unless a script acts in them.
void closeMessageBoxesAsTheyAppear(QApplication& app, bool windowsToo)
{
    auto* timer = new QTimer(&app);
    QObject::connect(timer, &QTimer::timeout, [windowsToo] {
        QWidget* modal = QApplication::activeModalWidget();
        if (auto* box = qobject_cast<QMessageBox*>(modal)) {
            std::printf("message box: %s\n", box->text().toUtf8().constData());
            std::fflush(stdout);
            box->accept();
        } else if (modal && windowsToo) {
            int seen = modal->property("tarvelo-seen").toInt() + 1;
            modal->setProperty("tarvelo-seen", seen);
            if (seen < 10)
                return;
            std::printf("window closed: %s\n", modal->windowTitle().toUtf8().constData());
            std::fflush(stdout);
            modal->close();
        }
    });
    timer->start(50);
}

// The default connection string names an SQLite file: the host makes sure
// it holds the snapshot table and its index, as a site's database would.
void prepareDatabase(const QString& adoString)
{
    static const QRegularExpression sqlite(QStringLiteral("^\\s*Provider=SQLite;\\s*Data Source=([^;]+)"),
                                           QRegularExpression::CaseInsensitiveOption);
    auto match = sqlite.match(adoString);
    if (!match.hasMatch())
        return;
    {
        QSqlDatabase db = QSqlDatabase::addDatabase(QStringLiteral("QSQLITE"), QStringLiteral("host"));
        db.setDatabaseName(match.captured(1).trimmed());
        if (db.open()) {
            QSqlQuery query(db);
            query.exec(QStringLiteral("create table if not exists CAPPICTURE (VIDEOPORT integer, CAPTIME datetime, "
                                      "OPERATOR char(10), PICTURE blob)"));
            query.exec(QStringLiteral("create index if not exists CAPPICTURE_CAPTIME on CAPPICTURE (CAPTIME)"));
        }
    }
    QSqlDatabase::removeDatabase(QStringLiteral("host"));
}

}  // namespace

int main(int argc, char** argv)
{
    if (noDisplay())
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // The scripted user fills in file dialogs as Qt widgets; Windows' own
    // dialogs would be out of its reach.
    QCoreApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("tarvelo-host"));

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Stand-in host of the Tarvelo plug-in. Steps: an export name, with =argument where it takes one "
        "(Frame_ExecFunc=1, Video_SwitchToTV=5, Frame_SetParam=operator,extra), load, unload, wait=MS, "
        "or what a user does: press=, release=, click=CONTROL, set=CONTROL,VALUE, file=PATH, shot=NAME, close, "
        "expect=CONTROL,TEXT, await=WORD (a line on standard input), awaitfile=PATH (the file made)."));
    parser.addHelpOption();
    QCommandLineOption library({"l", "library"}, "The plug-in to load.", "path", TARVELO_DEFAULT_LIBRARY);
    QCommandLineOption right("right", "What Frame_HaveRight answers.", "n", "1");
    QCommandLineOption workPath("work-path", "What Frame_GetWorkPath answers.", "dir", QDir::currentPath());
    QCommandLineOption nullWorkPath("null-work-path", "Frame_GetWorkPath answers a null pointer.");
    QCommandLineOption ado("ado", "The connection string Frame_SetAdoString passes.", "text",
                           "Provider=SQLite;Data Source=tarvelo.db");
    QCommandLineOption op("operator", "The operator name Frame_SetParam passes.", "name", "admin");
    QCommandLineOption closeBoxes("close-messages", "Print and close message boxes (automatic without a display).");
    QCommandLineOption shots("shots", "Where shot=NAME steps save their pictures.", "dir", "screenshots");
    QCommandLineOption openConsole("open-console", "With the window: initialise the library and open the console.");
    parser.addOptions({library, right, workPath, nullWorkPath, ado, op, closeBoxes, shots, openConsole});
    parser.addPositionalArgument("steps", "Exports to call, in order.", "[step...]");
    parser.process(app);

    host::ServiceAnswers answers{parser.value(right).toInt(), parser.value(workPath), parser.isSet(nullWorkPath)};
    host::setServiceAnswers(answers);
    prepareDatabase(parser.value(ado));
    const QStringList steps = parser.positionalArguments();
    if (parser.isSet(closeBoxes) || noDisplay())
        closeMessageBoxesAsTheyAppear(app, !host::StepRunner::drivesWindows(steps));

    host::HostSession session({parser.value(library), 0, parser.value(ado), parser.value(op), QString()});
    if (!steps.isEmpty()) {
        QApplication::setQuitOnLastWindowClosed(false);  // the script ends the host, not Frame_FreeAll
        host::ScriptedUser user(parser.value(shots));
        host::StepRunner runner(session, user);
        runner.start(steps, [](bool ok) { QApplication::exit(ok ? 0 : 1); });
        int result = QApplication::exec();
        session.unload();  // every call has returned: the library can go
        return result;
    }
    if (!session.load())
        return 1;
    host::HostWindow window(session, answers, parser.value(ado), parser.value(op));
    window.setProperty("tarvelo-host", true);
    host::setReportListener([&window](const QString& line) { window.log(line); });
    window.show();
    session.setAppWindow(TarveloWindow(window.winId()));
    if (parser.isSet(openConsole))
        QTimer::singleShot(0, [&session] {
            for (const char* step : {"Frame_Init", "Frame_SetAdoString", "Frame_SetParam", "Frame_ExecFunc=1"})
                session.runStep(QLatin1String(step));
        });
    int result = QApplication::exec();
    session.unload();  // before the window the library's windows belong to
    return result;
}
