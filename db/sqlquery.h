#pragma once
#include "db/sqldialect.h"
#include "db/statementcatalogue.h"

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <QVariant>

#include <memory>

class QSqlQuery;
class Tfrm_ZD000;

// A statement whose :NAME parameters have been turned into positional placeholders (":1", ":2"
// for Oracle, "$1", "$2" for PostgreSQL), one per occurrence, left to right. Names inside quoted
// literals, quoted identifiers and comments are left alone, and so is "::" (a PostgreSQL cast).
struct PositionalStatement
{
    QString text;
    QStringList names;  // names[i] is the parameter (upper case, without ':') of placeholder i + 1
};

// Comments are kept for Oracle, whose optimizer hints live in them. For PostgreSQL they are
// replaced by a blank: they carry nothing for that server, and Qt's own placeholder scan of a
// prepared statement does not know comments, so a ":word" inside one would be taken for a
// parameter.
PositionalStatement toPositionalStatement(const QString &sql, SqlDialect dialect);

// The one query object of the data module. Every statement of the shell runs through it, one at
// a time: set the statement, bind its parameters as text, open (SELECT) or execute (INSERT,
// UPDATE), read by column position, close. A statement that fails inside a transaction rolls
// that transaction back at once, so nothing can go on inside a failed transaction.
class SqlQuery
{
public:
    explicit SqlQuery(Tfrm_ZD000 &module);
    ~SqlQuery();
    SqlQuery(const SqlQuery &) = delete;
    SqlQuery &operator=(const SqlQuery &) = delete;

    // Both close the query and forget every bound value.
    void setStatement(StatementId id);  // the catalogue text in the module's dialect
    void setText(const QString &sql);
    QString text() const { return m_text; }

    // Every occurrence of :NAME takes this value (names are not case-sensitive).
    void bind(const QString &name, const QString &value);
    // The occurrence-th (0 = first) occurrence of :NAME takes this value instead.
    void bindOccurrence(const QString &name, int occurrence, const QString &value);

    // A SELECT. False with the database's message; the query is then closed.
    bool open(QString *error);
    bool next();                          // to the next row; false after the last
    QVariant value(int column) const;     // first column = 0; invalid beyond the last
    int columnCount() const;
    QString text(int column) const;       // the value as text, empty for NULL
    bool isNull(int column) const;
    bool isOpen() const;
    void close();

    // An INSERT or UPDATE. False with the database's message. Inside a transaction, when the
    // row count is not asked for, the driver may send it together with the next statement that
    // needs an answer or with the commit (PostgreSQL); a failure is then reported there, and
    // the transaction is rolled back just the same.
    bool exec(QString *error, int *rowsAffected = nullptr);

    // Sends the SELECT set now with its bound values without waiting for the rows, where the
    // driver can (PostgreSQL); a later open() of the same statement with the same values takes
    // them. Several reads sent ahead share one round trip to the server. Nothing happens with
    // other drivers; open() asks then as always.
    void sendAhead();

private:
    bool run(bool select, QString *error, int *rowsAffected);
    bool boundValues(const PositionalStatement &statement, QStringList *values,
                     QString *failure) const;

    Tfrm_ZD000 &m_module;
    QString m_text;
    QHash<QString, QString> m_values;
    QHash<QString, QHash<int, QString>> m_occurrenceValues;
    std::unique_ptr<QSqlQuery> m_query;
    bool m_open = false;
};
