// Counting and closing the project programs on a real X server, with real programs
// (tools/childwindow, tools/fakeupdater).

#include "app/childprograms.h"
#include "platform/programstarter.h"
#include "platform/windowsystem.h"

#include "fakemessages.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QtTest>

#include <memory>
#include <vector>

class tst_ChildProgramsX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void countedOnceAndWhateverStartedThem();
    void closeAsks_data();
    void closeAsks();
    void updater_data();
    void updater();

private:
    QProcess *startChild(const QString &className, bool hidden = false);
    QProcess *startUpdater(bool ignoreClose);
    bool gone(QProcess *process, int timeoutMs = 5000);

    std::unique_ptr<WindowSystem> m_system;
    QString m_childWindow;
    QString m_updater;
    int m_baseline = 0;
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

void tst_ChildProgramsX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server: run the README's test command");
    m_childWindow = QStringLiteral(ORSA_BINARY_DIR "/tools/childwindow/childwindow");
    m_updater = QStringLiteral(ORSA_BINARY_DIR "/tools/fakeupdater/fakeupdater");
    if (!QFile::exists(m_childWindow) || !QFile::exists(m_updater))
        QFAIL("tools/childwindow or tools/fakeupdater was not built");
    m_system = WindowSystem::createSystem();
}

void tst_ChildProgramsX11::init()
{
    m_baseline = CountChildPrograms(*m_system);
}

void tst_ChildProgramsX11::cleanup()
{
    for (const std::unique_ptr<QProcess> &p : m_processes) {
        if (p->state() != QProcess::NotRunning) {
            p->kill();
            p->waitForFinished(3000);
        }
    }
    m_processes.clear();
}

QProcess *tst_ChildProgramsX11::startChild(const QString &className, bool hidden)
{
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess *p = m_processes.back().get();
    QStringList args{QStringLiteral("--class"), className, QStringLiteral("--title"), className};
    if (hidden)
        args << QStringLiteral("--hidden");
    p->start(m_childWindow, args);
    if (!p->waitForStarted(5000))
        return nullptr;
    QElapsedTimer timer;
    timer.start();
    while (!p->canReadLine() && timer.elapsed() < 10000 && p->state() == QProcess::Running)
        p->waitForReadyRead(50);
    return p->readLine().startsWith("ready") ? p : nullptr;
}

QProcess *tst_ChildProgramsX11::startUpdater(bool ignoreClose)
{
    m_processes.push_back(std::make_unique<QProcess>());
    QProcess *p = m_processes.back().get();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("ORSA_FAKEUPDATER_SECONDS"), QStringLiteral("60"));
    env.insert(QStringLiteral("ORSA_FAKEUPDATER_IGNORE_CLOSE"),
               ignoreClose ? QStringLiteral("1") : QStringLiteral("0"));
    env.remove(QStringLiteral("ORSA_FAKEUPDATER_LOG"));
    p->setProcessEnvironment(env);
    p->start(m_updater, {QStringLiteral("ORSA_A.exe")});
    if (!p->waitForStarted(5000))
        return nullptr;
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        if (m_system->findWindow(QStringLiteral("TPelUpdateMainForm")) != 0)
            return p;
        QTest::qWait(20);
    }
    return nullptr;
}

bool tst_ChildProgramsX11::gone(QProcess *process, int timeoutMs)
{
    return process->state() == QProcess::NotRunning || process->waitForFinished(timeoutMs);
}

