#include "machine/databasehost.h"
#include "machine/pelfunction.h"
#include "platform/systemclock.h"

#include <QHostAddress>
#include <QRegularExpression>
#include <QtTest>

#include <cmath>
#include <limits>

#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace Qt::StringLiterals;

class tst_PelFunction : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void cleanup();

    void dateTime_data();
    void dateTime();
    void dateTimeRounding_data();
    void dateTimeRounding();
    void dateTimeInvalid();

    void stringToInteger_data();
    void stringToInteger();
    void versionText();

    void localIpIsDottedIPv4();
    void localIpInNamespace_data();
    void localIpInNamespace();
    void databaseHost_data();
    void databaseHost();

    void clockGuard_data();
    void clockGuard();
    void clockRefusesInvalidTime();
};

void tst_PelFunction::cleanup()
{
    qunsetenv("ORSA_SET_CLOCK");
}

static QDateTime local(int y, int mo, int d, int h = 0, int mi = 0, int s = 0)
{
    return QDateTime(QDate(y, mo, d), QTime(h, mi, s), Qt::LocalTime);
}

void tst_PelFunction::dateTime_data()
{
    QTest::addColumn<QDateTime>("when");
    QTest::addColumn<double>("days");

    QTest::newRow("day zero") << local(1899, 12, 30) << 0.0;
    QTest::newRow("day zero, 06:00") << local(1899, 12, 30, 6) << 0.25;
    QTest::newRow("day one") << local(1899, 12, 31) << 1.0;
    QTest::newRow("1900-01-01") << local(1900, 1, 1) << 2.0;
    QTest::newRow("release day noon") << local(2025, 3, 19, 12) << 45735.5;
    QTest::newRow("one second") << local(2025, 3, 19, 0, 0, 1) << 45735.0 + 1.0 / 86400;
    QTest::newRow("last second of a day") << local(2006, 3, 1, 23, 59, 59) << 38777.0 + 86399.0 / 86400;
    QTest::newRow("day before zero, 06:00") << local(1899, 12, 29, 6) << -1.25;
    QTest::newRow("day before zero, 18:00") << local(1899, 12, 29, 18) << -1.75;
    QTest::newRow("1800-01-01") << local(1800, 1, 1) << -36522.0;
}

void tst_PelFunction::dateTime()
{
    QFETCH(QDateTime, when);
    QFETCH(double, days);

    QVERIFY(std::fabs(toPelDateTime(when) - days) < 1e-9);
    QCOMPARE(fromPelDateTime(days), when);
    QCOMPARE(fromPelDateTime(toPelDateTime(when)), when);
}

void tst_PelFunction::dateTimeRounding_data()
{
    QTest::addColumn<double>("days");
    QTest::addColumn<QDateTime>("when");

    // Values as a database hands them over: close to a whole second, not on it.
    QTest::newRow("just below noon") << 45735.5 - 1e-9 << local(2025, 3, 19, 12);
    QTest::newRow("just above noon") << 45735.5 + 1e-9 << local(2025, 3, 19, 12);
    QTest::newRow("rounds to midnight") << 45735.9999999 << local(2025, 3, 20);
    QTest::newRow("negative rounds to the next day") << -1.9999999 << local(1899, 12, 30);
    QTest::newRow("negative fraction of day zero") << -0.5 << local(1899, 12, 30, 12);
}

void tst_PelFunction::dateTimeRounding()
{
    QFETCH(double, days);
    QFETCH(QDateTime, when);

    QCOMPARE(fromPelDateTime(days), when);
}

void tst_PelFunction::dateTimeInvalid()
{
    QVERIFY(!fromPelDateTime(std::numeric_limits<double>::quiet_NaN()).isValid());
    QVERIFY(!fromPelDateTime(std::numeric_limits<double>::infinity()).isValid());
    QCOMPARE(toPelDateTime(QDateTime()), 0.0);
    // Milliseconds are not part of the value.
    const QDateTime withMsecs(QDate(2025, 3, 19), QTime(8, 30, 15, 750), Qt::LocalTime);
    QCOMPARE(fromPelDateTime(toPelDateTime(withMsecs)), local(2025, 3, 19, 8, 30, 15));
}

