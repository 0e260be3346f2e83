#pragma once
// A private PostgreSQL server for one test program: a fresh cluster in a
// temporary directory, listening only on a Unix socket there, stopped and
// removed with the object. PostgreSQL refuses to run as root, so a root
// test runs the server's programs as the `postgres` user.

#include <QString>
#include <string>

namespace tarvelo::test {

class PostgresServer {
public:
    PostgresServer();  // throws std::runtime_error when the server does not start
    ~PostgresServer();

    PostgresServer(const PostgresServer&) = delete;
    PostgresServer& operator=(const PostgresServer&) = delete;

    // Stops the server, dropping every connection, and starts it again.
    void restart();
    // A server away for a while: stopped, then started again.
    void stop();
    void start();

    const QString& socketDirectory() const { return dir_; }
    // The ADO form the host would pass: Provider=PostgreSQL;...
    QString connectionString() const;
    // The server's socket, for a proxy in front of it.
    std::string socketPath() const;

private:
    void restartWith(const QString& command);

    QString dir_;
};

}  // namespace tarvelo::test
