// The host's ADO connection strings as Qt SQL connections, one table.

#include "framework/ConnectionString.h"

#include <gtest/gtest.h>
#include <string>

using namespace tarvelo;

namespace {

// SQL Server through FreeTDS on Linux; on Windows through its own driver,
// "SQL Server" where no newer one is installed (as under Wine). Every value
// in braces; a port only where the host named one.
std::string sqlServerOdbc(const std::string& host, int port, const std::string& password = "pw")
{
#ifdef _WIN32
    std::string server = port ? host + "," + std::to_string(port) : host;
    return "DRIVER={SQL Server};SERVER={" + server + "};DATABASE={CCTV};UID={sa};PWD={" + password + "}";
#else
    std::string portPart = port ? "PORT=" + std::to_string(port) + ";" : "";
    return "DRIVER={FreeTDS};SERVER={" + host + "};" + portPart + "DATABASE={CCTV};UID={sa};PWD={" + password +
           "};TDS_Version=7.4";
#endif
}

}  // namespace

TEST(ConnectionString, EachProviderMapsToItsDriver)
{
    struct Case {
        const char* ado;
        const char* driver;
        std::string database;
        const char* host;
        int port;
        const char* user;
        const char* password;
        SqlDialect dialect;
    } cases[] = {
        {"Provider=SQLite;Data Source=/var/lib/cctv/pictures.db", "QSQLITE", "/var/lib/cctv/pictures.db", "", -1, "",
         "", SqlDialect::SQLite},
        {"Data Source=pictures.db", "QSQLITE", "pictures.db", "", -1, "", "", SqlDialect::SQLite},
        {"provider=sqlite; data source = \"C:/with;semicolon.db\" ;", "QSQLITE", "C:/with;semicolon.db", "", -1, "",
         "", SqlDialect::SQLite},
        {"Provider=PostgreSQL;Data Source=db.local:5433;Initial Catalog=cctv;User ID=op;Password='p;w'", "QPSQL",
         "cctv", "db.local", 5433, "op", "p;w", SqlDialect::PostgreSQL},
        {"Provider=PostgreSQL;Data Source=/tmp/pg sockets;Initial Catalog=cctv;User ID=op", "QPSQL", "cctv",
         "/tmp/pg sockets", -1, "op", "", SqlDialect::PostgreSQL},
        {"Provider=PostgreSQL;Server=10.0.0.5;Port=6543;Database=cctv;UID=op;PWD=x", "QPSQL", "cctv", "10.0.0.5",
         6543, "op", "x", SqlDialect::PostgreSQL},
        {"Provider=MSDASQL;DSN=cctv;UID=op;PWD=x", "QODBC", "dsn=cctv;uid=op;pwd=x", "", -1, "", "",
         SqlDialect::Unknown},
        {"Provider=MSDASQL.1;Driver={SQLite3};Database=/tmp/p.db", "QODBC", "driver={SQLite3};database=/tmp/p.db", "",
         -1, "", "", SqlDialect::SQLite},
        {"Provider=MSDASQL;Driver={PostgreSQL Unicode};Servername=db", "QODBC",
         "driver={PostgreSQL Unicode};servername=db", "", -1, "", "", SqlDialect::PostgreSQL},
        {"Provider=SQLOLEDB.1;Data Source=SRV01,1500;Initial Catalog=CCTV;User ID=sa;Password=pw", "QODBC",
         sqlServerOdbc("SRV01", 1500), "", -1, "", "",
         SqlDialect::SqlServer},
        {"Provider=SQLNCLI11;Data Source=SRV01;Initial Catalog=CCTV;User ID=sa;Password=pw", "QODBC",
         sqlServerOdbc("SRV01", 0), "", -1, "", "",
         SqlDialect::SqlServer},
        {"Provider=MSOLEDBSQL;Server=SRV02;Database=CCTV;UID=sa;PWD=pw", "QODBC",
         sqlServerOdbc("SRV02", 0), "", -1, "", "",
         SqlDialect::SqlServer},
        // A named instance listens on a port of its own, and "(local)" is
        // reached by shared memory: neither is given one.
        {"Provider=SQLOLEDB;Data Source=SRV01\\SQLEXPRESS;Initial Catalog=CCTV;User ID=sa;Password=pw", "QODBC",
         sqlServerOdbc("SRV01\\SQLEXPRESS", 0), "", -1, "", "", SqlDialect::SqlServer},
        {"Provider=SQLOLEDB;Data Source=(local);Initial Catalog=CCTV;User ID=sa;Password='a;b}c'", "QODBC",
         sqlServerOdbc("(local)", 0, "a;b}}c"), "", -1, "", "", SqlDialect::SqlServer},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ado);
        SqlConnectionTarget t = MapConnectionString(QString::fromUtf8(c.ado));
        EXPECT_EQ(t.error, "");
        EXPECT_EQ(t.driver, c.driver);
        EXPECT_EQ(t.databaseName.toStdString(), c.database);
        EXPECT_EQ(t.hostName, c.host);
        EXPECT_EQ(t.port, c.port);
        EXPECT_EQ(t.userName, c.user);
        EXPECT_EQ(t.password, c.password);
        EXPECT_EQ(t.dialect, c.dialect);
    }
}

TEST(ConnectionString, WhatCannotBeUsedSaysWhy)
{
    struct Case {
        const char* ado;
        const char* why;
    } cases[] = {
        {"", "no connection string was given"},
        {"   ", "no connection string was given"},
        {"Provider=Microsoft.Jet.OLEDB.4.0;Data Source=c:\\p.mdb", "the provider \"Microsoft.Jet.OLEDB.4.0\" is not known here"},
        {"Provider=SQLite", "SQLite needs Data Source=<file>"},
        {"Provider=SQLite;pictures.db", "\"pictures.db\" is not a key=value pair"},
        {"Provider=SQLite;Data Source=\"open", "a quoted value is not closed"},
        {"Provider=MSDASQL", "MSDASQL needs an ODBC data source or driver"},
        {"Provider=SQLOLEDB;Data Source=SRV;Integrated Security=SSPI",
         "Windows authentication is not available here; give User ID and Password"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.ado);
        SqlConnectionTarget t = MapConnectionString(QString::fromUtf8(c.ado));
        EXPECT_EQ(t.error, c.why);
        EXPECT_EQ(t.driver, "");
    }
}

TEST(ConnectionString, SelectTopIsRewrittenWhereTheDatabaseHasNoTop)
{
    const QString initial = "select top 100 * from CAPPICTURE order by CAPTIME";
    const QString limited = "select * from CAPPICTURE order by CAPTIME limit 100";
    EXPECT_EQ(RewriteForDialect(initial, SqlDialect::SQLite), limited);
    EXPECT_EQ(RewriteForDialect(initial, SqlDialect::PostgreSQL), limited);
    EXPECT_EQ(RewriteForDialect(initial, SqlDialect::SqlServer), initial);
    EXPECT_EQ(RewriteForDialect(initial, SqlDialect::Unknown), initial);
    EXPECT_EQ(RewriteForDialect("SELECT TOP 5\n* FROM t;", SqlDialect::SQLite), "SELECT * FROM t limit 5");
    const QString search = "select * from CAPPICTURE where (CAPTIME between '2004-06-11 00:00:00' and "
                           "'2004-06-12 23:59:59') and VIDEOPORT=3";
    EXPECT_EQ(RewriteForDialect(search, SqlDialect::PostgreSQL), search);
}
