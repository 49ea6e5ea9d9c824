#include "db/sqldialect.h"
#include "shared/logcategories.h"

#include <QSqlError>

QString sqlDriverName(SqlDialect dialect)
{
    return dialect == SqlDialect::PostgreSql ? QStringLiteral("QPSQL") : QStringLiteral("QOCI");
}

QString databaseFailureMessage(const QString &sentence, const QString &databaseError)
{
    qCWarning(lcDb).noquote() << QString(sentence).replace(u'\r', u' ') << "-" << databaseError;
    return sentence + QStringLiteral("\r\r에러내용 :\r") + databaseError;
}

QString sqlErrorText(const QSqlError &error)
{
    // The server's own words when there are any; the driver's ("Driver not loaded", "Unable to
    // connect") only when the server never answered.
    QString text = error.databaseText().trimmed();
    if (text.isEmpty())
        text = error.driverText().trimmed();
    if (text.isEmpty())
        text = error.text().trimmed();
    return text;
}
