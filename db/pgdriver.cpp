#include "db/pgdriver.h"

#include <QDateTime>
#include <QPointer>
#include <QSqlError>
#include <QSqlField>
#include <QSqlRecord>
#include <QSqlResult>

#include <libpq-fe.h>

#include <algorithm>
#include <utility>

namespace {

// Type numbers (pg_type.oid) of the built-in types the shell's statements return.
enum : Oid {
    BoolOid = 16,
    ByteaOid = 17,
    Int8Oid = 20,
    Int2Oid = 21,
    Int4Oid = 23,
    OidOid = 26,
    Float4Oid = 700,
    Float8Oid = 701,
    DateOid = 1082,
    TimeOid = 1083,
    TimestampOid = 1114,
    TimestampTzOid = 1184,
    TimeTzOid = 1266,
    NumericOid = 1700,
};

// Sent first on every connection, without waiting for its answer. The time zone is the
// server's own: log_timezone comes only from the server's configuration, while TimeZone may
// come from the workstation (PGTZ, PGOPTIONS). The date style is the one the values are read in.
const char SessionSetup[] =
    "SELECT set_config('TimeZone', current_setting('log_timezone'), false), "
    "set_config('DateStyle', 'ISO, YMD', false)";

struct ResultDeleter
{
    void operator()(PGresult *result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

// A statement as it goes on the wire: UTF-8 text and text values, a null pointer for NULL.
struct WireStatement
{
    QByteArray text;
    QList<QByteArray> values;
    QList<bool> nulls;

    bool operator==(const WireStatement &other) const
    {
        return text == other.text && values == other.values && nulls == other.nulls;
    }
};

bool isNullValue(const QVariant &value)
{
    if (!value.isValid() || value.isNull())
        return true;
    if (value.typeId() == QMetaType::QString)
        return value.toString().isNull();
    if (value.typeId() == QMetaType::QByteArray)
        return value.toByteArray().isNull();
    return false;
}

QByteArray wireValue(const QVariant &value)
{
    switch (value.typeId()) {
    case QMetaType::QByteArray:
        return value.toByteArray();
    case QMetaType::Bool:
        return value.toBool() ? QByteArrayLiteral("t") : QByteArrayLiteral("f");
    case QMetaType::QDateTime:
        return value.toDateTime().toString(Qt::ISODateWithMs).toUtf8();
    case QMetaType::QDate:
        return value.toDate().toString(Qt::ISODate).toUtf8();
    case QMetaType::QTime:
        return value.toTime().toString(Qt::ISODateWithMs).toUtf8();
    default:
        return value.toString().toUtf8();
    }
}

WireStatement wireStatement(const QString &text, const QList<QVariant> &values)
{
    WireStatement statement;
    statement.text = text.toUtf8();
    for (const QVariant &value : values) {
        const bool null = isNullValue(value);
        statement.nulls.append(null);
        statement.values.append(null ? QByteArray() : wireValue(value));
    }
    return statement;
}

QMetaType metaTypeFor(Oid type, QSql::NumericalPrecisionPolicy precision)
{
    switch (type) {
    case BoolOid:
        return QMetaType(QMetaType::Bool);
    case Int8Oid:
        return QMetaType(QMetaType::LongLong);
    case Int2Oid:
    case Int4Oid:
    case OidOid:
        return QMetaType(QMetaType::Int);
    case Float4Oid:
    case Float8Oid:
        return QMetaType(QMetaType::Double);
    case NumericOid:
        switch (precision) {
        case QSql::LowPrecisionInt32:
            return QMetaType(QMetaType::Int);
        case QSql::LowPrecisionInt64:
            return QMetaType(QMetaType::LongLong);
        case QSql::LowPrecisionDouble:
            return QMetaType(QMetaType::Double);
        case QSql::HighPrecision:
            break;
        }
        return QMetaType(QMetaType::QString);
    case DateOid:
        return QMetaType(QMetaType::QDate);
    case TimeOid:
    case TimeTzOid:
        return QMetaType(QMetaType::QTime);
    case TimestampOid:
    case TimestampTzOid:
        return QMetaType(QMetaType::QDateTime);
    case ByteaOid:
        return QMetaType(QMetaType::QByteArray);
    default:
        return QMetaType(QMetaType::QString);
    }
}

// "HH:MM:SS[.ffffff]" as the ISO date style writes it; fractions beyond milliseconds are cut.
QTime parseTime(QStringView text)
{
    const qsizetype dot = text.indexOf(u'.');
    QTime time = QTime::fromString(text.left(dot < 0 ? text.size() : dot).toString(),
                                   QStringLiteral("HH:mm:ss"));
    if (time.isValid() && dot >= 0) {
        const QString fraction = QString(text.mid(dot + 1).toString() + QStringLiteral("000")).left(3);
        time = time.addMSecs(fraction.toInt());
    }
    return time;
}

// "+09", "-03:30", "+05:30:15": seconds east of UTC; false when it is none of these.
bool parseOffset(QStringView text, int *seconds)
{
    if (text.isEmpty() || (text.front() != u'+' && text.front() != u'-'))
        return false;
    const QList<QStringView> parts = text.mid(1).split(u':');
    if (parts.isEmpty() || parts.size() > 3)
        return false;
    int total = 0;
    int unit = 3600;
    for (QStringView part : parts) {
        bool ok = false;
        const int value = part.toInt(&ok);
        if (!ok)
            return false;
        total += value * unit;
        unit /= 60;
    }
    *seconds = text.front() == u'-' ? -total : total;
    return true;
}

// A timestamp in the ISO date style: "YYYY-MM-DD HH:MM:SS[.ffffff][+HH[:MM[:SS]]]". A value
// without zone is the session's local time, which is the server's own (SessionSetup), and reads
// as local time here as Oracle's DATE does. Values the shell cannot hold (infinity, BC years)
// read as an invalid date-time.
QDateTime parseTimestamp(const QString &text, bool withZone)
{
    const qsizetype blank = text.indexOf(u' ');
    if (blank < 0)
        return QDateTime();
    const QDate date = QDate::fromString(text.left(blank), Qt::ISODate);
    QStringView rest = QStringView(text).mid(blank + 1);
    if (rest.endsWith(QLatin1String(" BC")))
        return QDateTime();
    if (!withZone)
        return QDateTime(date, parseTime(rest));
    qsizetype sign = rest.indexOf(u'+');
    if (sign < 0)
        sign = rest.indexOf(u'-');
    int offset = 0;
    if (sign < 0 || !parseOffset(rest.mid(sign), &offset))
        return QDateTime();
    const QDateTime stamped(date, parseTime(rest.left(sign)), Qt::OffsetFromUTC, offset);
    return stamped.toLocalTime();
}

QVariant convertValue(const char *raw, Oid type, QSql::NumericalPrecisionPolicy precision)
{
    const QString text = QString::fromUtf8(raw);
    switch (type) {
    case BoolOid:
        return QVariant(raw[0] == 't');
    case Int8Oid:
        return QVariant(text.toLongLong());
    case Int2Oid:
    case Int4Oid:
    case OidOid:
        return QVariant(text.toInt());
    case Float4Oid:
    case Float8Oid:
        return QVariant(text.toDouble());
    case NumericOid:
        switch (precision) {
        case QSql::LowPrecisionInt32:
            return QVariant(int(text.toDouble()));
        case QSql::LowPrecisionInt64:
            return QVariant(qlonglong(text.toDouble()));
        case QSql::LowPrecisionDouble:
            return QVariant(text.toDouble());
        case QSql::HighPrecision:
            break;
        }
        return QVariant(text);
    case DateOid:
        return QVariant(QDate::fromString(text, Qt::ISODate));
    case TimeOid:
    case TimeTzOid: {
        // The zone of a time with zone is dropped: a time of day is all the shell reads.
        qsizetype end = text.indexOf(u'+');
        if (end < 0)
            end = text.indexOf(u'-');
        return QVariant(parseTime(QStringView(text).left(end < 0 ? text.size() : end)));
    }
    case TimestampOid:
        return QVariant(parseTimestamp(text, false));
    case TimestampTzOid:
        return QVariant(parseTimestamp(text, true));
    case ByteaOid: {
        const QByteArray bytes(raw);
        if (bytes.startsWith("\\x"))
            return QVariant(QByteArray::fromHex(bytes.mid(2)));
        return QVariant(bytes);
    }
    default:
        return QVariant(text);
    }
}

QString connectionMessage(const PGconn *conn)
{
    const QString text = conn ? QString::fromUtf8(PQerrorMessage(conn)).trimmed() : QString();
    return text.isEmpty() ? QStringLiteral("The database connection is not open.") : text;
}

void ignoreNotice(void *, const char *) {}

} // namespace

// The connection and the statements on their way: those not yet handed to libpq (unsent),
// those sent whose answers have not been read yet (in flight), and SELECTs sent ahead whose rows
// wait to be taken.
class PgDriver::Session
{
public:
    enum class Role { Setup, Ahead, Deferred, Now, Sync };