void tst_PelFunction::stringToInteger_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<qint64>("value");

    QTest::newRow("empty: first login") << QString() << qint64(0);
    QTest::newRow("zero") << u"0"_s << qint64(0);
    QTest::newRow("sequence") << u"41"_s << qint64(41);
    QTest::newRow("leading zeros") << u"007"_s << qint64(7);
    QTest::newRow("plus") << u"+12"_s << qint64(12);
    QTest::newRow("minus") << u"-12"_s << qint64(-12);
    QTest::newRow("surrounding blanks") << u" 12 "_s << qint64(12);
    QTest::newRow("beyond 32 bits") << u"4294967297"_s << qint64(4294967297LL);
    QTest::newRow("largest") << u"9223372036854775807"_s << std::numeric_limits<qint64>::max();
    QTest::newRow("smallest") << u"-9223372036854775808"_s << std::numeric_limits<qint64>::min();
    QTest::newRow("too large") << u"9223372036854775808"_s << qint64(0);
    QTest::newRow("letters") << u"abc"_s << qint64(0);
    QTest::newRow("digits then letters") << u"12a"_s << qint64(0);
    QTest::newRow("inner blank") << u"1 2"_s << qint64(0);
    QTest::newRow("fraction") << u"12.5"_s << qint64(0);
    QTest::newRow("sign only") << u"-"_s << qint64(0);
    QTest::newRow("blanks only") << u"  "_s << qint64(0);
    QTest::newRow("hexadecimal is not decimal") << u"$10"_s << qint64(0);
}

void tst_PelFunction::stringToInteger()
{
    QFETCH(QString, text);
    QFETCH(qint64, value);

    QCOMPARE(StringToInteger(text), value);
}

void tst_PelFunction::versionText()
{
    QCOMPARE(GetVersionText(), u"2025.3.19.0"_s);
}

void tst_PelFunction::localIpIsDottedIPv4()
{
    const QString ip = PelFunction::createSystem()->GetLocalIP();
    static const QRegularExpression dotted(u"^\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}\\.\\d{1,3}$"_s);
    QVERIFY2(dotted.match(ip).hasMatch(), qPrintable(ip));
    QHostAddress address;
    QVERIFY(address.setAddress(ip));
    QCOMPARE(address.protocol(), QAbstractSocket::IPv4Protocol);
}

void tst_PelFunction::localIpInNamespace_data()
{
    QTest::addColumn<QString>("setup");
    QTest::addColumn<QString>("expected");
    QTest::addColumn<QString>("databaseHost");

    const QString pair = u"ip link add v0 type veth peer name v1 && "_s;
    // The kernel reports a link as running a moment after it is set up: wait for it (bounded).
    const QString waitUp = u" && for i in $(seq 100); do ip -o link show v0 | grep -q 'state UP' && "
                           "ip -o link show v1 | grep -q 'state UP' && break; sleep 0.02; done"_s;
    QTest::newRow("nothing up") << QString() << u"127.0.0.1"_s << QString();
    QTest::newRow("loopback only") << u"ip link set lo up && ip addr add 127.0.0.9/8 dev lo"_s
                                   << u"127.0.0.1"_s << QString();
    QTest::newRow("address on an interface that is down")
        << pair + u"ip addr add 10.77.9.1/24 dev v0"_s << u"127.0.0.1"_s << QString();
    QTest::newRow("first interface without IPv4 is passed over")
        << pair + u"ip addr add 10.77.9.1/24 dev v0 && ip link set v0 up && ip link set v1 up"_s
               + waitUp
        << u"10.77.9.1"_s << QString();
    QTest::newRow("first interface with IPv4 wins")
        << pair + u"ip addr add 10.77.9.1/24 dev v0 && ip addr add 10.77.8.1/24 dev v1 && "
                  "ip link set v0 up && ip link set v1 up"_s + waitUp
        << u"10.77.8.1"_s << QString();

    // Every link of the namespace but lo carries its signal (bounded wait).
    const QString allUp = u" && for i in $(seq 100); do ip -o link | grep -v ': lo:' | "
                          "grep -q 'NO-CARRIER\\|state DOWN\\|LOWERLAYERDOWN' || break; sleep 0.02; done"_s;
    // A container bridge with a container on it, made before the office network: listed first.
    const QString bridge = u"ip link add docker0 type bridge && ip link add dv0 type veth peer name dv1 && "
                           "ip link set dv0 master docker0 && ip addr add 172.17.0.1/16 dev docker0 && "
                           "ip link set docker0 up && ip link set dv0 up && ip link set dv1 up && "_s;
    const QString office = pair + u"ip addr add 10.77.9.1/24 dev v0 && ip link set v0 up && ip link set v1 up && "
                                  "ip route add default via 10.77.9.2 dev v0"_s;
    QTest::newRow("bridge listed first: the default route's address")
        << bridge + office + allUp << u"10.77.9.1"_s << QString();
    QTest::newRow("link-local listed first is passed over")
        << pair + u"ip addr add 169.254.7.7/16 dev v1 && ip addr add 10.77.9.1/24 dev v0 && "
                  "ip link set v0 up && ip link set v1 up"_s + allUp
        << u"10.77.9.1"_s << QString();
    QTest::newRow("link-local only")
        << pair + u"ip addr add 169.254.7.7/16 dev v1 && ip link set v0 up && ip link set v1 up"_s + allUp
        << u"169.254.7.7"_s << QString();
    QTest::newRow("default route through a link-local address")
        << pair + u"ip addr add 169.254.7.7/16 dev v1 && ip addr add 10.77.9.1/24 dev v0 && "
                  "ip link set v0 up && ip link set v1 up && ip route add default via 169.254.7.8 dev v1"_s + allUp
        << u"10.77.9.1"_s << QString();
    // The database server lies behind the second network, not the default route.
    const QString second = u" && ip link add w0 type veth peer name w1 && ip addr add 10.88.0.1/24 dev w0 && "
                           "ip link set w0 up && ip link set w1 up"_s;
    QTest::newRow("route towards the database server")
        << bridge + office + second + allUp << u"10.88.0.1"_s << u"10.88.0.5"_s;
    QTest::newRow("database on this machine: the default route")
        << bridge + office + second + allUp << u"10.77.9.1"_s << u"127.0.0.1"_s;
    QTest::newRow("database server without a route: the default route")
        << office + allUp << u"10.77.9.1"_s << u"10.99.0.5"_s;
}

