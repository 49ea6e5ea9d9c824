#pragma once
#include <QString>

// The two database engines the shell runs against: Oracle at the company, PostgreSQL for the
// demo and the tests. [MAIN] DRIVER of Main.ini chooses one.
enum class SqlDialect { Oracle, PostgreSql };

// The Qt driver of a dialect: "QOCI" or "QPSQL".
QString sqlDriverName(SqlDialect dialect);

// The text the user reads when a database operation fails: the operation's own sentence, two
// line breaks, "에러내용 :", a line break and the database's message.
QString databaseFailureMessage(const QString &sentence, const QString &databaseError);