    struct Outcome
    {
        ResultPtr result;
        QString error;
        QString sqlState;
        bool answered = false;
        bool aborted = false;  // skipped by the server after an earlier failure in its batch
        bool ok() const { return answered && !aborted && error.isEmpty(); }
    };

    struct Pending
    {
        Role role = Role::Now;
        WireStatement statement;
        std::shared_ptr<Outcome> outcome;
    };

    struct Ahead
    {
        WireStatement statement;
        std::shared_ptr<Outcome> outcome;
    };

    ~Session() { close(); }

    bool open(const QList<QPair<QByteArray, QByteArray>> &parameters, QString *error);
    void close();
    bool isOpen() const { return m_conn != nullptr; }

    std::shared_ptr<Outcome> queue(Role role, const WireStatement &statement);
    // Sends what is queued, with one synchronisation point, and reads every answer on the way.
    void flush();
    // Runs one statement: from the rows sent ahead, left for later (deferred), or now.
    // false with the error; deferred true when it has not been sent yet.
    bool execute(const WireStatement &statement, ResultPtr *result, bool *deferred,
                 QString *error, QString *sqlState);

    void sendAhead(const WireStatement &statement);
    void forgetAhead();
    bool alive();

    bool begin(QString *error);
    bool commit(QString *error);
    bool rollback(QString *error);

