#include "platform/instancelock.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

// Started as "tst_instancelock --hold NAME [--spawn]": takes the lock, says "held" or "busy",
// optionally starts a long-running program of its own (and prints its process id), and then
// waits to be killed.
static int holdLock(const char *name, bool spawn)
{
    auto lock = InstanceLock::createSystem();
    QString error;
    if (!lock->acquire(QString::fromLocal8Bit(name), &error)) {
        std::printf("busy %s\n", qPrintable(error));
        std::fflush(stdout);
        return 3;
    }
    std::printf("held\n");
    if (spawn) {
        qint64 pid = 0;
        if (!QProcess::startDetached(QStringLiteral("sleep"), {QStringLiteral("60")}, {}, &pid))
            return 4;
        std::printf("child %lld\n", pid);
    }
    std::fflush(stdout);
    for (;;)
        ::pause();
}

class tst_InstanceLock : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void secondHolderRefused_data();
    void secondHolderRefused();
    void freeAtOnceAfterSigkill();
    void programOfTheHolderDoesNotKeepIt();
    void releaseFreesIt();
    void acquireTwiceInOneObject();
    void invalidNames_data();
    void invalidNames();
    void fallbackDirectoryWithoutRuntimeDir_data();
    void fallbackDirectoryWithoutRuntimeDir();

private:
    // Starts a holder process and waits for its first line.
    QByteArray startHolder(QProcess &process, const QString &name, bool spawn = false);

    QTemporaryDir m_runtime;
    QString m_name;
    QList<qint64> m_strayPids;
};

