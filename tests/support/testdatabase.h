#pragma once
#include <QDateTime>
#include <QList>
#include <QString>
#include <QVariant>
#include <QVariantList>

#include <memory>

class Tfrm_ZD000;

// The private PostgreSQL cluster that scripts/test starts (scripts/dbcluster): the demo schema
// and data of db/schema, reached through the libpq service named by ORSA_TEST_PGSERVICE.
//
//     QString error;
//     m_db = TestDatabase::open(&error);
//     if (!m_db)
//         QFAIL(qPrintable(error));
//     ...
//     QVERIFY2(m_db->reset(&error), qPrintable(error));   // in init(): the demo rows again
//
// The fixture has a connection of its own (as orsa_demo) for setting up rows and reading them
// back; the code under test gets a data module configured with configure().
class TestDatabase
{
public:
    // Null with the reason when the cluster's environment is missing or it cannot be reached.
    static std::unique_ptr<TestDatabase> open(QString *error);
    ~TestDatabase();

    // The service name, as Main.ini's DATABASE gives it with DRIVER=POSTGRESQL.
    QString serviceName() const { return m_service; }
    static QString demoAccount() { return QStringLiteral("orsa_demo"); }

    // The module speaks PostgreSQL to the service as the account, whose name is its password.
    void configure(Tfrm_ZD000 &module, const QString &account = demoAccount()) const;

    // Every table holds the demo rows again (the same file the cluster was loaded with).
    bool reset(QString *error = nullptr);

    // A statement without parameters, or with ? placeholders bound in order as text.
    bool exec(const QString &sql, QString *error = nullptr);
    bool exec(const QString &sql, const QStringList &values, QString *error = nullptr);
    // The rows of a SELECT, every value as the driver returns it. Empty on error (see error).
    QList<QVariantList> rows(const QString &sql, const QStringList &values = {},
                             QString *error = nullptr);
    // First column of the first row, null when there is none.
    QVariant value(const QString &sql, const QStringList &values = {}, QString *error = nullptr);

    // The server's local time now, to whole seconds (what SYSDATE gives).
    QDateTime serverNow();

    struct LoginRecord
    {
        QString empNo;
        qint64 seq = 0;
        QDateTime loginTime;
        QString loginIp;
        QDateTime logoutTime;   // invalid when NULL
        QString logoutIp;
        bool logoutIpNull = true;
    };
    // The employee's login records in SEQ order.
    QList<LoginRecord> loginRecords(const QString &empNo);
    // loginTime / logoutTime: seconds before now; a null logoutIp leaves the record live.
    bool insertLoginRecord(const QString &empNo, qint64 seq, const QString &loginIp,
                           const QString &logoutIp = QString(), int loginSecondsAgo = 3600,
                           int logoutSecondsAgo = -1, QString *error = nullptr);

    QString lastError() const { return m_lastError; }

private:
    TestDatabase() = default;

    QString m_connectionName;
    QString m_service;
    QString m_lastError;
};
