#include "support/PostgresServer.h"

#include <QDir>
#include <QProcess>
#include <pwd.h>
#include <stdexcept>
#include <unistd.h>

namespace tarvelo::test {
namespace {

QString serverBinaries()
{
    QStringList versions = QDir("/usr/lib/postgresql").entryList(QDir::Dirs | QDir::NoDotAndDotDot);
    std::sort(versions.begin(), versions.end(), [](const QString& a, const QString& b) { return a.toInt() < b.toInt(); });
    if (versions.isEmpty())
        throw std::runtime_error("PostgreSQL is not installed (/usr/lib/postgresql)");
    return "/usr/lib/postgresql/" + versions.last() + "/bin/";
}

// Runs a server program, as `postgres` when we are root.
void runServerProgram(const QString& program, const QStringList& args)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::MergedChannels);
    if (geteuid() == 0)
        process.start("runuser", QStringList{"-u", "postgres", "--", serverBinaries() + program} + args);
    else
        process.start(serverBinaries() + program, args);
    if (!process.waitForFinished(60000) || process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
        throw std::runtime_error((program + " failed: " + QString::fromLocal8Bit(process.readAll())).toStdString());
}

}  // namespace

PostgresServer::PostgresServer()
{
    char pattern[] = "/tmp/tarvelo-pg-XXXXXX";
    if (!mkdtemp(pattern))
        throw std::runtime_error("mkdtemp failed");
    dir_ = pattern;
    if (geteuid() == 0) {
        const passwd* postgres = getpwnam("postgres");
        if (!postgres || chown(pattern, postgres->pw_uid, postgres->pw_gid) != 0)
            throw std::runtime_error("the postgres user cannot have the server's directory");
    }
    runServerProgram("initdb", {"-D", dir_ + "/data", "-U", "tarvelo", "-A", "trust", "-E", "UTF8", "--no-sync"});
    restartWith("start");
}

void PostgresServer::restart()
{
    restartWith("restart");
}

void PostgresServer::stop()
{
    runServerProgram("pg_ctl", {"-D", dir_ + "/data", "-m", "fast", "-w", "stop"});
}

void PostgresServer::start()
{
    restartWith("start");
}

std::string PostgresServer::socketPath() const
{
    return (dir_ + "/.s.PGSQL.5432").toStdString();
}

void PostgresServer::restartWith(const QString& command)
{
    QStringList mode = command == "restart" ? QStringList{"-m", "fast"} : QStringList{};
    runServerProgram("pg_ctl", QStringList{"-D", dir_ + "/data", "-l", dir_ + "/server.log", "-w"} + mode +
                                   QStringList{"-o", "-k " + dir_ + " -c listen_addresses= -F", command});
}

PostgresServer::~PostgresServer()
{
    try {
        runServerProgram("pg_ctl", {"-D", dir_ + "/data", "-m", "immediate", "-w", "stop"});
    } catch (const std::exception&) {
        // Already gone: nothing to stop.
    }
    QDir(dir_).removeRecursively();
}

QString PostgresServer::connectionString() const
{
    return "Provider=PostgreSQL;Data Source=" + dir_ + ";Initial Catalog=postgres;User ID=tarvelo";
}

}  // namespace tarvelo::test
