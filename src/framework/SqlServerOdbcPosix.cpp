#include "framework/SqlServerOdbc.h"

namespace tarvelo {

QString SqlServerOdbcString(const SqlServerLogin& login)
{
    return QStringLiteral("DRIVER={FreeTDS};SERVER=%1;PORT=%2;DATABASE=%3;UID=%4;PWD=%5;TDS_Version=7.4")
        .arg(login.host, QString::number(login.port), login.database, login.userName, login.password);
}

}  // namespace tarvelo