// Runs GetLocalIP in a network namespace of its own, made in a child process, so the test sees
// a known set of interfaces and sends nothing anywhere.
void tst_PelFunction::localIpInNamespace()
{
    QFETCH(QString, setup);
    QFETCH(QString, expected);
    QFETCH(QString, databaseHost);

    int fds[2];
    QVERIFY(pipe(fds) == 0);
    const pid_t child = fork();
    QVERIFY(child >= 0);
    if (child == 0) {
        close(fds[0]);
        QByteArray answer;
        if (unshare(CLONE_NEWNET) != 0) {
            answer = "!unshare";
        } else if (!setup.isEmpty()
                   && system((setup + u" >/dev/null 2>&1"_s).toLocal8Bit().constData()) != 0) {
            answer = "!setup";
        } else {
            const auto pel = PelFunction::createSystem();
            pel->setDatabaseHost(databaseHost);
            answer = pel->GetLocalIP().toLatin1();
        }
        (void)!write(fds[1], answer.constData(), size_t(answer.size()));
        close(fds[1]);
        _exit(0);
    }
    close(fds[1]);
    QByteArray answer;
    char buffer[256];
    ssize_t n;
    while ((n = read(fds[0], buffer, sizeof buffer)) > 0)
        answer.append(buffer, n);
    close(fds[0]);
    int status = 0;
    waitpid(child, &status, 0);

    if (answer == "!unshare")
        QSKIP("cannot create a network namespace here (needs root)");
    if (answer == "!setup")
        QSKIP("the ip tool or veth interfaces are not available");
    QCOMPARE(QString::fromLatin1(answer), expected);
}

