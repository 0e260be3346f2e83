// A site of 16 workstations on one PostgreSQL server that holds a year of
// snapshots: each workstation is a tarvelo-host process with its console on
// the test pattern and its matrix on a line of its own, and stores a
// database snapshot every second for 60 s. Meanwhile this process opens the
// picture query window and searches the day. A second run restarts the
// server halfway. Printed: every snapshot landed, reported as failed, lost
// or doubled; the insert's median and 99th percentile as the server timed
// them; the query window's figures under the load.

#include "BenchSupport.h"
#include "YearOfSnapshots.h"
#include "capture/device/SystemDrivers.h"
#include "framework/QueryObject.h"
#include "support/PostgresServer.h"
#include "support/PseudoTerminal.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStringEncoder>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <vector>

using namespace tarvelo;
using namespace tarvelo::bench;

namespace {

constexpr int Workstations = 16;
constexpr int Snapshots = 60;

// A workstation: its operator, its work directory (settings, logs, what
// its host printed) and its host process.
struct Workstation {
    QString operatorName;
    QString dir;
    std::unique_ptr<QProcess> host;
};

void writeSettings(const QString& dir, int line, int testPattern)
{
    QString text = QString("[设置]\r\n视频卡号=%1\r\n图片目录=%2/pictures\r\n数据库启用=1\r\n"
                           "[视频端口]\r\n本机=1\r\n主监视器=2\r\n"
                           "[串口]\r\n串口号=%3\r\n波特率=9600\r\n数据位=8\r\n校验位=n\r\n停止位=1\r\n")
                       .arg(testPattern)
                       .arg(dir)
                       .arg(line);
    QFile file(dir + "/Tarvelo.ini");
    file.open(QIODevice::WriteOnly);
    file.write(QStringEncoder("GBK").encode(text));
}

std::unique_ptr<QProcess> startHost(const Workstation& w, const QString& connection)
{
    QStringList steps{"Frame_Init", "Frame_SetAdoString", "Frame_SetParam=" + w.operatorName + ",bench",
                      "Frame_ExecFunc=1", "wait=1500"};
    for (int i = 0; i < Snapshots; ++i)
        steps << "click=btCapture" << "wait=1000";
    auto host = std::make_unique<QProcess>();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("TARVELO_LOG", w.dir + "/tarvelo.log");
    env.insert("TARVELO_MESSAGE_LOG", w.dir + "/messages.log");
    host->setProcessEnvironment(env);
    host->setWorkingDirectory(w.dir);
    host->setStandardOutputFile(w.dir + "/host.out");
    host->setStandardErrorFile(w.dir + "/host.err");
    host->start(TARVELO_HOST, QStringList{"--work-path", w.dir, "--ado", connection, "--operator", w.operatorName} +
                                  steps);
    return host;
}

int linesWith(const QString& path, const QString& text)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return 0;  // nothing written: a log that had nothing to say
    return int(QString::fromUtf8(file.readAll()).count(text));
}

// The server's own time for each insert, from its log of every statement's
// duration since `offset`.
std::vector<double> insertTimes(const QString& log, qint64 offset)
{
    static const QRegularExpression duration(QStringLiteral("duration: ([0-9.]+) ms  (statement: EXECUTE|execute )"));
    std::vector<double> times;
    QFile file(log);
    file.open(QIODevice::ReadOnly);
    file.seek(offset);
    while (!file.atEnd()) {
        QString line = QString::fromUtf8(file.readLine(4096));
        if (auto match = duration.match(line); match.hasMatch())
            times.push_back(match.captured(1).toDouble());
        while (!line.endsWith('\n') && !file.atEnd())
            line = QString::fromUtf8(file.readLine(4096));  // the rest of a picture's hex
    }
    std::sort(times.begin(), times.end());
    return times;
}

// Rows stored for each operator, and how many of them share a time: a
// workstation takes at most one snapshot a second.
std::map<QString, std::pair<int, int>> storedRows(const QString& connection, const QString& prefix)
{
    QueryObject query;
    query.setConnectionString(connection);
    query.setStatement(QString("select OPERATOR, count(*) as N, count(distinct CAPTIME) as D from CAPPICTURE "
                               "where OPERATOR like '%1%' group by OPERATOR")
                           .arg(prefix));
    query.open();
    std::map<QString, std::pair<int, int>> rows;
    for (int r = 0; r < query.rowCount(); ++r)
        rows[query.listed(r, "OPERATOR").toString().trimmed()] = {query.listed(r, "N").toInt(),
                                                                  query.listed(r, "D").toInt()};
    return rows;
}