    bool m_deferNext = false;
    int m_waits = 0;
    int m_sent = 0;

private:
    void readAnswers();
    void readOne(Pending &pending);
    void failAll(const QString &message);
    QString errorOf(const Outcome &outcome) const;

    PGconn *m_conn = nullptr;
    QList<Pending> m_unsent;
    QList<Pending> m_inFlight;
    QList<Ahead> m_ahead;
    bool m_inTransaction = false;   // between begin and commit or rollback, as the caller sees it
    bool m_blockOpen = false;       // the server has seen the BEGIN and not yet its end
    QString m_batchError;           // the first failure of the batch read last
    QString m_deferredError;        // a statement left for later failed: the transaction is lost
    QString m_setupError;           // the session could not be set up: nothing may run
};

bool PgDriver::Session::open(const QList<QPair<QByteArray, QByteArray>> &parameters,
                             QString *error)
{
    close();
    QList<const char *> keywords;
    QList<const char *> values;
    for (const auto &[keyword, value] : parameters) {
        keywords.append(keyword.constData());
        values.append(value.constData());
    }
    keywords.append(nullptr);
    values.append(nullptr);
    m_conn = PQconnectdbParams(keywords.constData(), values.constData(), 0);
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        *error = connectionMessage(m_conn);
        close();
        return false;
    }
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
    if (!PQenterPipelineMode(m_conn)) {
        *error = connectionMessage(m_conn);
        close();
        return false;
    }
    // On its way at once; its answer is read with the first statement's, in the same wait.
    queue(Role::Setup, WireStatement{QByteArray(SessionSetup), {}, {}});
    for (Pending &pending : m_unsent) {
        if (!PQsendQueryParams(m_conn, pending.statement.text.constData(), 0, nullptr, nullptr,
                               nullptr, nullptr, 0)) {
            *error = connectionMessage(m_conn);
            close();
            return false;
        }
        ++m_sent;
        m_inFlight.append(pending);
    }
    m_unsent.clear();
    // A synchronisation point of its own: a failure of the first statement must not undo the
    // session's settings with it.
    if (!PQpipelineSync(m_conn)) {
        *error = connectionMessage(m_conn);
        close();
        return false;
    }
    m_inFlight.append(Pending{Role::Sync, {}, nullptr});
    return true;
}

void PgDriver::Session::close()
{
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_unsent.clear();
    m_inFlight.clear();
    m_ahead.clear();
    m_inTransaction = false;
    m_blockOpen = false;
    m_deferNext = false;
    m_batchError.clear();
    m_deferredError.clear();
    m_setupError.clear();
}

std::shared_ptr<PgDriver::Session::Outcome> PgDriver::Session::queue(Role role,
                                                                     const WireStatement &statement)
{
    auto outcome = std::make_shared<Outcome>();
    m_unsent.append(Pending{role, statement, outcome});
    return outcome;
}

void PgDriver::Session::flush()
{
    if (m_unsent.isEmpty() && m_inFlight.isEmpty())
        return;
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK) {
        failAll(connectionMessage(m_conn));
        return;
    }
    m_batchError.clear();
    if (!m_unsent.isEmpty()) {
        const QList<Pending> sending = std::exchange(m_unsent, {});
        for (qsizetype n = 0; n < sending.size(); ++n) {
            const Pending &pending = sending.at(n);
            const WireStatement &s = pending.statement;
            QList<const char *> values;
            for (int i = 0; i < s.values.size(); ++i)
                values.append(s.nulls.at(i) ? nullptr : s.values.at(i).constData());
            if (!PQsendQueryParams(m_conn, s.text.constData(), int(values.size()), nullptr,
                                   values.isEmpty() ? nullptr : values.constData(), nullptr,
                                   nullptr, 0)) {
                m_unsent = sending.mid(n);
                failAll(connectionMessage(m_conn));
                return;
            }
            ++m_sent;
            if (s.text.startsWith("BEGIN"))
                m_blockOpen = true;
            m_inFlight.append(pending);
        }
        if (!PQpipelineSync(m_conn)) {
            failAll(connectionMessage(m_conn));
            return;
        }
        m_inFlight.append(Pending{Role::Sync, {}, nullptr});
    }
    ++m_waits;
    readAnswers();
}