void tst_ChildProgramsX11::countedOnceAndWhateverStartedThem()
{
    QVERIFY(startChild(QStringLiteral("TfrmX0Main")));
    QVERIFY(startChild(QStringLiteral("TfrmX0Main")));
    QCOMPARE(CountChildPrograms(*m_system) - m_baseline, 1);

    QVERIFY(startChild(QStringLiteral("TfrmY0Main"), true));  // hidden counts too
    QCOMPARE(CountChildPrograms(*m_system) - m_baseline, 2);

    // A program started some other way, detached and unknown to this process.
    auto starter = ProgramStarter::createSystem();
    QString error;
    QVERIFY2(starter->createProcess(QStringLiteral("\"") + m_childWindow
                                        + QStringLiteral("\" --class TfrmW0Main --title \"W W\""),
                                    &error),
             qPrintable(error));
    QTRY_COMPARE_WITH_TIMEOUT(CountChildPrograms(*m_system) - m_baseline, 3, 10000);
    // The program names its window a moment after the window appears.
    WindowId detached = 0;
    QTRY_VERIFY((detached = m_system->findWindow(QStringLiteral("TfrmW0Main"), QStringLiteral("W W"))) != 0);
    m_system->closeWindow(detached);
    QTRY_COMPARE_WITH_TIMEOUT(CountChildPrograms(*m_system) - m_baseline, 2, 5000);
}

void tst_ChildProgramsX11::closeAsks_data()
{
    QTest::addColumn<bool>("ask");
    QTest::addColumn<int>("answer");  // MessageAnswer, -1 when no question is expected
    QTest::addColumn<bool>("closes");
    QTest::newRow("No keeps them running") << true << int(MessageAnswer::No) << false;
    QTest::newRow("Yes closes them") << true << int(MessageAnswer::Yes) << true;
    QTest::newRow("without asking") << false << -1 << true;
}

void tst_ChildProgramsX11::closeAsks()
{
    QFETCH(bool, ask);
    QFETCH(int, answer);
    QFETCH(bool, closes);
    if (m_baseline != 0)
        QSKIP("other project programs run on this display");

    QProcess *a = startChild(QStringLiteral("TfrmA0Main"));
    QProcess *b = startChild(QStringLiteral("TfrmB0Main"), true);
    QVERIFY(a && b);
    FakeMessages messages;
    messages.setApplicationTitle(QStringLiteral("오르사 통합시스템"));
    if (answer >= 0)
        messages.answers = {MessageAnswer(answer)};

    QCOMPARE(CloseChildPrograms(*m_system, messages, ask), closes);
    if (ask) {
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().caption, QStringLiteral("Main"));
        QCOMPARE(messages.shown.first().text,
                 QStringLiteral("실행 중인 프로그램이 있습니다.\r모두 종료하시겠습니까?"));
        QCOMPARE(messages.shown.first().icon, MessageIcon::Question);
    } else {
        QVERIFY(messages.shown.isEmpty());
    }
    if (closes) {
        QVERIFY(gone(a));
        QVERIFY(gone(b));
        QCOMPARE(CountChildPrograms(*m_system), 0);
    } else {
        QVERIFY(!a->waitForFinished(500));
        QCOMPARE(b->state(), QProcess::Running);
        QCOMPARE(CountChildPrograms(*m_system), 2);
    }
}

void tst_ChildProgramsX11::updater_data()
{
    QTest::addColumn<bool>("ignoreClose");
    QTest::newRow("updater closes") << false;
    QTest::newRow("updater refuses to close") << true;
}

void tst_ChildProgramsX11::updater()
{
    QFETCH(bool, ignoreClose);
    QProcess *updater = startUpdater(ignoreClose);
    QVERIFY(updater);
    QProcess *child = startChild(QStringLiteral("TfrmC0Main"));
    QVERIFY(child);
    FakeMessages messages;

    QElapsedTimer timer;
    timer.start();
    QVERIFY(CloseChildPrograms(*m_system, messages, false, 1500));
    const qint64 took = timer.elapsed();
    if (ignoreClose) {
        QVERIFY2(took >= 1500 && took < 5000, QByteArray::number(took).constData());
        QCOMPARE(updater->state(), QProcess::Running);
    } else {
        QVERIFY2(took < 1500, QByteArray::number(took).constData());
        QVERIFY(gone(updater));
        QCOMPARE(updater->exitStatus(), QProcess::NormalExit);
    }
    QVERIFY(gone(child));  // the project program is closed either way
}

QTEST_MAIN(tst_ChildProgramsX11)
#include "tst_childprograms_x11.moc"
