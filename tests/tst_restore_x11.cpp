// The main window on a real X server with real child programs (tools/childwindow): the restore
// request other programs send, and the closing of the child programs by a login as another user
// and by the close of the shell.

#include "tst_mainwindow_harness.h"

#include "platform/windowsystem.h"

#include "app/childprograms.h"
#include "widgets/twlabel.h"

#include <QElapsedTimer>
#include <QProcess>
#include <QPushButton>

#include <xcb/xcb.h>

#include <cstdlib>
#include <memory>
#include <vector>

namespace {

xcb_connection_t *connection()
{
    return qApp->nativeInterface<QNativeInterface::QX11Application>()->connection();
}

// A window manager runs when some client redirects the root's substructure; only then is a
// minimised window really taken off the screen.
bool windowManagerRuns()
{
    xcb_connection_t *c = connection();
    const xcb_window_t root = xcb_setup_roots_iterator(xcb_get_setup(c)).data->root;
    xcb_get_window_attributes_reply_t *reply =
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, root), nullptr);
    const bool runs = reply && (reply->all_event_masks & XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT);
    std::free(reply);
    return runs;
}

bool viewable(const QWidget &window)
{
    xcb_connection_t *c = connection();
    xcb_get_window_attributes_reply_t *reply = xcb_get_window_attributes_reply(
        c, xcb_get_window_attributes(c, static_cast<xcb_window_t>(window.winId())), nullptr);
    const bool result = reply && reply->map_state == XCB_MAP_STATE_VIEWABLE;
    std::free(reply);
    return result;
}

} // namespace

class tst_RestoreX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();
    void restore_data();
    void restore();
    void loginAsAnotherUserClosesChildren();
    void closeAsksAndNoKeepsChildren();

private:
    QProcess *startChild(const QString &className, bool sendRestore = false, bool ignoreClose = false);
    bool childrenGone(const QList<QProcess *> &children, int timeoutMs = 5000);

    std::unique_ptr<WindowSystem> m_system;
    QString m_childWindow;
    std::vector<std::unique_ptr<QProcess>> m_children;
    std::unique_ptr<Installation> m_install;
    std::unique_ptr<Harness> m_harness;
};

void tst_RestoreX11::initTestCase()
{
    if (QGuiApplication::platformName() != QLatin1String("xcb"))
        QSKIP("needs an X server: run the README's test command");
    m_childWindow = QStringLiteral(ORSA_BINARY_DIR "/tools/childwindow/childwindow");
    if (!QFile::exists(m_childWindow))
        QFAIL("tools/childwindow was not built");
    m_system = WindowSystem::createSystem();
}

void tst_RestoreX11::init()
{
    m_install = std::make_unique<Installation>();
    m_install->write();
    m_harness = std::make_unique<Harness>();
    m_harness->windows = m_system.get();
    m_harness->loginAs(QStringLiteral("1001"), QStringLiteral("김민준"), {0, 0});
    Tfrm_0Main *w = m_harness->create(m_install->path());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
}

void tst_RestoreX11::cleanup()
{
    m_harness.reset();
    for (const std::unique_ptr<QProcess> &child : m_children) {
        if (child->state() != QProcess::NotRunning) {
            child->kill();
            child->waitForFinished(3000);
        }
    }
    m_children.clear();
    m_install.reset();
}

QProcess *tst_RestoreX11::startChild(const QString &className, bool sendRestore, bool ignoreClose)
{
    m_children.push_back(std::make_unique<QProcess>());
    QProcess *child = m_children.back().get();
    QStringList arguments{QStringLiteral("--class"), className, QStringLiteral("--title"), className};
    if (sendRestore)
        arguments << QStringLiteral("--send-restore");
    if (ignoreClose)
        arguments << QStringLiteral("--ignore-close");
    child->start(m_childWindow, arguments);
    if (!child->waitForStarted(5000))
        return nullptr;
    // The program reports what it did line by line; "ready" comes once its window is up.
    QElapsedTimer timer;
    timer.start();
    while (timer.elapsed() < 10000) {
        while (child->canReadLine()) {
            if (child->readLine().startsWith("ready"))
                return child;
        }
        child->waitForReadyRead(100);
    }
    return nullptr;
}

