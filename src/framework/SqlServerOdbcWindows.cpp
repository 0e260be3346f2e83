#include "framework/SqlServerOdbc.h"

#include <QSettings>
#include <QStringList>

namespace tarvelo {
namespace {

// The newest of SQL Server's ODBC drivers that this machine has, in the
// registry view of our own bitness; "SQL Server" comes with every Windows.
QString installedSqlServerDriver()
{
    QSettings installed(QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers"),
                        QSettings::NativeFormat);
    for (const char* name : {"ODBC Driver 18 for SQL Server", "ODBC Driver 17 for SQL Server"})
        if (installed.value(QLatin1String(name)).toString() == QLatin1String("Installed"))
            return QLatin1String(name);
    return QStringLiteral("SQL Server");
}

}  // namespace

QString SqlServerOdbcString(const SqlServerLogin& login)
{
    QString driver = installedSqlServerDriver();
    // A port only where the host named one: it would override a named
    // instance's own, and make "(local)" go through TCP.
    QString server = login.port > 0 ? login.host + ',' + QString::number(login.port) : login.host;
    QString text = QStringLiteral("DRIVER={%1};SERVER=%2;DATABASE=%3;UID=%4;PWD=%5")
                       .arg(driver, OdbcValue(server), OdbcValue(login.database), OdbcValue(login.userName),
                            OdbcValue(login.password));
    // Driver 18 encrypts by default and refuses a server without a trusted
    // certificate; the OLE DB providers the hosts name did not encrypt.
    if (driver.startsWith(QLatin1String("ODBC Driver 18")))
        text += QStringLiteral(";Encrypt=no");
    return text;
}

}  // namespace tarvelo