void tst_PelFunction::databaseHost_data()
{
    QTest::addColumn<QString>("kind");  // "service": pg_service.conf, "tns": tnsnames.ora, "easy": easy connect
    QTest::addColumn<QString>("text");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("host");

    QTest::newRow("service host") << u"service"_s << u"[orsa]\nhost=db.resort.example\nport=5432\n"_s
                                  << u"orsa"_s << u"db.resort.example"_s;
    QTest::newRow("service hostaddr wins") << u"service"_s << u"[orsa]\nhost = db\nhostaddr = 10.1.2.3\n"_s
                                           << u"orsa"_s << u"10.1.2.3"_s;
    QTest::newRow("service on a Unix socket") << u"service"_s << u"[orsa]\nhost=/tmp/pg\n"_s << u"orsa"_s
                                              << QString();
    QTest::newRow("service with several hosts") << u"service"_s << u"[orsa]\nhost=10.0.0.1,10.0.0.2\n"_s
                                                << u"orsa"_s << u"10.0.0.1"_s;
    QTest::newRow("host of another service") << u"service"_s
                                             << u"# hosts\n[other]\nhost=10.0.0.9\n[orsa]\nport=5\n"_s
                                             << u"orsa"_s << QString();
    QTest::newRow("service names keep their case") << u"service"_s << u"[ORSA]\nhost=10.0.0.9\n"_s
                                                   << u"orsa"_s << QString();
    QTest::newRow("net service name")
        << u"tns"_s
        << u"ORSA =\n  (DESCRIPTION =\n    (ADDRESS_LIST =\n      (ADDRESS = (PROTOCOL = TCP)(HOST = 10.20.30.40)"
           "(PORT = 1521)))\n    (CONNECT_DATA = (SERVICE_NAME = orsa)))\n"_s
        << u"orsa"_s << u"10.20.30.40"_s;
    QTest::newRow("alias list with a domain, after another entry")
        << u"tns"_s
        << u"# test first\nOTHER = (DESCRIPTION = (ADDRESS = (HOST = 10.9.9.9)))\n"
           "PROD, ORSA.WORLD = (DESCRIPTION=(ADDRESS=(PROTOCOL=TCP)(host=db.example)(PORT=1521)))\n"_s
        << u"orsa"_s << u"db.example"_s;
    QTest::newRow("include line") << u"tns"_s
                                  << u"IFILE = /opt/oracle/more.ora\nORSA = (DESCRIPTION=(ADDRESS=(HOST=10.0.0.3)))\n"_s
                                  << u"ORSA"_s << u"10.0.0.3"_s;
    QTest::newRow("net service name missing") << u"tns"_s << u"OTHER = (DESCRIPTION=(ADDRESS=(HOST=10.0.0.3)))"_s
                                              << u"orsa"_s << QString();
    QTest::newRow("easy connect") << u"easy"_s << QString() << u"db.example:1521/orsa"_s << u"db.example"_s;
    QTest::newRow("easy connect with slashes") << u"easy"_s << QString() << u"//10.1.1.1/orsa"_s << u"10.1.1.1"_s;
    QTest::newRow("plain name is no host") << u"easy"_s << QString() << u"ORSA"_s << QString();
}

void tst_PelFunction::databaseHost()
{
    QFETCH(QString, kind);
    QFETCH(QString, text);
    QFETCH(QString, name);
    QFETCH(QString, host);

    if (kind == u"service") {
        QCOMPARE(serviceFileHost(text.toUtf8(), name), host);
    } else if (kind == u"tns") {
        QCOMPARE(netServiceNamesHost(text, name), host);
    } else {
        const QByteArray admin = qgetenv("TNS_ADMIN");
        const QByteArray home = qgetenv("ORACLE_HOME");
        qunsetenv("TNS_ADMIN");
        qunsetenv("ORACLE_HOME");
        const QString found = oracleNetServiceHost(name);
        if (!admin.isNull())
            qputenv("TNS_ADMIN", admin);
        if (!home.isNull())
            qputenv("ORACLE_HOME", home);
        QCOMPARE(found, host);
    }
}

void tst_PelFunction::clockGuard_data()
{
    QTest::addColumn<QByteArray>("setting");  // "-" leaves ORSA_SET_CLOCK unset
    QTest::addColumn<bool>("sets");

    QTest::newRow("unset") << QByteArray("-") << false;
    QTest::newRow("empty") << QByteArray("") << false;
    QTest::newRow("zero") << QByteArray("0") << false;
    QTest::newRow("yes is not 1") << QByteArray("yes") << false;
    QTest::newRow("one") << QByteArray("1") << true;
}

// The machine's clock is never touched: the setter only records what it would set.
void tst_PelFunction::clockGuard()
{
    QFETCH(QByteArray, setting);
    QFETCH(bool, sets);

    if (setting != "-")
        qputenv("ORSA_SET_CLOCK", setting);
    QList<QDateTime> requested;
    const auto pel = PelFunction::createSystem([&](const QDateTime &when, QString *error) {
        requested.append(when);
        *error = u"no right"_s;
        return false;
    });
    QCOMPARE(PelFunction::clockSettingEnabled(), sets);

    pel->SetPCTime(45735.5);
    pel->SetPCTime(std::numeric_limits<double>::quiet_NaN());
    if (sets)
        QCOMPARE(requested, QList<QDateTime>{local(2025, 3, 19, 12)});
    else
        QVERIFY(requested.isEmpty());
}

void tst_PelFunction::clockRefusesInvalidTime()
{
    QString error;
    QVERIFY(!SystemClock::setLocalTime(QDateTime(), &error));
    QVERIFY(!error.isEmpty());
}

QTEST_GUILESS_MAIN(tst_PelFunction)
#include "tst_pelfunction.moc"