void tst_InstanceLock::init()
{
    QVERIFY(m_runtime.isValid());
    QFile::setPermissions(m_runtime.path(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    qputenv("XDG_RUNTIME_DIR", QFile::encodeName(m_runtime.path()));
    static int serial = 0;
    m_name = QStringLiteral("OrsaTest%1_%2").arg(QCoreApplication::applicationPid()).arg(++serial);
}

void tst_InstanceLock::cleanup()
{
    for (qint64 pid : std::as_const(m_strayPids))
        ::kill(static_cast<pid_t>(pid), SIGKILL);
    m_strayPids.clear();
}

QByteArray tst_InstanceLock::startHolder(QProcess &process, const QString &name, bool spawn)
{
    QStringList args{QStringLiteral("--hold"), name};
    if (spawn)
        args.append(QStringLiteral("--spawn"));
    process.start(QCoreApplication::applicationFilePath(), args);
    if (!process.waitForStarted(5000))
        return QByteArray();
    while (!process.canReadLine()) {
        if (!process.waitForReadyRead(5000))
            return QByteArray();
    }
    return process.readLine().trimmed();
}

void tst_InstanceLock::secondHolderRefused_data()
{
    QTest::addColumn<bool>("holderIsOtherProcess");
    QTest::newRow("another process holds it") << true;
    QTest::newRow("another lock object of this process holds it") << false;
}

void tst_InstanceLock::secondHolderRefused()
{
    QFETCH(bool, holderIsOtherProcess);
    QProcess holder;
    std::unique_ptr<InstanceLock> first;
    if (holderIsOtherProcess) {
        QCOMPARE(startHolder(holder, m_name), QByteArray("held"));
    } else {
        first = InstanceLock::createSystem();
        QVERIFY(first->acquire(m_name));
    }

    auto second = InstanceLock::createSystem();
    QString error;
    QVERIFY(!second->acquire(m_name, &error));
    QVERIFY(!second->held());
    QVERIFY(!error.isEmpty());

    // Another name is another lock.
    auto other = InstanceLock::createSystem();
    QVERIFY(other->acquire(m_name + QStringLiteral("x")));

    if (holderIsOtherProcess) {
        holder.kill();
        holder.waitForFinished();
    }
}

void tst_InstanceLock::freeAtOnceAfterSigkill()
{
    QProcess holder;
    QCOMPARE(startHolder(holder, m_name), QByteArray("held"));
    auto lock = InstanceLock::createSystem();
    QVERIFY(!lock->acquire(m_name));

    ::kill(static_cast<pid_t>(holder.processId()), SIGKILL);
    QVERIFY(holder.waitForFinished(5000));
    QCOMPARE(holder.exitStatus(), QProcess::CrashExit);
    // No waiting, no stale file to clean up: the very next attempt succeeds.
    QVERIFY(lock->acquire(m_name));
    QVERIFY(lock->held());

    QProcess third;
    QCOMPARE(startHolder(third, m_name).left(4), QByteArray("busy"));
    third.waitForFinished(5000);
    QCOMPARE(third.exitCode(), 3);
}

void tst_InstanceLock::programOfTheHolderDoesNotKeepIt()
{
    QProcess holder;
    QCOMPARE(startHolder(holder, m_name, true), QByteArray("held"));
    QVERIFY(holder.canReadLine() || holder.waitForReadyRead(5000));
    const QByteArray line = holder.readLine().trimmed();
    QVERIFY2(line.startsWith("child "), line.constData());
    const qint64 childPid = line.mid(6).toLongLong();
    QVERIFY(childPid > 0);
    m_strayPids.append(childPid);

    holder.kill();
    QVERIFY(holder.waitForFinished(5000));
    QCOMPARE(::kill(static_cast<pid_t>(childPid), 0), 0);  // the started program still runs
    auto lock = InstanceLock::createSystem();
    QVERIFY(lock->acquire(m_name));
}

void tst_InstanceLock::releaseFreesIt()
{
    auto lock = InstanceLock::createSystem();
    QVERIFY(lock->acquire(m_name));
    lock->release();
    QVERIFY(!lock->held());

    QProcess holder;
    QCOMPARE(startHolder(holder, m_name), QByteArray("held"));
    QVERIFY(!lock->acquire(m_name));
    holder.kill();
    holder.waitForFinished();
}

void tst_InstanceLock::acquireTwiceInOneObject()
{
    auto lock = InstanceLock::createSystem();
    QVERIFY(lock->acquire(m_name));
    QVERIFY(lock->acquire(m_name));
    QVERIFY(lock->held());
    lock.reset();  // destruction releases

    auto again = InstanceLock::createSystem();
    QVERIFY(again->acquire(m_name));
}

void tst_InstanceLock::invalidNames_data()
{
    QTest::addColumn<QString>("name");
    QTest::newRow("empty") << QString();
    QTest::newRow("path separator") << QStringLiteral("../Orsa");
    QTest::newRow("dot dot") << QStringLiteral("..");
}

void tst_InstanceLock::invalidNames()
{
    QFETCH(QString, name);
    auto lock = InstanceLock::createSystem();
    QString error;
    QVERIFY(!lock->acquire(name, &error));
    QVERIFY(!error.isEmpty());
    QVERIFY(!QFileInfo::exists(QFileInfo(m_runtime.path()).path() + QStringLiteral("/Orsa.lock")));
}

void tst_InstanceLock::fallbackDirectoryWithoutRuntimeDir_data()
{
    QTest::addColumn<QByteArray>("runtimeDir");
    QTest::newRow("unset") << QByteArray();
    QTest::newRow("missing directory") << QByteArray("/nonexistent/orsa-runtime");
}

void tst_InstanceLock::fallbackDirectoryWithoutRuntimeDir()
{
    QFETCH(QByteArray, runtimeDir);
    if (runtimeDir.isEmpty())
        qunsetenv("XDG_RUNTIME_DIR");
    else
        qputenv("XDG_RUNTIME_DIR", runtimeDir);

    auto lock = InstanceLock::createSystem();
    QString error;
    QVERIFY2(lock->acquire(m_name, &error), qPrintable(error));
    const QString dir = QStringLiteral("/tmp/orsa-%1").arg(::getuid());
    const QString file = dir + QStringLiteral("/") + m_name + QStringLiteral(".lock");
    QVERIFY(QFileInfo::exists(file));
    struct stat st;
    QCOMPARE(::stat(QFile::encodeName(dir).constData(), &st), 0);
    QCOMPARE(st.st_mode & 0777, 0700u);

    QProcess holder;  // inherits the same environment, so it meets the same lock
    QCOMPARE(startHolder(holder, m_name).left(4), QByteArray("busy"));
    holder.waitForFinished(5000);
    lock.reset();
    QFile::remove(file);
}

int main(int argc, char **argv)
{
    if (argc >= 3 && qstrcmp(argv[1], "--hold") == 0)
        return holdLock(argv[2], argc >= 4 && qstrcmp(argv[3], "--spawn") == 0);
    QCoreApplication app(argc, argv);
    tst_InstanceLock test;
    return QTest::qExec(&test, argc, argv);
}

#include "tst_instancelock.moc"
