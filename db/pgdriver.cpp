#include "db/pgdriver.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QPointer>
#include <QSocketNotifier>
#include <QThread>
#include <QTimer>
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

// Sent first on every connection, without waiting for its answer. The date style is the one
// the values are read in. A row lock held by another program ends the wait for it with the
// server's error after LockWaitSeconds, well before the shell stops waiting for the answer.
// The time zone is not touched: the session starts in the server's configured one
// (postgresql.conf, ALTER DATABASE or ALTER ROLE ... SET timezone), because nothing of the
// workstation's reaches the start-up message (EnvironmentGuard).
const QByteArray SessionSetup =
    "SELECT set_config('DateStyle', 'ISO, YMD', false), set_config('lock_timeout', '"
    + QByteArray::number(PgDriver::LockWaitSeconds) + "s', false)";

// libpq puts PGTZ and PGDATESTYLE into the start-up message and takes PGOPTIONS for its
// options, and a setting from there outranks the server's own configuration for the whole
// session. The shell's session must run on the server's clock, so while a connection is being
// made these are out of the process's environment; they are back afterwards, for the programs
// the shell starts.
class EnvironmentGuard
{
public:
    EnvironmentGuard()
    {
        for (const char *name : {"PGTZ", "PGOPTIONS", "PGDATESTYLE"}) {
            if (qEnvironmentVariableIsSet(name)) {
                m_saved.append({name, qgetenv(name)});
                qunsetenv(name);
            }
        }
    }
    ~EnvironmentGuard()
    {
        for (const auto &[name, value] : std::as_const(m_saved))
            qputenv(name, value);
    }
    EnvironmentGuard(const EnvironmentGuard &) = delete;
    EnvironmentGuard &operator=(const EnvironmentGuard &) = delete;

private:
    QList<QPair<const char *, QByteArray>> m_saved;
};

struct ResultDeleter
{
    void operator()(PGresult *result) const { PQclear(result); }
};
using ResultPtr = std::unique_ptr<PGresult, ResultDeleter>;

// A statement as it goes on the wire: UTF-8 text, values as text, a null pointer for NULL. A
// QByteArray value goes as binary data (bytea), byte for byte.
struct WireStatement
{
    QByteArray text;
    QList<QByteArray> values;
    QList<bool> nulls;
    QList<bool> binary;

    bool operator==(const WireStatement &other) const
    {
        return text == other.text && values == other.values && nulls == other.nulls
            && binary == other.binary;
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
        statement.binary.append(value.typeId() == QMetaType::QByteArray);
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
    case NumericOid: {
        // A whole number is read as one, exactly: through a double, numbers above 2^53 would
        // come back changed.
        bool whole = false;
        const qlonglong integer = text.toLongLong(&whole);
        switch (precision) {
        case QSql::LowPrecisionInt32:
            return QVariant(whole ? int(integer) : int(text.toDouble()));
        case QSql::LowPrecisionInt64:
            return QVariant(whole ? integer : qlonglong(text.toDouble()));
        case QSql::LowPrecisionDouble:
            return QVariant(text.toDouble());
        case QSql::HighPrecision:
            break;
        }
        return QVariant(text);
    }
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
        // Either output format of the server (bytea_output hex or escape).
        size_t length = 0;
        unsigned char *bytes = PQunescapeBytea(reinterpret_cast<const unsigned char *>(raw), &length);
        if (!bytes)
            return QVariant(QMetaType(QMetaType::QByteArray));
        const QByteArray value(reinterpret_cast<const char *>(bytes), qsizetype(length));
        PQfreemem(bytes);
        return QVariant(value);
    }
    default:
        return QVariant(text);
    }
}