void PgDriver::Session::readAnswers()
{
    while (!m_inFlight.isEmpty()) {
        Pending pending = m_inFlight.takeFirst();
        if (pending.role == Role::Sync) {
            ResultPtr sync(PQgetResult(m_conn));
            if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) {
                // Out of step with the server, or the connection is gone: nothing read from
                // here on could be trusted.
                failAll(sync ? QStringLiteral("The database answered out of order.")
                             : connectionMessage(m_conn));
                if (m_conn)
                    PQfinish(std::exchange(m_conn, nullptr));
                return;
            }
            continue;
        }
        readOne(pending);
        Outcome &outcome = *pending.outcome;
        if (!outcome.error.isEmpty() && m_batchError.isEmpty())
            m_batchError = outcome.error;
        if (!outcome.ok()) {
            if (pending.role == Role::Setup)
                m_setupError = errorOf(outcome);
            else if (pending.role == Role::Deferred && m_deferredError.isEmpty())
                m_deferredError = errorOf(outcome);
        }
        const QByteArray &text = pending.statement.text;
        if (outcome.answered && !outcome.aborted && (text == "COMMIT" || text == "ROLLBACK"))
            m_blockOpen = false;
        if (PQstatus(m_conn) != CONNECTION_OK) {
            failAll(connectionMessage(m_conn));
            return;
        }
    }
}

void PgDriver::Session::readOne(Pending &pending)
{
    Outcome &outcome = *pending.outcome;
    bool got = false;
    while (PGresult *raw = PQgetResult(m_conn)) {
        ResultPtr result(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_PIPELINE_SYNC) {
            // Never inside a statement's answers; leave it to the check of the next sync.
            outcome.error = QStringLiteral("The database answered out of order.");
            break;
        }
        if (got)
            continue;
        got = true;
        switch (status) {
        case PGRES_TUPLES_OK:
        case PGRES_COMMAND_OK:
        case PGRES_EMPTY_QUERY:
            outcome.result = std::move(result);
            break;
        case PGRES_PIPELINE_ABORTED:
            outcome.aborted = true;
            break;
        default:
            outcome.error = QString::fromUtf8(PQresultErrorMessage(raw)).trimmed();
            outcome.sqlState = QString::fromLatin1(PQresultErrorField(raw, PG_DIAG_SQLSTATE));
            if (outcome.error.isEmpty())
                outcome.error = connectionMessage(m_conn);
            break;
        }
    }
    if (!got && outcome.error.isEmpty())
        outcome.error = connectionMessage(m_conn);
    outcome.answered = true;
}

void PgDriver::Session::failAll(const QString &message)
{
    for (QList<Pending> *list : {&m_inFlight, &m_unsent}) {
        for (Pending &pending : *list) {
            if (pending.outcome && !pending.outcome->answered) {
                pending.outcome->error = message;
                pending.outcome->answered = true;
            }
        }
        list->clear();
    }
    if (m_batchError.isEmpty())
        m_batchError = message;
    if (m_inTransaction && m_deferredError.isEmpty())
        m_deferredError = message;
    // The server ends a transaction whose connection it loses.
    m_blockOpen = false;
}

