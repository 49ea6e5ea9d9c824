// A login that waits for the database server: the shell's window goes on answering the window
// manager's pings (_NET_WM_PING) meanwhile, so the desktop never marks it as hung, and the wait
// ends with the login's message. The server is held back by a lock on the login records, taken
// in a database session of the test's own, as a row lock of another program would hold it back.

#include "platform/windowsystem.h"
#include "support/testdatabase.h"
#include "support/testshell.h"

#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>

#include <xcb/xcb.h>

#include <cstdlib>
#include <cstring>
#include <memory>

namespace {

// An employee whose account allows several live logins: the login asks no other workstation.
const QString EmpNo = QStringLiteral("1004");
const QString Password = QStringLiteral("orsa1004!");

// Pings top-level windows as a window manager does, on a connection of its own, and collects
// the answers, which a client sends to the root window.
class Pinger
{
public:
    Pinger()
    {
        m_c = xcb_connect(nullptr, nullptr);
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        m_protocols = atom("WM_PROTOCOLS");
        m_ping = atom("_NET_WM_PING");
    }
    ~Pinger() { xcb_disconnect(m_c); }
    bool ok() const { return !xcb_connection_has_error(m_c) && m_ping != XCB_ATOM_NONE; }

    void ping(xcb_window_t window, uint32_t serial)
    {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = m_protocols;
        event.data.data32[0] = m_ping;
        event.data.data32[1] = serial;
        event.data.data32[2] = window;
        xcb_send_event(m_c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
        xcb_flush(m_c);
    }

    // The serials answered since the last call.
    QList<uint32_t> answers()
    {
        QList<uint32_t> serials;
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_c)) {
            if ((event->response_type & 0x7f) == XCB_CLIENT_MESSAGE) {
                const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
                if (message->type == m_protocols && message->data.data32[0] == m_ping)
                    serials.append(message->data.data32[1]);
            }
            std::free(event);
        }
        return serials;
    }

private:
    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *reply = xcb_intern_atom_reply(
            m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t value = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return value;
    }

    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_protocols = XCB_ATOM_NONE;
    xcb_atom_t m_ping = XCB_ATOM_NONE;
};

} // namespace

class tst_DatabaseWaitX11 : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void cleanup();
    void windowAnswersPingsWhileLoginWaits();

private:
    std::unique_ptr<TestDatabase> m_db;
    std::unique_ptr<WindowSystem> m_windows;
    QTemporaryDir m_install;
    QTemporaryDir m_runtimeDir;
    std::unique_ptr<QProcess> m_shell;
};

void tst_DatabaseWaitX11::initTestCase()
{
    if (qgetenv("DISPLAY").isEmpty())
        QSKIP("no X display: run the README's test command");
    if (QStandardPaths::findExecutable(QStringLiteral("xdotool")).isEmpty())
        QSKIP("xdotool is needed: run the README's test command");
    QString error;
    m_db = TestDatabase::open(&error);
    if (!m_db)
        QSKIP(qPrintable(QStringLiteral("no test database: ") + error));
    m_windows = WindowSystem::createSystem();
    QVERIFY2(TestShell::install(m_install.path(), m_db->serviceName(),
                                QStringLiteral("프런트=ORSA_A;204,32\r\n"), &error),
             qPrintable(error));
    QVERIFY2(m_db->reset(&error), qPrintable(error));
}

void tst_DatabaseWaitX11::cleanup()
{
    if (m_shell && m_shell->state() != QProcess::NotRunning) {
        m_shell->kill();
        m_shell->waitForFinished(5000);
    }
    m_shell.reset();
}

void tst_DatabaseWaitX11::windowAnswersPingsWhileLoginWaits()
{
    Pinger pinger;
    QVERIFY(pinger.ok());
    m_shell = std::make_unique<QProcess>();
    TestShell::start(*m_shell, m_install.path(), m_runtimeDir.path(), TestShell::freePort());
    const WindowId login = TestShell::waitForWindow(*m_windows, *m_shell, QStringLiteral("Tfrm_AH010"));
    QVERIFY2(login != 0, "the shell shows no login window");

    // The login's new record cannot be written while the records are locked elsewhere.
    QString error;
    std::unique_ptr<TestDatabase> locker = TestDatabase::open(&error);
    QVERIFY2(locker, qPrintable(error));
    QVERIFY2(locker->exec(QStringLiteral("BEGIN"), &error), qPrintable(error));
    QVERIFY2(locker->exec(QStringLiteral("LOCK TABLE ZA010DT IN EXCLUSIVE MODE"), &error), qPrintable(error));
    bool locked = true;
    const auto unlock = qScopeGuard([&] {
        if (locked)
            locker->exec(QStringLiteral("ROLLBACK"));
    });
    const int recordsBefore = int(m_db->loginRecords(EmpNo).size());

    QVERIFY(TestShell::logIn(login, EmpNo, Password));
    QTRY_VERIFY_WITH_TIMEOUT(
        m_db->value(QStringLiteral("SELECT count(*) FROM pg_locks WHERE NOT granted")).toInt() > 0, 10000);

    // While the login waits, every ping is answered, and before the wait has ended.
    uint32_t sent = 0;
    QList<uint32_t> answered;
    for (int i = 0; i < 10; ++i) {
        pinger.ping(xcb_window_t(login), ++sent);
        QTest::qWait(100);
        answered += pinger.answers();
    }
    QTRY_VERIFY_WITH_TIMEOUT((answered += pinger.answers(), answered.size() == int(sent)), 2000);
    QVERIFY2(m_db->value(QStringLiteral("SELECT count(*) FROM pg_locks WHERE NOT granted")).toInt() > 0,
             "the login stopped waiting before the pings were answered");
    QCOMPARE(m_shell->state(), QProcess::Running);

    // The wait ends within its bound with the login's message; nothing was stored.
    QVERIFY2(TestShell::waitForWindow(*m_windows, *m_shell, QString(), 15000) != 0,
             "no message after the lock wait");
    QCOMPARE(int(m_db->loginRecords(EmpNo).size()), recordsBefore);
    QVERIFY2(locker->exec(QStringLiteral("ROLLBACK"), &error), qPrintable(error));
    locked = false;
}

QTEST_MAIN(tst_DatabaseWaitX11)
#include "tst_databasewait_x11.moc"