// "?" outside quoted text and comments becomes "$1", "$2" and so on, left to right.
QString numberedPlaceholders(const QString &query)
{
    QString result;
    result.reserve(query.size() + 8);
    int count = 0;
    QChar quote;
    for (qsizetype i = 0; i < query.size(); ++i) {
        const QChar c = query.at(i);
        if (!quote.isNull()) {
            if (c == quote)
                quote = QChar();
            result += c;
        } else if (c == u'\'' || c == u'"') {
            quote = c;
            result += c;
        } else if (c == u'-' && query.mid(i, 2) == QLatin1String("--")) {
            const qsizetype end = query.indexOf(u'\n', i);
            const qsizetype stop = end < 0 ? query.size() : end;
            result += query.mid(i, stop - i);
            i = stop - 1;
        } else if (c == u'/' && query.mid(i, 2) == QLatin1String("/*")) {
            const qsizetype end = query.indexOf(QLatin1String("*/"), i + 2);
            const qsizetype stop = end < 0 ? query.size() : end + 2;
            result += query.mid(i, stop - i);
            i = stop - 1;
        } else if (c == u'?') {
            result += u'$' + QString::number(++count);
        } else {
            result += c;
        }
    }
    return result;
}

// libpq writes its own messages in the encoding of the workstation's locale (a CP949 Windows
// among them).
QString connectionMessage(const PGconn *conn)
{
    const QString text = conn ? QString::fromLocal8Bit(PQerrorMessage(conn)).trimmed() : QString();
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
    bool waiting() const { return m_waitLoop != nullptr; }

    std::shared_ptr<Outcome> queue(Role role, const WireStatement &statement);
    // Sends what is queued, with one synchronisation point, and reads every answer on the way.
    void flush();
    // Runs one statement: from the rows sent ahead, left for later (deferred), or now.
    // false with the error; deferred true when it has not been sent yet.
    bool execute(const WireStatement &statement, ResultPtr *result, bool *deferred,
                 QString *error, QString *sqlState);

    void sendAhead(const WireStatement &statement);
    void forgetAhead();
    // Why there is no connection: the reason it was given up, until the next open.
    QString closedMessage() const
    {
        return m_lostError.isEmpty() ? connectionMessage(nullptr) : m_lostError;
    }
    bool alive();

    bool begin(QString *error);
    bool commit(QString *error);
    bool rollback(QString *error);

    bool m_deferNext = false;
    int m_waits = 0;
    int m_sent = 0;
    // Rows changed by the writes of the transaction begun last, deferred ones included; known
    // once its commit has been answered.
    int m_transactionRows = 0;

private:
    enum class Direction { Read, Write, Either };
    // Waits until libpq's socket is ready, at most until the deadline; false with m_waitError
    // set when the time ran out or the connection was closed meanwhile.
    bool waitForSocket(Direction direction, const QDeadlineTimer &deadline);
    // A call that comes while another one waits for the server (from an event handled
    // meanwhile) is refused: one operation at a time on the connection.
    bool refuseWhileWaiting(QString *error) const;
    // Everything handed to libpq goes out; false with m_waitError when it could not.
    bool sendOut();
    // The next result, waited for until m_deadline; null at the end of a statement's results,
    // and when the wait failed (m_waitError) or the connection ended.
    PGresult *nextResult();
    // After a failed wait or a COPY: the connection is given up, so that the server ends (and
    // rolls back) whatever was under way, and the next operation connects afresh.
    void abandon(const QString &message);
    void readAnswers();
    void readOne(Pending &pending);
    void failAll(const QString &message);
    QString errorOf(const Outcome &outcome) const;

    PGconn *m_conn = nullptr;
    QDeadlineTimer m_deadline;      // of the wait under way
    int m_waitBound = 0;            // its length in seconds
    QEventLoop *m_waitLoop = nullptr;
    bool m_closeRequested = false;  // close() came while a wait was under way
    QString m_waitError;
    QString m_lostError;            // why the connection was given up
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
    const auto fail = [this, error](const QString &message) {
        *error = message;
        close();
        return false;
    };
    {
        const EnvironmentGuard guard;
        m_conn = PQconnectStartParams(keywords.constData(), values.constData(), 0);
        if (!m_conn || PQstatus(m_conn) == CONNECTION_BAD)
            return fail(connectionMessage(m_conn));
        m_waitBound = PgDriver::ConnectSeconds;
        const QDeadlineTimer deadline(m_waitBound * 1000);
        PostgresPollingStatusType state = PGRES_POLLING_WRITING;
        while (state != PGRES_POLLING_OK) {
            if (state == PGRES_POLLING_FAILED)
                return fail(connectionMessage(m_conn));
            if (!waitForSocket(state == PGRES_POLLING_READING ? Direction::Read : Direction::Write,
                               deadline)) {
                return fail(m_waitError);
            }
            state = PQconnectPoll(m_conn);
        }
    }
    PQsetNoticeProcessor(m_conn, ignoreNotice, nullptr);
    if (PQsetnonblocking(m_conn, 1) != 0 || !PQenterPipelineMode(m_conn))
        return fail(connectionMessage(m_conn));
    // On its way at once; its answer is read with the first statement's, in the same wait.
    queue(Role::Setup, WireStatement{SessionSetup, {}, {}, {}});
    for (Pending &pending : m_unsent) {
        if (!PQsendQueryParams(m_conn, pending.statement.text.constData(), 0, nullptr, nullptr,
                               nullptr, nullptr, 0)) {
            return fail(connectionMessage(m_conn));
        }
        ++m_sent;
        m_inFlight.append(pending);
    }
    m_unsent.clear();
    // A synchronisation point of its own: a failure of the first statement must not undo the
    // session's settings with it.
    if (!PQpipelineSync(m_conn))
        return fail(connectionMessage(m_conn));
    m_inFlight.append(Pending{Role::Sync, {}, nullptr});
    return true;
}

