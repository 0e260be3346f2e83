#include "framework/ConnectionString.h"

#include "framework/SqlServerOdbc.h"

#include <QRegularExpression>
#include <optional>
#include <utility>
#include <vector>

namespace tarvelo {
namespace {

using Pairs = std::vector<std::pair<QString, QString>>;  // keys in lower case, in their order

QString unquoted(QString value)
{
    value = value.trimmed();
    if (value.size() >= 2 && (value.front() == '"' || value.front() == '\'') && value.back() == value.front())
        return value.mid(1, value.size() - 2);
    return value;
}

// Splits at the semicolons that are not inside a quoted value.
std::optional<Pairs> parsePairs(const QString& text, QString& error)
{
    Pairs pairs;
    QString part;
    QChar quote;
    auto take = [&]() -> bool {
        if (part.trimmed().isEmpty())
            return true;  // "a=1;;b=2" and a trailing ";" are harmless
        qsizetype equals = part.indexOf('=');
        if (equals <= 0) {
            error = QStringLiteral("\"%1\" is not a key=value pair").arg(part.trimmed());
            return false;
        }
        pairs.emplace_back(part.left(equals).trimmed().toLower(), unquoted(part.mid(equals + 1)));
        part.clear();
        return true;
    };
    for (QChar c : text) {
        if (!quote.isNull()) {
            part += c;
            if (c == quote)
                quote = QChar();
        } else if (c == ';') {
            if (!take())
                return std::nullopt;
        } else {
            if ((c == '"' || c == '\'') && part.contains('=') && part.mid(part.indexOf('=') + 1).trimmed().isEmpty())
                quote = c;
            part += c;
        }
    }
    if (!quote.isNull()) {
        error = QStringLiteral("a quoted value is not closed");
        return std::nullopt;
    }
    if (!take())
        return std::nullopt;
    return pairs;
}

QString valueOf(const Pairs& pairs, std::initializer_list<const char*> keys)
{
    for (const char* key : keys)
        for (const auto& [k, v] : pairs)
            if (k == QLatin1String(key))
                return v;
    return {};
}

// "host:port" or "host,port" (SQL Server's form); a socket directory has neither.
void splitHostAndPort(const QString& dataSource, SqlConnectionTarget& target)
{
    static const QRegularExpression withPort(QStringLiteral("^(.*)[:,](\\d+)$"));
    auto match = withPort.match(dataSource);
    if (match.hasMatch() && !dataSource.startsWith('/')) {
        target.hostName = match.captured(1);
        target.port = match.captured(2).toInt();
    } else {
        target.hostName = dataSource;
    }
}

void readLogin(const Pairs& pairs, SqlConnectionTarget& target)
{
    target.userName = valueOf(pairs, {"user id", "uid", "user"});
    target.password = valueOf(pairs, {"password", "pwd"});
    if (QString port = valueOf(pairs, {"port"}); !port.isEmpty())
        target.port = port.toInt();
}

SqlConnectionTarget sqlite(const Pairs& pairs)
{
    SqlConnectionTarget target;
    target.databaseName = valueOf(pairs, {"data source", "database"});
    if (target.databaseName.isEmpty()) {
        target.error = QStringLiteral("SQLite needs Data Source=<file>");
        return target;
    }
    target.driver = QStringLiteral("QSQLITE");
    target.dialect = SqlDialect::SQLite;
    return target;
}

SqlConnectionTarget postgres(const Pairs& pairs)
{
    SqlConnectionTarget target;
    splitHostAndPort(valueOf(pairs, {"data source", "server", "host"}), target);
    readLogin(pairs, target);
    target.databaseName = valueOf(pairs, {"initial catalog", "database"});
    target.driver = QStringLiteral("QPSQL");
    target.dialect = SqlDialect::PostgreSQL;
    return target;
}

// The dialect of an ODBC driver named in the string; a data source name
// says nothing, and the connection is asked once it is open.
SqlDialect dialectOfOdbcDriver(const QString& driver)
{
    QString name = driver.toLower();
    if (name.contains(QLatin1String("sqlite")))
        return SqlDialect::SQLite;
    if (name.contains(QLatin1String("postgres")))
        return SqlDialect::PostgreSQL;
    if (name.contains(QLatin1String("sql server")) || name.contains(QLatin1String("freetds")))
        return SqlDialect::SqlServer;
    return SqlDialect::Unknown;
}

SqlConnectionTarget odbc(const Pairs& pairs)
{
    SqlConnectionTarget target;
    QStringList rest;
    for (const auto& [key, value] : pairs)
        if (key != QLatin1String("provider"))
            rest << key + '=' + value;
    if (rest.isEmpty()) {
        target.error = QStringLiteral("MSDASQL needs an ODBC data source or driver");
        return target;
    }
    target.databaseName = rest.join(';');
    target.driver = QStringLiteral("QODBC");
    target.dialect = dialectOfOdbcDriver(valueOf(pairs, {"driver"}));
    return target;
}

SqlConnectionTarget sqlServer(const Pairs& pairs)
{
    SqlConnectionTarget target;
    QString security = valueOf(pairs, {"integrated security", "trusted_connection"}).toLower();
    if (security == QLatin1String("sspi") || security == QLatin1String("true") || security == QLatin1String("yes")) {
        target.error = QStringLiteral("Windows authentication is not available here; give User ID and Password");
        return target;
    }
    SqlConnectionTarget address;
    splitHostAndPort(valueOf(pairs, {"data source", "server", "address"}), address);
    readLogin(pairs, address);
    SqlServerLogin login{address.hostName, address.port > 0 ? address.port : 0,
                         valueOf(pairs, {"initial catalog", "database"}), address.userName, address.password};
    target.databaseName = SqlServerOdbcString(login);
    target.driver = QStringLiteral("QODBC");
    target.dialect = SqlDialect::SqlServer;
    return target;
}

}  // namespace

SqlConnectionTarget MapConnectionString(const QString& adoString)
{
    SqlConnectionTarget failed;
    if (adoString.trimmed().isEmpty()) {
        failed.error = QStringLiteral("no connection string was given");
        return failed;
    }
    std::optional<Pairs> pairs = parsePairs(adoString, failed.error);
    if (!pairs)
        return failed;
    QString provider = valueOf(*pairs, {"provider"}).toLower();
    if (provider.isEmpty() || provider == QLatin1String("sqlite"))
        return sqlite(*pairs);
    if (provider == QLatin1String("postgresql"))
        return postgres(*pairs);
    if (provider.startsWith(QLatin1String("msdasql")))
        return odbc(*pairs);
    if (provider.startsWith(QLatin1String("sqloledb")) || provider.startsWith(QLatin1String("sqlncli")) ||
        provider.startsWith(QLatin1String("msoledbsql")))
        return sqlServer(*pairs);
    failed.error = QStringLiteral("the provider \"%1\" is not known here").arg(valueOf(*pairs, {"provider"}));
    return failed;
}

QString RewriteForDialect(const QString& statement, SqlDialect dialect)
{
    if (dialect != SqlDialect::SQLite && dialect != SqlDialect::PostgreSQL)
        return statement;
    static const QRegularExpression top(QStringLiteral("^(\\s*select\\s+)top\\s+(\\d+)\\s+(.*?)\\s*;?\\s*$"),
                                        QRegularExpression::CaseInsensitiveOption |
                                            QRegularExpression::DotMatchesEverythingOption);
    auto match = top.match(statement);
    if (!match.hasMatch())
        return statement;
    return match.captured(1) + match.captured(3) + QStringLiteral(" limit ") + match.captured(2);
}

}  // namespace tarvelo