QString PgDriver::Session::errorOf(const Outcome &outcome) const
{
    if (!outcome.error.isEmpty())
        return outcome.error;
    if (outcome.aborted && !m_batchError.isEmpty())
        return m_batchError;
    if (outcome.aborted)
        return QStringLiteral("The statement was not run: an earlier statement failed.");
    return QString();
}

bool PgDriver::Session::alive()
{
    // Reads what has arrived, without waiting (libpq's socket does not block): a server that
    // has gone away has said so and closed the connection by now. The first read takes its
    // farewell message, the next one meets the end of the connection.
    if (!m_conn || PQstatus(m_conn) != CONNECTION_OK)
        return false;
    for (int i = 0; i < 3; ++i) {
        if (!PQconsumeInput(m_conn))
            return false;
    }
    return PQstatus(m_conn) == CONNECTION_OK;
}

bool PgDriver::Session::execute(const WireStatement &statement, ResultPtr *result,
                                bool *deferred, QString *error, QString *sqlState)
{
    *deferred = false;
    const bool mayDefer = std::exchange(m_deferNext, false);
    if (!m_conn) {
        *error = connectionMessage(nullptr);
        return false;
    }

    for (qsizetype i = 0; i < m_ahead.size(); ++i) {
        if (!(m_ahead.at(i).statement == statement))
            continue;
        const std::shared_ptr<Outcome> outcome = m_ahead.takeAt(i).outcome;
        if (!outcome->answered)
            flush();
        if (m_setupError.isEmpty() && outcome->ok()) {
            *result = std::move(outcome->result);
            return true;
        }
        // It failed, or was skipped for another's failure: ask again, and report what happens.
        break;
    }
    forgetAhead();

    if (mayDefer && m_inTransaction && m_deferredError.isEmpty() && m_setupError.isEmpty()
        && alive()) {
        queue(Role::Deferred, statement);
        *deferred = true;
        return true;
    }

    const std::shared_ptr<Outcome> outcome = queue(Role::Now, statement);
    flush();
    QString failure = m_setupError.isEmpty()
        ? QString()
        : QStringLiteral("The database session could not be set up: ") + m_setupError;
    if (failure.isEmpty())
        failure = m_deferredError;
    if (failure.isEmpty())
        failure = errorOf(*outcome);
    if (!failure.isEmpty()) {
        *error = failure;
        *sqlState = outcome->sqlState;
        return false;
    }
    *result = std::move(outcome->result);
    return true;
}

void PgDriver::Session::sendAhead(const WireStatement &statement)
{
    // Inside a transaction a read may depend on what the transaction has written.
    if (!m_conn || m_inTransaction)
        return;
    m_ahead.append(Ahead{statement, queue(Role::Ahead, statement)});
}

void PgDriver::Session::forgetAhead()
{
    m_ahead.clear();
    m_unsent.erase(std::remove_if(m_unsent.begin(), m_unsent.end(),
                                  [](const Pending &p) { return p.role == Role::Ahead; }),
                   m_unsent.end());
}

bool PgDriver::Session::begin(QString *error)
{
    if (!m_conn) {
        *error = connectionMessage(nullptr);
        return false;
    }
    if (m_inTransaction) {
        *error = QStringLiteral("A transaction is already active.");
        return false;
    }
    forgetAhead();
    m_deferredError.clear();
    m_inTransaction = true;
    queue(Role::Deferred, WireStatement{QByteArrayLiteral("BEGIN ISOLATION LEVEL READ COMMITTED"),
                                        {}, {}});
    return true;
}

bool PgDriver::Session::commit(QString *error)
{
    if (!m_inTransaction) {
        *error = QStringLiteral("No transaction is active.");
        return false;
    }
    forgetAhead();
    const bool nothingSent = !m_blockOpen && m_unsent.size() == 1
        && m_unsent.first().role == Role::Deferred && m_unsent.first().statement.text.startsWith("BEGIN");
    if (nothingSent) {
        m_unsent.clear();
        m_inTransaction = false;
        return true;
    }
    const std::shared_ptr<Outcome> outcome = queue(Role::Now, WireStatement{"COMMIT", {}, {}});
    flush();
    m_inTransaction = false;
    QString failure = std::exchange(m_deferredError, QString());
    if (failure.isEmpty())
        failure = errorOf(*outcome);
    // A transaction that failed earlier is ended by COMMIT too, but as a rollback.
    if (failure.isEmpty() && outcome->result
        && qstrcmp(PQcmdStatus(outcome->result.get()), "ROLLBACK") == 0)
        failure = QStringLiteral("The transaction was rolled back by the database.");
    if (!failure.isEmpty()) {
        *error = failure;
        return false;
    }
    return true;
}

