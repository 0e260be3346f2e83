// Which of SQL Server's ODBC drivers an ADO string for SQL Server reaches,
// by what the machine has installed (the Wine prefix of the test run stands
// in for a workstation; values added here are taken away again).

#include "framework/ConnectionString.h"

#include <QSettings>
#include <gtest/gtest.h>

using namespace tarvelo;

namespace {

const QString Drivers = QStringLiteral("HKEY_LOCAL_MACHINE\\SOFTWARE\\ODBC\\ODBCINST.INI\\ODBC Drivers");
const char* const Ado = "Provider=SQLOLEDB;Data Source=SRV01,1500;Initial Catalog=CCTV;User ID=sa;Password=pw";

class InstalledDrivers {
public:
    ~InstalledDrivers()
    {
        for (const QString& name : added_)
            registry_.remove(name);
    }
    bool install(const QString& name)
    {
        if (registry_.contains(name))
            return false;
        registry_.setValue(name, QStringLiteral("Installed"));
        registry_.sync();
        added_ << name;
        return registry_.status() == QSettings::NoError;
    }
    void uninstall(const QString& name)
    {
        registry_.remove(name);
        registry_.sync();
        added_.removeAll(name);
    }

private:
    QSettings registry_{Drivers, QSettings::NativeFormat};
    QStringList added_;
};

QString mapped()
{
    return MapConnectionString(QString::fromLatin1(Ado)).databaseName;
}

}  // namespace

TEST(SqlServerOdbcWindows, TheNewestInstalledDriverIsUsed)
{
    InstalledDrivers drivers;
    EXPECT_EQ(mapped(), "DRIVER={SQL Server};SERVER={SRV01,1500};DATABASE={CCTV};UID={sa};PWD={pw}");
    if (!drivers.install("ODBC Driver 17 for SQL Server") || !drivers.install("ODBC Driver 18 for SQL Server"))
        GTEST_SKIP() << "the drivers' registry key cannot be written here";
    EXPECT_EQ(mapped(), "DRIVER={ODBC Driver 18 for SQL Server};SERVER={SRV01,1500};DATABASE={CCTV};UID={sa};"
                        "PWD={pw};Encrypt=no");
    drivers.uninstall("ODBC Driver 18 for SQL Server");
    EXPECT_EQ(mapped(), "DRIVER={ODBC Driver 17 for SQL Server};SERVER={SRV01,1500};DATABASE={CCTV};UID={sa};PWD={pw}");
}
