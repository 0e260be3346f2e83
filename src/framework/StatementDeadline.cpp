#include "framework/StatementDeadline.h"

#include "framework/Log.h"

#include <QSqlDriver>
#include <QVariant>
#include <libpq-fe.h>
#include <sys/socket.h>

namespace tarvelo {

int ServerSocketOf(const QSqlDatabase& db)
{
    QVariant handle = db.driver() ? db.driver()->handle() : QVariant();
    // Qt names the handle's type after libpq's struct.
    if (!handle.isValid() || (qstrcmp(handle.typeName(), "PGconn*") != 0 && qstrcmp(handle.typeName(), "pg_conn*") != 0))
        return -1;
    auto* connection = *static_cast<PGconn* const*>(handle.constData());
    return connection ? PQsocket(connection) : -1;
}

StatementDeadline::StatementDeadline(int socket, std::chrono::milliseconds limit)
{
    if (socket >= 0)
        watcher_ = std::thread(&StatementDeadline::watch, this, socket, std::chrono::steady_clock::now() + limit);
}

StatementDeadline::~StatementDeadline()
{
    {
        std::lock_guard lock(mutex_);
        finished_ = true;
    }
    wake_.notify_one();
    if (watcher_.joinable())
        watcher_.join();
}

bool StatementDeadline::expired()
{
    std::lock_guard lock(mutex_);
    return expired_;
}

// The socket stays open while we watch it: its connection is closed only on
// the thread that waits for the statement, after this object is gone.
void StatementDeadline::watch(int socket, std::chrono::steady_clock::time_point end)
{
    std::unique_lock lock(mutex_);
    if (wake_.wait_until(lock, end, [this] { return finished_; }))
        return;
    expired_ = true;
    if (::shutdown(socket, SHUT_RDWR) != 0)
        logLine("database", "cannot end a statement past its time: " + systemErrorText(errno));
}

}  // namespace tarvelo