bool PgDriver::Session::rollback(QString *error)
{
    forgetAhead();
    m_inTransaction = false;
    m_deferredError.clear();
    // Statements the server has not seen are simply dropped.
    m_unsent.clear();
    if (!m_conn || !m_blockOpen)
        return true;
    const std::shared_ptr<Outcome> outcome =
        queue(Role::Now, WireStatement{QByteArrayLiteral("ROLLBACK"), {}, {}});
    flush();
    m_blockOpen = false;
    const QString failure = errorOf(*outcome);
    if (!failure.isEmpty()) {
        *error = failure;
        return false;
    }
    return true;
}

// One statement and its rows.
class PgResult : public QSqlResult
{
public:
    explicit PgResult(PgDriver *driver) : QSqlResult(driver), m_driver(driver) {}

protected:
    QVariant handle() const override
    {
        return QVariant::fromValue<void *>(m_result.get());
    }

    bool savePrepare(const QString &query) override
    {
        // The statement runner has placed positional placeholders ($1, $2) itself; Qt's own
        // placeholder scan is not wanted.
        clear();
        setQuery(query);
        m_text = query;
        return true;
    }

    bool prepare(const QString &query) override { return savePrepare(query); }

    bool exec() override { return run(m_text, boundValues()); }

    bool reset(const QString &query) override
    {
        m_text = query;
        return run(query, {});
    }

    QVariant data(int column) override
    {
        if (!m_result || column < 0 || column >= PQnfields(m_result.get()) || at() < 0)
            return QVariant();
        const Oid type = PQftype(m_result.get(), column);
        if (PQgetisnull(m_result.get(), at(), column))
            return QVariant(metaTypeFor(type, numericalPrecisionPolicy()));
        return convertValue(PQgetvalue(m_result.get(), at(), column), type,
                            numericalPrecisionPolicy());
    }

    bool isNull(int column) override
    {
        if (!m_result || column < 0 || column >= PQnfields(m_result.get()) || at() < 0)
            return true;
        return PQgetisnull(m_result.get(), at(), column);
    }

    bool fetch(int row) override
    {
        if (!m_result || !isSelect() || row < 0 || row >= PQntuples(m_result.get()))
            return false;
        setAt(row);
        return true;
    }

    bool fetchFirst() override { return fetch(0); }

    bool fetchLast() override { return m_result && fetch(PQntuples(m_result.get()) - 1); }

    int size() override { return m_result && isSelect() ? PQntuples(m_result.get()) : -1; }

    int numRowsAffected() override
    {
        // A statement left for later has not been counted yet.
        if (!m_result)
            return -1;
        bool ok = false;
        const int rows = QByteArray(PQcmdTuples(m_result.get())).toInt(&ok);
        return ok ? rows : -1;
    }

    QSqlRecord record() const override
    {
        QSqlRecord record;
        if (!m_result || !isSelect())
            return record;
        for (int i = 0; i < PQnfields(m_result.get()); ++i) {
            QSqlField field(QString::fromUtf8(PQfname(m_result.get(), i)),
                            metaTypeFor(PQftype(m_result.get(), i), numericalPrecisionPolicy()));
            record.append(field);
        }
        return record;
    }

    void detachFromResultSet() override { m_result.reset(); }

private:
    bool run(const QString &text, const QList<QVariant> &values)
    {
        m_result.reset();
        setSelect(false);
        setActive(false);
        setAt(QSql::BeforeFirstRow);
        if (!m_driver || !m_driver->m_session->isOpen()) {
            setLastError(QSqlError(QStringLiteral("Unable to run the statement"),
                                   connectionMessage(nullptr), QSqlError::ConnectionError));
            return false;
        }
        bool deferred = false;
        QString error;
        QString sqlState;
        if (!m_driver->m_session->execute(wireStatement(text, values), &m_result, &deferred,
                                          &error, &sqlState)) {
            setLastError(QSqlError(QStringLiteral("Unable to run the statement"), error,
                                   QSqlError::StatementError, sqlState));
            return false;
        }
        setSelect(!deferred && m_result && PQresultStatus(m_result.get()) == PGRES_TUPLES_OK);
        setActive(true);
        return true;
    }