bool tst_RestoreX11::childrenGone(const QList<QProcess *> &children, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    for (QProcess *child : children) {
        const int left = timeoutMs - int(timer.elapsed());
        if (child->state() != QProcess::NotRunning && (left <= 0 || !child->waitForFinished(left)))
            return false;
    }
    return true;
}

void tst_RestoreX11::restore_data()
{
    QTest::addColumn<QStringList>("others");  // child programs running besides the sender
    QTest::addColumn<bool>("restored");
    QTest::newRow("one child") << QStringList() << true;
    QTest::newRow("second window of the same program") << QStringList{QStringLiteral("TfrmA0Main")} << true;
    QTest::newRow("two children") << QStringList{QStringLiteral("TfrmB0Main")} << false;
}

void tst_RestoreX11::restore()
{
    QFETCH(QStringList, others);
    QFETCH(bool, restored);
    Tfrm_0Main *w = m_harness->window.get();
    for (const QString &className : others)
        QVERIFY(startChild(className));
    w->showMinimized();
    QVERIFY(w->isMinimized());
    // Under a window manager the shell is off the screen now, as after a launch.
    const bool managed = windowManagerRuns();
    if (managed)
        QTRY_VERIFY(!viewable(*w));

    QVERIFY(startChild(QStringLiteral("TfrmA0Main"), true));
    if (restored) {
        QTRY_VERIFY_WITH_TIMEOUT(!w->isMinimized(), 5000);
        QTRY_VERIFY(viewable(*w));
    } else {
        QTest::qWait(500);
        QVERIFY(w->isMinimized());
        QCOMPARE(viewable(*w), !managed);
        // The same request is honoured once the other program has gone.
        m_children.front()->kill();
        m_children.front()->waitForFinished(3000);
        QTRY_VERIFY_WITH_TIMEOUT(CountChildPrograms(*m_system) == 1, 5000);
        QVERIFY(m_system->sendRestoreMessage(m_system->findWindow(QStringLiteral("Tfrm_0Main"))));
        QTRY_VERIFY_WITH_TIMEOUT(!w->isMinimized(), 5000);
        QTRY_VERIFY(viewable(*w));
    }
}

void tst_RestoreX11::loginAsAnotherUserClosesChildren()
{
    QProcess *a = startChild(QStringLiteral("TfrmA0Main"));
    QProcess *b = startChild(QStringLiteral("TfrmB0Main"));
    QVERIFY(a && b);
    QCOMPARE(CountChildPrograms(*m_system), 2);
    m_harness->loginAs(QStringLiteral("1004"), QStringLiteral("최유나"), {0, 0});
    m_harness->window->sbtLogin()->click();
    QVERIFY(childrenGone({a, b}));
    QVERIFY(m_harness->messages.shown.isEmpty());
    QCOMPARE(m_harness->window->wlbEmpName()->caption(), QStringLiteral("최유나"));
}

void tst_RestoreX11::closeAsksAndNoKeepsChildren()
{
    QProcess *a = startChild(QStringLiteral("TfrmA0Main"));
    QVERIFY(a);
    Tfrm_0Main *w = m_harness->window.get();
    m_harness->messages.answers = {MessageAnswer::No};
    QVERIFY(!w->close());
    QCOMPARE(m_harness->messages.shown.size(), 1);
    QCOMPARE(m_harness->messages.shown.first().caption, QStringLiteral("Main"));
    QCOMPARE(m_harness->messages.shown.first().text,
             QStringLiteral("실행 중인 프로그램이 있습니다.\r모두 종료하시겠습니까?"));
    QVERIFY(!a->waitForFinished(500));

    m_harness->messages.answers = {MessageAnswer::Yes};
    QVERIFY(w->close());
    QVERIFY(childrenGone({a}));
}

QTEST_MAIN(tst_RestoreX11)
#include "tst_restore_x11.moc"
