#pragma once
#include <QString>

class QSqlError;

// The two database engines the shell runs against: Oracle at the company, PostgreSQL for the
// demo and the tests. [MAIN] DRIVER of Main.ini chooses one.
enum class SqlDialect { Oracle, PostgreSql };

// The Qt driver of a dialect: "QOCI" or "QPSQL". The data module speaks PostgreSQL through its
// own driver (PgDriver) instead of QPSQL.
QString sqlDriverName(SqlDialect dialect);

// The text the user reads when a database operation fails: the operation's own sentence, two
// line breaks, "에러내용 :", a line break and the database's message.
QString databaseFailureMessage(const QString &sentence, const QString &databaseError);

// The message of a database error as the user should read it: the server's text, or the
// driver's when the server gave none.
QString sqlErrorText(const QSqlError &error);
