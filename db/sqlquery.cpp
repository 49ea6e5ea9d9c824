#include "db/sqlquery.h"

#include "db/statementpipeline.h"
#include "db/tfrm_zd000.h"

#include <QSqlDatabase>
#include <QSqlError>
#include <QSqlQuery>
#include <QSqlRecord>

namespace {

bool isNameChar(QChar c)
{
    const char16_t u = c.unicode();
    return (u >= u'a' && u <= u'z') || (u >= u'A' && u <= u'Z') || (u >= u'0' && u <= u'9')
        || u == u'_';
}

bool isIdentifierStart(QChar c)
{
    return isNameChar(c) && !(c.unicode() >= u'0' && c.unicode() <= u'9');
}

// The end (one past) of a quoted text starting at `start` (the opening quote). A doubled quote
// stays inside; with backslash escapes a backslash takes the next character along. An
// unterminated text runs to the end.
int quotedEnd(const QString &sql, int start, bool backslashEscapes)
{
    const QChar quote = sql.at(start);
    const int n = sql.size();
    int i = start + 1;
    while (i < n) {
        const QChar c = sql.at(i);
        if (backslashEscapes && c == u'\\') {
            i += 2;
            continue;
        }
        if (c == quote) {
            if (i + 1 < n && sql.at(i + 1) == quote) {
                i += 2;
                continue;
            }
            return i + 1;
        }
        ++i;
    }
    return n;
}

// Oracle's q'[...]', q'{...}', q'<...>', q'(...)' or q'X...X' with `start` at the q.
int alternativeQuoteEnd(const QString &sql, int start)
{
    const int n = sql.size();
    QChar closing = sql.at(start + 2);
    switch (closing.unicode()) {
    case u'[': closing = u']'; break;
    case u'{': closing = u'}'; break;
    case u'<': closing = u'>'; break;
    case u'(': closing = u')'; break;
    default: break;
    }
    for (int i = start + 3; i + 1 < n; ++i) {
        if (sql.at(i) == closing && sql.at(i + 1) == u'\'')
            return i + 2;
    }
    return n;
}

// PostgreSQL's $tag$...$tag$ with `start` at the first $; -1 when no dollar quote starts there
// (a positional parameter such as $1 is none).
int dollarQuoteEnd(const QString &sql, int start)
{
    const int n = sql.size();
    int i = start + 1;
    if (i < n && sql.at(i) != u'$') {
        if (!isIdentifierStart(sql.at(i)))
            return -1;
        while (i < n && isNameChar(sql.at(i)))
            ++i;
        if (i >= n || sql.at(i) != u'$')
            return -1;
    }
    if (i >= n)
        return -1;
    const QString tag = sql.mid(start, i - start + 1);
    const int close = sql.indexOf(tag, i + 1);
    return close < 0 ? n : close + int(tag.size());
}

// One past the end of a block comment starting at `start`. PostgreSQL nests them, Oracle ends
// at the first "*/".
int blockCommentEnd(const QString &sql, int start, bool nested)
{
    const int n = sql.size();
    int depth = 0;
    int i = start;
    while (i + 1 < n) {
        if (sql.at(i) == u'/' && sql.at(i + 1) == u'*') {
            if (depth == 0 || nested)
                ++depth;
            i += 2;
        } else if (sql.at(i) == u'*' && sql.at(i + 1) == u'/') {
            --depth;
            i += 2;
            if (depth == 0)
                return i;
        } else {
            ++i;
        }
    }
    return n;
}

}  // namespace

PositionalStatement toPositionalStatement(const QString &sql, SqlDialect dialect)
{
    const bool postgres = dialect == SqlDialect::PostgreSql;
    PositionalStatement out;
    out.text.reserve(sql.size());
    const int n = sql.size();
    int i = 0;
    while (i < n) {
        const QChar c = sql.at(i);
        const QChar next = i + 1 < n ? sql.at(i + 1) : QChar();
        const bool afterName = i > 0 && isNameChar(sql.at(i - 1));

        int skipTo = -1;
        bool comment = false;
        if (c == u'-' && next == u'-') {
            skipTo = i + 2;
            while (skipTo < n && sql.at(skipTo) != u'\r' && sql.at(skipTo) != u'\n')
                ++skipTo;
            comment = true;
        } else if (c == u'/' && next == u'*') {
            skipTo = blockCommentEnd(sql, i, postgres);
            comment = true;
        } else if (c == u'\'') {
            // E'...' takes backslash escapes; a name ending in E before a quote is no prefix.
            const bool escapes = postgres && i > 0
                && (sql.at(i - 1) == u'E' || sql.at(i - 1) == u'e')
                && !(i > 1 && isNameChar(sql.at(i - 2)));
            skipTo = quotedEnd(sql, i, escapes);
        } else if (c == u'"') {
            skipTo = quotedEnd(sql, i, false);
        } else if (!postgres && (c == u'q' || c == u'Q') && next == u'\'' && i + 2 < n
                   && !afterName) {
            skipTo = alternativeQuoteEnd(sql, i);
        } else if (postgres && c == u'$' && !afterName) {
            skipTo = dollarQuoteEnd(sql, i);
        }
        if (skipTo >= 0) {
            if (comment && postgres)
                out.text += u' ';
            else
                out.text += QStringView(sql).mid(i, skipTo - i);
            i = skipTo;
            continue;
        }

        if (c == u':') {
            if (next == u':') {
                // A cast (and any longer run of colons) is no parameter.
                while (i < n && sql.at(i) == u':') {
                    out.text += u':';
                    ++i;
                }
                continue;
            }
            if (!next.isNull() && isNameChar(next)) {
                int end = i + 1;
                while (end < n && isNameChar(sql.at(end)))
                    ++end;
                out.names.append(sql.mid(i + 1, end - i - 1).toUpper());
                out.text += (postgres ? u'$' : u':') + QString::number(out.names.size());
                i = end;
                continue;
            }
        }
        out.text += c;
        ++i;
    }
    return out;
}