void run(const QString& title, const QString& prefix, test::PostgresServer& server, const QString& base,
         int testPattern, bool restartHalfway)
{
    const QString log = server.socketDirectory() + "/server.log";
    const qint64 logOffset = QFileInfo(log).size();
    std::vector<Workstation> site;
    for (int i = 1; i <= Workstations; ++i) {
        Workstation w{QString("%1%2").arg(prefix).arg(i, 2, 10, QChar('0')), QString("%1/%2%3").arg(base, prefix).arg(i), nullptr};
        QDir().mkpath(w.dir + "/pictures");
        writeSettings(w.dir, i, testPattern);
        w.host = startHost(w, server.connectionString());
        site.push_back(std::move(w));
    }
    std::printf("%s\n", qPrintable(title));
    std::fflush(stdout);
    if (restartHalfway) {
        pump(1500 + Snapshots * 1000 / 2);
        QElapsedTimer t;
        t.start();
        server.restart();
        std::printf("  the server restarted in %.0f ms, halfway through\n", msSince(t));
    } else {
        pump(15000);  // the consoles are up and storing
        measureQueryWindow("  the query window meanwhile, on PostgreSQL", server.connectionString(),
                           QDate::currentDate().year(), QDate::currentDate());
    }
    int clicked = 0, shown = 0, failed = 0, landed = 0, doubled = 0, hostsFailed = 0;
    for (Workstation& w : site) {
        if (!w.host->waitForFinished(Snapshots * 2000) || w.host->exitCode() != 0)
            ++hostsFailed;
        clicked += linesWith(w.dir + "/host.out", "click btCapture");
        shown += linesWith(w.dir + "/messages.log", "insert into CAPPICTURE");
        failed += linesWith(w.dir + "/tarvelo.log", "the row was not stored");
    }
    for (const auto& [name, counts] : storedRows(server.connectionString(), prefix)) {
        landed += counts.first;
        doubled += counts.first - counts.second;
    }
    std::vector<double> times = insertTimes(log, logOffset);
    std::printf("  snapshots: %d clicked, %d statements shown, %d landed, %d reported \"保存到数据库失败\"; "
                "lost %d, doubled %d (target 0 and 0)%s\n",
                clicked, shown, landed, failed, shown - landed - failed, doubled,
                hostsFailed ? qPrintable(QString("; %1 hosts FAILED").arg(hostsFailed)) : "");
    if (!times.empty())
        std::printf("  insert, as the server timed it: median %.2f ms, 99th percentile %.2f ms, %zu inserts\n",
                    times[times.size() / 2], times[times.size() * 99 / 100], times.size());
    std::fflush(stdout);
}

}  // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    auto drivers = SystemCaptureDrivers(10);
    const int testPattern = int(drivers.size()) - 1;
    drivers.clear();
    QTemporaryDir base;
    test::PortsDir ports;
    std::vector<std::unique_ptr<test::PseudoTerminal>> lines;
    for (int i = 1; i <= Workstations; ++i)
        lines.push_back(std::make_unique<test::PseudoTerminal>(ports, i));
    test::PostgresServer server;
    const int year = QDate::currentDate().year();
    QByteArray picture = smallPicture();
    std::printf("Site benchmark: %d workstations, a snapshot each a second for %d s, into PostgreSQL holding "
                "%d rows over %d\n",
                Workstations, Snapshots, YearRows, year);
    std::fflush(stdout);
    fillYear(server.connectionString(), true, year, picture);
    QueryObject settings;
    settings.setConnectionString(server.connectionString());
    settings.setStatement("alter system set log_min_duration_statement = 0");
    settings.execute();
    settings.setStatement("select pg_reload_conf()");
    settings.open();
    run("Run 1: steady", "a", server, base.path(), testPattern, false);
    run("Run 2: the server restarted halfway", "b", server, base.path(), testPattern, true);
    return 0;
}