bool PgDriver::Session::waitForSocket(Direction direction, const QDeadlineTimer &deadline)
{
    const int socket = m_conn ? PQsocket(m_conn) : -1;
    if (socket < 0) {
        m_waitError = connectionMessage(m_conn);
        return false;
    }
    const auto late = [this] {
        m_waitError = QStringLiteral("The database server did not answer within %1 seconds.")
                          .arg(m_waitBound);
        return false;
    };
    if (deadline.hasExpired())
        return late();
    if (!QCoreApplication::instance()) {
        // No event loop to wait in (a program without an application object): a short nap,
        // after which the caller looks again.
        QThread::msleep(std::min<qint64>(5, deadline.remainingTime()));
        return true;
    }

    // The window goes on painting and answering the window manager, the forced-logout port
    // goes on greeting, timers run; keys and clicks wait until the answer is in, so that the
    // user cannot start a second operation meanwhile.
    QEventLoop loop;
    QSocketNotifier readable(qintptr(socket), QSocketNotifier::Read);
    QSocketNotifier writable(qintptr(socket), QSocketNotifier::Write);
    readable.setEnabled(direction != Direction::Write);
    writable.setEnabled(direction != Direction::Read);
    QObject::connect(&readable, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QObject::connect(&writable, &QSocketNotifier::activated, &loop, &QEventLoop::quit);
    QTimer timer;
    timer.setSingleShot(true);
    QObject::connect(&timer, &QTimer::timeout, &loop, &QEventLoop::quit);
    timer.start(std::chrono::milliseconds(std::max<qint64>(0, deadline.remainingTime())));
    m_waitLoop = &loop;
    loop.exec(QEventLoop::ExcludeUserInputEvents);
    m_waitLoop = nullptr;

    // Whatever ran meanwhile may have closed the connection.
    if (m_closeRequested) {
        m_waitError = QStringLiteral("The database connection was closed while it waited for "
                                     "the server.");
        return false;
    }
    if (deadline.hasExpired())
        return late();
    return true;
}

bool PgDriver::Session::refuseWhileWaiting(QString *error) const
{
    if (!m_waitLoop)
        return false;
    *error = QStringLiteral("The database connection is still waiting for the server's answer "
                            "to another statement.");
    return true;
}

bool PgDriver::Session::sendOut()
{
    for (;;) {
        const int state = PQflush(m_conn);
        if (state == 0)
            return true;
        if (state < 0) {
            m_waitError = connectionMessage(m_conn);
            return false;
        }
        // The server may be sending while it reads: take that in, or both sides wait forever.
        if (!waitForSocket(Direction::Either, m_deadline))
            return false;
        if (!PQconsumeInput(m_conn)) {
            m_waitError = connectionMessage(m_conn);
            return false;
        }
    }
}

PGresult *PgDriver::Session::nextResult()
{
    if (!m_conn || !m_waitError.isEmpty())
        return nullptr;
    while (PQisBusy(m_conn)) {
        if (!waitForSocket(Direction::Read, m_deadline))
            return nullptr;
        // A connection that ended is reported by the result that follows.
        if (!PQconsumeInput(m_conn))
            break;
    }
    return PQgetResult(m_conn);
}

void PgDriver::Session::abandon(const QString &message)
{
    if (m_conn && !message.isEmpty())
        m_lostError = message;
    failAll(message);
    if (m_conn)
        PQfinish(std::exchange(m_conn, nullptr));
}

void PgDriver::Session::close()
{
    if (m_waitLoop) {
        // Called from an event handled while a statement waits: the waiting call lets the
        // connection go when it is back (waitForSocket).
        m_closeRequested = true;
        m_waitLoop->quit();
        return;
    }
    if (m_conn)
        PQfinish(m_conn);
    m_conn = nullptr;
    m_closeRequested = false;
    m_waitError.clear();
    m_lostError.clear();
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
        failAll(m_conn ? connectionMessage(m_conn) : closedMessage());
        return;
    }
    m_batchError.clear();
    if (!m_unsent.isEmpty()) {
        const QList<Pending> sending = std::exchange(m_unsent, {});
        for (qsizetype n = 0; n < sending.size(); ++n) {
            const Pending &pending = sending.at(n);
            const WireStatement &s = pending.statement;
            QList<const char *> values;
            QList<Oid> types;
            QList<int> lengths;
            QList<int> formats;
            for (int i = 0; i < s.values.size(); ++i) {
                const bool binary = s.binary.at(i);
                values.append(s.nulls.at(i) ? nullptr : s.values.at(i).constData());
                types.append(binary ? Oid(ByteaOid) : Oid(0));
                lengths.append(int(s.values.at(i).size()));
                formats.append(binary ? 1 : 0);
            }
            const bool anyParameters = !values.isEmpty();
            if (!PQsendQueryParams(m_conn, s.text.constData(), int(values.size()),
                                   anyParameters ? types.constData() : nullptr,
                                   anyParameters ? values.constData() : nullptr,
                                   anyParameters ? lengths.constData() : nullptr,
                                   anyParameters ? formats.constData() : nullptr, 0)) {
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
    m_waitError.clear();
    m_waitBound = PgDriver::AnswerSeconds;
    m_deadline = QDeadlineTimer(m_waitBound * 1000);
    if (!sendOut()) {
        abandon(m_waitError);
        return;
    }
    readAnswers();
    if (m_closeRequested)
        close();
}

void PgDriver::Session::readAnswers()
{
    while (!m_inFlight.isEmpty()) {
        Pending pending = m_inFlight.takeFirst();
        if (pending.role == Role::Sync) {
            ResultPtr sync(nextResult());
            if (!sync || PQresultStatus(sync.get()) != PGRES_PIPELINE_SYNC) {
                // Out of step with the server, or the connection is gone: nothing read from
                // here on could be trusted. A connection that ended says why.
                QString message = m_waitError;
                if (message.isEmpty() && sync && PQresultStatus(sync.get()) == PGRES_FATAL_ERROR)
                    message = QString::fromUtf8(PQresultErrorMessage(sync.get())).trimmed();
                if (message.isEmpty() && (!sync || PQstatus(m_conn) != CONNECTION_OK))
                    message = connectionMessage(m_conn);
                if (message.isEmpty())
                    message = QStringLiteral("The database answered out of order.");
                abandon(message);
                return;
            }
            continue;
        }
        readOne(pending);
        if (!m_conn || !m_waitError.isEmpty()) {
            // The wait ran out, or the statement was one the driver does not take (COPY).
            abandon(m_waitError.isEmpty() ? pending.outcome->error : m_waitError);
            return;
        }
        Outcome &outcome = *pending.outcome;
        if (!outcome.error.isEmpty() && m_batchError.isEmpty())
            m_batchError = outcome.error;
        if (!outcome.ok()) {
            if (pending.role == Role::Setup)
                m_setupError = errorOf(outcome);
            else if (pending.role == Role::Deferred && m_deferredError.isEmpty())
                m_deferredError = errorOf(outcome);
        }
        if (m_inTransaction && outcome.ok() && outcome.result
            && PQresultStatus(outcome.result.get()) == PGRES_COMMAND_OK)
            m_transactionRows += QByteArray(PQcmdTuples(outcome.result.get())).toInt();
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
    while (PGresult *raw = nextResult()) {
        ResultPtr result(raw);
        const ExecStatusType status = PQresultStatus(raw);
        if (status == PGRES_COPY_IN || status == PGRES_COPY_OUT || status == PGRES_COPY_BOTH) {
            // The shell has no use for COPY, and libpq would hand this result out again and
            // again until the copy is done: the statement fails, and the connection with it.
            outcome.error = QStringLiteral("COPY is not supported by this database driver.");
            outcome.answered = true;
            abandon(outcome.error);
            return;
        }
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
    if (!m_waitError.isEmpty())
        outcome.error = m_waitError;
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
    if (refuseWhileWaiting(error))
        return false;
    if (!m_conn) {
        *error = closedMessage();
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
    // Inside a transaction a read may depend on what the transaction has written. Nothing is
    // sent ahead from an event served while another statement waits.
    if (!m_conn || m_inTransaction || m_waitLoop)
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
    if (refuseWhileWaiting(error))
        return false;
    if (!m_conn) {
        *error = closedMessage();
        return false;
    }
    if (m_inTransaction) {
        *error = QStringLiteral("A transaction is already active.");
        return false;
    }
    forgetAhead();
    m_deferredError.clear();
    m_transactionRows = 0;
    m_inTransaction = true;
    queue(Role::Deferred, WireStatement{QByteArrayLiteral("BEGIN ISOLATION LEVEL READ COMMITTED"),
                                        {}, {}, {}});
    return true;
}

bool PgDriver::Session::commit(QString *error)
{
    if (refuseWhileWaiting(error))
        return false;
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
    const std::shared_ptr<Outcome> outcome = queue(Role::Now, WireStatement{"COMMIT", {}, {}, {}});
    flush();
    m_inTransaction = false;
    QString failure = m_setupError.isEmpty()
        ? QString()
        : QStringLiteral("The database session could not be set up: ") + m_setupError;
    const QString deferredError = std::exchange(m_deferredError, QString());
    if (failure.isEmpty())
        failure = deferredError;
    if (failure.isEmpty())
        failure = errorOf(*outcome);
    // A transaction that failed earlier is ended by COMMIT too, but as a rollback.
    if (failure.isEmpty() && outcome->result
        && qstrcmp(PQcmdStatus(outcome->result.get()), "ROLLBACK") == 0)
        failure = QStringLiteral("The transaction was rolled back by the database.");
    if (!failure.isEmpty()) {
        // A COMMIT skipped for an earlier failure in its batch leaves the transaction open on
        // the server, and every later statement would be refused: it is ended here.
        if (m_blockOpen && m_conn) {
            QString ignored;
            rollback(&ignored);
        }
        *error = failure;
        return false;
    }
    return true;
}

bool PgDriver::Session::rollback(QString *error)
{
    if (refuseWhileWaiting(error))
        return false;
    forgetAhead();
    m_inTransaction = false;
    m_deferredError.clear();
    // Statements the server has not seen are simply dropped.
    m_unsent.clear();
    if (!m_conn || !m_blockOpen)
        return true;
    const std::shared_ptr<Outcome> outcome =
        queue(Role::Now, WireStatement{QByteArrayLiteral("ROLLBACK"), {}, {}, {}});
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

    // Qt has turned named placeholders (:name) into "?" already and keeps which value goes
    // where; the server wants "$1", "$2". The statement runner's own "$n" pass unchanged.
    bool prepare(const QString &query) override
    {
        m_text = numberedPlaceholders(query);
        return true;
    }

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
                                   m_driver ? m_driver->m_session->closedMessage()
                                            : connectionMessage(nullptr),
                                   QSqlError::ConnectionError));
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
    if (m_session->waiting()) {
        // From an event served while this connection waits for the server.
        setLastError(QSqlError(QStringLiteral("Unable to connect"),
                               QStringLiteral("The database connection is still waiting for the "
                                              "server."),
                               QSqlError::ConnectionError));
        setOpenError(true);
        return false;
    }
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

int PgDriver::transactionRowsAffected() const
{
    return m_session->m_transactionRows;
}

void PgDriver::deferNextStatement()
{
    if (!m_session->waiting())
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