SqlQuery::SqlQuery(Tfrm_ZD000 &module) : m_module(module) {}

SqlQuery::~SqlQuery() = default;

void SqlQuery::setStatement(StatementId id)
{
    setText(statementText(id, m_module.dialect()));
}

void SqlQuery::setText(const QString &sql)
{
    close();
    m_text = sql;
    m_values.clear();
    m_occurrenceValues.clear();
}

void SqlQuery::bind(const QString &name, const QString &value)
{
    m_values.insert(name.toUpper(), value);
}

void SqlQuery::bindOccurrence(const QString &name, int occurrence, const QString &value)
{
    m_occurrenceValues[name.toUpper()].insert(occurrence, value);
}

bool SqlQuery::open(QString *error)
{
    return run(true, error, nullptr);
}

bool SqlQuery::exec(QString *error, int *rowsAffected)
{
    return run(false, error, rowsAffected);
}

bool SqlQuery::boundValues(const PositionalStatement &statement, QStringList *values,
                           QString *failure) const
{
    QHash<QString, int> seen;
    for (const QString &name : statement.names) {
        const int occurrence = seen[name]++;
        const auto perOccurrence = m_occurrenceValues.constFind(name);
        QString value;
        if (perOccurrence != m_occurrenceValues.constEnd() && perOccurrence->contains(occurrence)) {
            value = perOccurrence->value(occurrence);
        } else if (m_values.contains(name)) {
            value = m_values.value(name);
        } else {
            *failure = QStringLiteral("No value is bound to parameter :%1.").arg(name);
            return false;
        }
        // Always text, never NULL: an empty value is the empty text.
        values->append(value.isNull() ? QString(0, QChar()) : value);
    }
    return true;
}

void SqlQuery::sendAhead()
{
    StatementPipeline *pipeline = m_module.pipeline();
    if (!pipeline)
        return;
    const PositionalStatement statement = toPositionalStatement(m_text, m_module.dialect());
    QStringList values;
    QString failure;
    // A statement that cannot run is left to open(), which reports why.
    if (boundValues(statement, &values, &failure))
        pipeline->sendAhead(statement.text, values);
}

bool SqlQuery::run(bool select, QString *error, int *rowsAffected)
{
    close();
    if (rowsAffected)
        *rowsAffected = 0;

    QString failure;
    const QSqlDatabase db = m_module.database();
    if (!db.isValid() || !db.isOpen()) {
        failure = QStringLiteral("The database connection is not open.");
    } else {
        const PositionalStatement statement = toPositionalStatement(m_text, m_module.dialect());
        QStringList values;
        m_query = std::make_unique<QSqlQuery>(db);
        m_query->setForwardOnly(true);
        if (!boundValues(statement, &values, &failure)) {
            // failure says which parameter has no value
        } else {
            // A write inside a transaction whose row count nobody reads may travel with the
            // next statement that needs an answer, or with the commit.
            StatementPipeline *pipeline = m_module.pipeline();
            if (pipeline && !select && !rowsAffected && m_module.inTransaction())
                pipeline->deferNextStatement();
            if (statement.names.isEmpty()) {
                // Nothing to bind: sent as it is, so that statements PostgreSQL cannot prepare
                // (SET, SHOW) run too.
                if (!m_query->exec(statement.text))
                    failure = sqlErrorText(m_query->lastError());
            } else if (!m_query->prepare(statement.text)) {
                failure = sqlErrorText(m_query->lastError());
            } else {
                for (const QString &value : std::as_const(values))
                    m_query->addBindValue(value);
                if (!m_query->exec())
                    failure = sqlErrorText(m_query->lastError());
            }
        }
    }

    if (!failure.isEmpty()) {
        // A statement that failed spoils the whole operation: nothing may go on inside its
        // transaction (PostgreSQL refuses to anyway).
        if (m_module.inTransaction())
            m_module.rollback();
        close();
        if (error)
            *error = failure;
        return false;
    }
    if (rowsAffected)
        *rowsAffected = m_query->numRowsAffected();
    if (select)
        m_open = true;
    else
        close();
    return true;
}

bool SqlQuery::next()
{
    return m_open && m_query && m_query->next();
}

QVariant SqlQuery::value(int column) const
{
    if (!m_open || !m_query || !m_query->isValid() || column < 0 || column >= columnCount())
        return {};
    return m_query->value(column);
}

int SqlQuery::columnCount() const
{
    return m_open && m_query ? int(m_query->record().count()) : 0;
}

QString SqlQuery::text(int column) const
{
    const QVariant v = value(column);
    return v.isNull() ? QString() : v.toString();
}

bool SqlQuery::isNull(int column) const
{
    return value(column).isNull();
}

bool SqlQuery::isOpen() const
{
    return m_open;
}

void SqlQuery::close()
{
    m_open = false;
    m_query.reset();
}