    QPointer<PgDriver> m_driver;
    QString m_text;
    ResultPtr m_result;
};

PgDriver::PgDriver(QObject *parent) : QSqlDriver(parent), m_session(std::make_unique<Session>()) {}

PgDriver::~PgDriver() = default;

bool PgDriver::hasFeature(DriverFeature feature) const
{
    switch (feature) {
    case Transactions:
    case QuerySize:
    case BLOB:
    case Unicode:
    case PreparedQueries:
    case PositionalPlaceholders:
    case LowPrecisionNumbers:
        return true;
    default:
        return false;
    }
}

bool PgDriver::open(const QString &db, const QString &user, const QString &password,
                    const QString &host, int port, const QString &connOpts)
{
    close();
    QList<QPair<QByteArray, QByteArray>> parameters;
    if (!connOpts.trimmed().isEmpty()) {
        QString options = connOpts;
        options.replace(u';', u' ');
        char *parseError = nullptr;
        PQconninfoOption *parsed = PQconninfoParse(options.toUtf8().constData(), &parseError);
        if (!parsed) {
            const QString text = parseError ? QString::fromUtf8(parseError).trimmed()
                                            : QStringLiteral("out of memory");
            PQfreemem(parseError);
            setLastError(QSqlError(QStringLiteral("Unable to connect"),
                                   QStringLiteral("Bad connection options \"%1\": %2")
                                       .arg(connOpts, text),
                                   QSqlError::ConnectionError));
            setOpenError(true);
            return false;
        }
        for (PQconninfoOption *option = parsed; option->keyword; ++option) {
            if (option->val)
                parameters.append({QByteArray(option->keyword), QByteArray(option->val)});
        }
        PQconninfoFree(parsed);
    }
    const auto add = [&parameters](const char *keyword, const QString &value) {
        if (!value.isEmpty())
            parameters.append({QByteArray(keyword), value.toUtf8()});
    };
    add("dbname", db);
    add("user", user);
    add("password", password);
    add("host", host);
    if (port >= 0)
        add("port", QString::number(port));
    parameters.append({QByteArrayLiteral("client_encoding"), QByteArrayLiteral("UTF8")});
    parameters.append({QByteArrayLiteral("fallback_application_name"), QByteArrayLiteral("orsa")});

    QString error;
    if (!m_session->open(parameters, &error)) {
        setLastError(QSqlError(QStringLiteral("Unable to connect"), error,
                               QSqlError::ConnectionError));
        setOpenError(true);
        return false;
    }
    setOpen(true);
    setOpenError(false);
    return true;
}

void PgDriver::close()
{
    m_session->close();
    if (isOpen())
        setOpen(false);
}

QSqlResult *PgDriver::createResult() const
{
    return new PgResult(const_cast<PgDriver *>(this));
}

QVariant PgDriver::handle() const
{
    return QVariant();
}

bool PgDriver::beginTransaction()
{
    QString error;
    if (m_session->begin(&error))
        return true;
    setLastError(QSqlError(QStringLiteral("Unable to begin transaction"), error,
                           QSqlError::TransactionError));
    return false;
}

bool PgDriver::commitTransaction()
{
    QString error;
    if (m_session->commit(&error))
        return true;
    setLastError(QSqlError(QStringLiteral("Unable to commit transaction"), error,
                           QSqlError::TransactionError));
    return false;
}

bool PgDriver::rollbackTransaction()
{
    QString error;
    if (m_session->rollback(&error))
        return true;
    setLastError(QSqlError(QStringLiteral("Unable to roll back transaction"), error,
                           QSqlError::TransactionError));
    return false;
}

void PgDriver::sendAhead(const QString &text, const QStringList &values)
{
    QList<QVariant> variants;
    for (const QString &value : values)
        variants.append(value);
    m_session->sendAhead(wireStatement(text, variants));
}

void PgDriver::deferNextStatement()
{
    m_session->m_deferNext = true;
}

int PgDriver::waits() const
{
    return m_session->m_waits;
}

int PgDriver::statementsSent() const
{
    return m_session->m_sent;
}
