// A login over TLS with the server's certificate checked (sslmode=verify-full): a cluster of its
// own (scripts/dbcluster with ORSA_DB_TLS=1), reached on 127.0.0.1 over TCP, whose
// certificate is made for the test by an authority of its own.

#include "db/tfrm_zd000.h"
#include "peer/forcedlogoutclient.h"
#include "session/authentication.h"
#include "shared/sharedvalues.h"
#include "support/fakemessages.h"

#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <memory>

namespace {

class TypedFields : public LoginFields
{
public:
    TypedFields(const QString &empNo, const QString &password) : m_empNo(empNo), m_password(password) {}
    QString employeeNumber() const override { return m_empNo; }
    QString password() const override { return m_password; }
    void clearFields() override {}
    void selectPassword() override {}

private:
    QString m_empNo;
    QString m_password;
};

const QString DbCluster = QStringLiteral(ORSA_SOURCE_DIR "/scripts/dbcluster");

} // namespace

class tst_TlsLogin : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanupTestCase();
    void login_data();
    void login();

private:
    bool cluster(const QString &command, QByteArray *output);

    QTemporaryDir m_dir;
    bool m_started = false;
    QByteArray m_serviceFileBefore;
};

bool tst_TlsLogin::cluster(const QString &command, QByteArray *output)
{
    QProcess process;
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("ORSA_DB_TLS"), QStringLiteral("1"));
    process.setProcessEnvironment(environment);
    process.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    process.start(DbCluster, {command, m_dir.path()});
    // Creating a cluster (initdb, certificates, schema) takes seconds, more on a busy machine.
    if (!process.waitForFinished(180000)) {
        process.kill();
        process.waitForFinished(5000);
        return false;
    }
    if (output)
        *output = process.readAllStandardOutput();
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

void tst_TlsLogin::initTestCase()
{
    if (QStandardPaths::findExecutable(QStringLiteral("openssl")).isEmpty())
        QSKIP("openssl is missing: run the README's test command (scripts/setup installs it)");
    QVERIFY(m_dir.isValid());
    QByteArray output;
    QVERIFY2(cluster(QStringLiteral("start"), &output), "the TLS cluster did not start");
    m_started = true;
    QByteArray serviceFile;
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith("export PGSERVICEFILE="))
            serviceFile = line.mid(int(qstrlen("export PGSERVICEFILE=")));
    }
    QVERIFY2(!serviceFile.isEmpty(), output.constData());
    m_serviceFileBefore = qgetenv("PGSERVICEFILE");
    qputenv("PGSERVICEFILE", serviceFile);
}

void tst_TlsLogin::cleanupTestCase()
{
    qputenv("PGSERVICEFILE", m_serviceFileBefore);
    if (m_started)
        cluster(QStringLiteral("stop"), nullptr);
}

void tst_TlsLogin::login_data()
{
    QTest::addColumn<QString>("service");
    QTest::addColumn<bool>("logsIn");
    QTest::newRow("certificate made for the server's name") << QStringLiteral("orsa") << true;
    QTest::newRow("server reached under another name") << QStringLiteral("orsa_wrongname") << false;
}

// The accounts reach this server on hostssl lines only, so a login is a login over TLS; under
// a name its certificate was not made for, verify-full refuses the server before any password
// is sent.
void tst_TlsLogin::login()
{
    QFETCH(QString, service);
    QFETCH(bool, logsIn);

    FakeMessages messages;
    Tfrm_ZD000 db(messages);
    db.setDialect(SqlDialect::PostgreSql);
    db.setConnectionParameters(service, QStringLiteral("orsa_demo"), QStringLiteral("orsa_demo"));
    SharedValues shared;
    shared.LocalIP = QStringLiteral("127.0.0.1");
    ForcedLogoutClient nobodyAsked;
    Authentication authentication(db, messages, shared, nobodyAsked);
    // 1004 may be logged in on several workstations: nothing is asked of another shell.
    TypedFields fields(QStringLiteral("1004"), QStringLiteral("orsa1004!"));
    const AuthResult result = authentication.Authenticate(true, fields);
    if (logsIn) {
        QVERIFY2(result.value == 1, qPrintable(result.error + messages.texts().join(u'|')));
        QCOMPARE(shared.EmpNo, QStringLiteral("1004"));
    } else {
        QVERIFY(result.value != 1);
        QVERIFY(shared.EmpNo.isEmpty());
        QVERIFY2(messages.texts().join(u'|').contains(QStringLiteral("does not match host name")),
                 qPrintable(messages.texts().join(u'|')));
    }
}

QTEST_MAIN(tst_TlsLogin)
#include "tst_tlslogin.moc"
