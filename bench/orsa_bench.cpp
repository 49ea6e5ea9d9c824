// The shell's benchmarks and robustness runs, one subcommand each. Every subcommand measures and
// prints one line of "name=value" pairs; none of them fails on a time. scripts/bench runs them
// against a real shell, a real database cluster and a real X server and prints the table.
//
//   orsa_bench mapped --class C [--timeout S] [--log FILE] -- PROGRAM ARGS...
//       starts PROGRAM (detached, its output to FILE) and times until a top-level window of
//       class C is mapped
//   orsa_bench idle --pid P --seconds S
//       CPU, wake-ups (context switches of all threads) and resident memory of a process
//   orsa_bench updatecheck --childwindow PATH [--programs N] [--delay MS] [--mode M] [--wait S]
//                          [--ready FILE]
//       one update check with N running project programs against a loopback HTTP server that
//       answers every HEAD request after MS (mode delay), never (hang), with a reset (reset) or
//       with bytes that are no HTTP (garbage); the wall time and the longest pause of the loop
//   orsa_bench childcount --childwindow PATH [--windows N] [--runs R]
//       counting the running project programs with N unrelated top-level windows open
//   orsa_bench peer --port P [--runs R]       forced-logout exchange, request to acknowledgement
//   orsa_bench peerfloor [--runs R]           the same against a listener that acts at once
//   orsa_bench peerload --port P --pid SHELL [--connections N] [--concurrency K] [--from ADDR]
//       hostile connections (from ADDR, default 127.0.3.3: a workstation of another network,
//       since the listener shares its places out by /24) to a shell's forced-logout port while
//       its window is pinged and its memory watched; a real request (from 127.0.0.1) when half
//       of them have been made

#include "app/childprograms.h"
#include "peer/forcedlogoutclient.h"
#include "peer/forcedlogouthandler.h"
#include "peer/forcedlogoutserver.h"
#include "platform/windowsystem.h"
#include "update/updatewatch.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QLocale>
#include <QProcess>
#include <QRandomGenerator>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QThread>
#include <QTimer>

#include <sys/socket.h>
#include <xcb/xcb.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <memory>

namespace {

void print(const QString &line)
{
    std::fputs(qPrintable(line), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

[[noreturn]] void die(const QString &text)
{
    std::fprintf(stderr, "orsa_bench: %s\n", qPrintable(text));
    std::exit(1);
}

// "--name value" of the command line, or the default.
QString option(const QStringList &args, const QString &name, const QString &fallback = {})
{
    const qsizetype at = args.indexOf(QStringLiteral("--") + name);
    return at >= 0 && at + 1 < args.size() ? args.at(at + 1) : fallback;
}

double median(QList<double> values)
{
    if (values.isEmpty())
        return 0;
    std::sort(values.begin(), values.end());
    return values.at(values.size() / 2);
}

QString number(double value, int decimals = 1)
{
    return QString::number(value, 'f', decimals);
}

// The X server seen from outside every program: maps of top-level windows and the answers to
// _NET_WM_PING, on a connection of our own.
class XWatch
{
public:
    XWatch()
    {
        m_c = xcb_connect(nullptr, nullptr);
        if (xcb_connection_has_error(m_c))
            die(QStringLiteral("no X display"));
        m_root = xcb_setup_roots_iterator(xcb_get_setup(m_c)).data->root;
        // Structure notify too: a toolkit answers a ping to the root with that mask.
        const uint32_t mask = XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
        xcb_change_window_attributes(m_c, m_root, XCB_CW_EVENT_MASK, &mask);
        m_wmProtocols = atom("WM_PROTOCOLS");
        m_ping = atom("_NET_WM_PING");
        sync();
    }
    ~XWatch() { xcb_disconnect(m_c); }

    xcb_connection_t *connection() const { return m_c; }
    xcb_window_t root() const { return m_root; }

    xcb_atom_t atom(const char *name)
    {
        xcb_intern_atom_reply_t *reply =
            xcb_intern_atom_reply(m_c, xcb_intern_atom(m_c, 0, uint16_t(std::strlen(name)), name), nullptr);
        const xcb_atom_t a = reply ? reply->atom : xcb_atom_t(XCB_ATOM_NONE);
        std::free(reply);
        return a;
    }

    void sync() { std::free(xcb_get_input_focus_reply(m_c, xcb_get_input_focus(m_c), nullptr)); }

    QByteArray windowClass(xcb_window_t window)
    {
        xcb_get_property_reply_t *reply = xcb_get_property_reply(
            m_c, xcb_get_property(m_c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr);
        QByteArray value;
        if (reply)
            value = QByteArray(static_cast<const char *>(xcb_get_property_value(reply)),
                               xcb_get_property_value_length(reply));
        std::free(reply);
        return value.split('\0').value(1);
    }

    // Handles what has arrived: mapped(class) for every top-level window mapped (its class read
    // again later if it had none yet), pong(serial) for every ping answered.
    void poll(const std::function<void(const QByteArray &)> &mapped,
              const std::function<void(uint32_t)> &pong = {})
    {
        while (xcb_generic_event_t *event = xcb_poll_for_event(m_c)) {
            const uint8_t type = event->response_type & 0x7f;
            if (type == XCB_MAP_NOTIFY) {
                const auto *map = reinterpret_cast<xcb_map_notify_event_t *>(event);
                if (map->event == m_root)
                    m_unclassed.append(map->window);
            } else if (type == XCB_CLIENT_MESSAGE && pong) {
                const auto *message = reinterpret_cast<xcb_client_message_event_t *>(event);
                if (message->type == m_wmProtocols && message->data.data32[0] == m_ping)
                    pong(message->data.data32[1]);
            }
            std::free(event);
        }
        for (qsizetype i = 0; i < m_unclassed.size();) {
            const QByteArray cls = windowClass(m_unclassed.at(i));
            if (cls.isEmpty()) {
                ++i;
                continue;
            }
            m_unclassed.removeAt(i);
            if (mapped)
                mapped(cls);
        }
    }

    void ping(xcb_window_t window, uint32_t serial)
    {
        xcb_client_message_event_t event;
        std::memset(&event, 0, sizeof event);
        event.response_type = XCB_CLIENT_MESSAGE;
        event.format = 32;
        event.window = window;
        event.type = m_wmProtocols;
        event.data.data32[0] = m_ping;
        event.data.data32[1] = serial;
        event.data.data32[2] = window;
        xcb_send_event(m_c, 0, window, XCB_EVENT_MASK_NO_EVENT, reinterpret_cast<const char *>(&event));
        xcb_flush(m_c);
    }

private:
    xcb_connection_t *m_c = nullptr;
    xcb_window_t m_root = 0;
    xcb_atom_t m_wmProtocols = 0;
    xcb_atom_t m_ping = 0;
    QList<xcb_window_t> m_unclassed;
};

// ---- mapped -------------------------------------------------------------------------------

int mapped(const QStringList &args)
{
    const qsizetype dashes = args.indexOf(QStringLiteral("--"));
    if (dashes < 0 || dashes + 1 >= args.size())
        die(QStringLiteral("mapped: -- PROGRAM missing"));
    const QByteArray wanted = option(args, QStringLiteral("class")).toUtf8();
    const int timeoutMs = option(args, QStringLiteral("timeout"), QStringLiteral("30")).toInt() * 1000;
    const QString program = args.at(dashes + 1);
    const QStringList programArgs = args.mid(dashes + 2);

    XWatch x;
    QElapsedTimer clock;
    clock.start();
    qint64 pid = 0;
    // Detached, and with its output elsewhere: whoever reads ours must not wait for it.
    QProcess process;
    process.setProgram(program);
    process.setArguments(programArgs);
    const QString log = option(args.mid(0, dashes), QStringLiteral("log"), QProcess::nullDevice());
    process.setStandardOutputFile(log, QIODevice::Append);
    process.setStandardErrorFile(log, QIODevice::Append);
    if (!process.startDetached(&pid))
        die(QStringLiteral("cannot start ") + program);
    QStringList order;
    double ms = -1;
    while (clock.elapsed() < timeoutMs && ms < 0) {
        x.poll([&](const QByteArray &cls) {
            order.append(QString::fromUtf8(cls));
            if (cls == wanted && ms < 0)
                ms = double(clock.nsecsElapsed()) / 1e6;
        });
        QThread::usleep(200);
    }
    print(QStringLiteral("ms=%1 pid=%2 order=%3").arg(number(ms)).arg(pid).arg(order.join(u',')));
    return ms < 0 ? 1 : 0;
}

// ---- idle ---------------------------------------------------------------------------------

struct ProcessSample
{
    qint64 cpuTicks = 0;
    qint64 switches = 0;
    qint64 rssKb = 0;
};

ProcessSample sample(qint64 pid)
{
    ProcessSample s;
    QFile stat(QStringLiteral("/proc/%1/stat").arg(pid));
    if (stat.open(QIODevice::ReadOnly)) {
        const QByteArray text = stat.readAll();
        // The fields after the command name (in parentheses) start with the state, field 3.
        const QList<QByteArray> fields = text.mid(text.lastIndexOf(')') + 2).split(' ');
        s.cpuTicks = fields.value(11).toLongLong() + fields.value(12).toLongLong();
    }
    const QDir tasks(QStringLiteral("/proc/%1/task").arg(pid));
    for (const QString &task : tasks.entryList(QDir::Dirs | QDir::NoDotAndDotDot)) {
        QFile status(tasks.filePath(task) + QStringLiteral("/status"));
        if (!status.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("voluntary_ctxt_switches:") || line.startsWith("nonvoluntary_ctxt_switches:"))
                s.switches += line.mid(line.indexOf(':') + 1).trimmed().toLongLong();
        }
    }
    QFile status(QStringLiteral("/proc/%1/status").arg(pid));
    if (status.open(QIODevice::ReadOnly)) {
        for (const QByteArray &line : status.readAll().split('\n')) {
            if (line.startsWith("VmRSS:"))
                s.rssKb = line.mid(6).trimmed().split(' ').value(0).toLongLong();
        }
    }
    return s;
}

int idle(const QStringList &args)
{
    const qint64 pid = option(args, QStringLiteral("pid")).toLongLong();
    const double seconds = option(args, QStringLiteral("seconds"), QStringLiteral("60")).toDouble();
    if (pid <= 0 || !QFileInfo::exists(QStringLiteral("/proc/%1").arg(pid)))
        die(QStringLiteral("idle: no process %1").arg(pid));
    const ProcessSample before = sample(pid);
    QThread::msleep(qint64(seconds * 1000));
    const ProcessSample after = sample(pid);
    const double ticksPerSecond = 100.0;
    print(QStringLiteral("cpu_pct=%1 wakeups_per_s=%2 rss_kb=%3")
              .arg(number(100.0 * double(after.cpuTicks - before.cpuTicks) / ticksPerSecond / seconds, 2))
              .arg(number(double(after.switches - before.switches) / seconds, 2))
              .arg(after.rssKb));
    return 0;
}

// ---- update check -------------------------------------------------------------------------

// A loopback HTTP server on a thread of its own, so that its waiting never touches the loop
// being measured.
class UpdateServer : public QThread
{
public:
    UpdateServer(const QString &mode, int delayMs) : m_mode(mode), m_delayMs(delayMs) {}

    quint16 startServer()
    {
        start();
        while (m_port.loadAcquire() == 0)
            QThread::msleep(1);
        return quint16(m_port.loadAcquire());
    }

    int requests() const { return m_requests.loadAcquire(); }

protected:
    void run() override
    {
        QTcpServer server;
        if (!server.listen(QHostAddress::LocalHost, 0))
            die(QStringLiteral("update server: ") + server.errorString());
        QObject::connect(&server, &QTcpServer::newConnection, &server, [&] {
            while (QTcpSocket *socket = server.nextPendingConnection()) {
                auto *buffer = new QByteArray;
                QObject::connect(socket, &QTcpSocket::disconnected, socket, [socket, buffer] {
                    delete buffer;
                    socket->deleteLater();
                });
                QObject::connect(socket, &QTcpSocket::readyRead, socket, [this, socket, buffer] {
                    buffer->append(socket->readAll());
                    while (buffer->contains("\r\n\r\n")) {
                        buffer->remove(0, buffer->indexOf("\r\n\r\n") + 4);
                        m_requests.fetchAndAddRelaxed(1);
                        answer(socket);
                    }
                });
            }
        });
        m_port.storeRelease(server.serverPort());
        exec();
    }

private:
    void answer(QTcpSocket *socket)
    {
        if (m_mode == QLatin1String("hang"))
            return;
        if (m_mode == QLatin1String("reset")) {
            // A reset, not an orderly close: no lingering on close.
            const linger noLinger{1, 0};
            ::setsockopt(int(socket->socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
            socket->abort();
            return;
        }
        QByteArray reply;
        if (m_mode == QLatin1String("garbage")) {
            reply = QByteArrayLiteral("\x16\x03\x01 HTTP/9.9 999\r\nLast-Modified: tomorrow\r\n\x00\xff\r\n\r\n");
        } else {
            // Newer than any local file: every program gets a notice.
            const QDateTime modified = QDateTime::currentDateTimeUtc().addDays(1);
            reply = "HTTP/1.1 200 OK\r\nLast-Modified: "
                + QLocale::c().toString(modified, QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'")).toLatin1()
                + "\r\nContent-Length: 0\r\nConnection: keep-alive\r\n\r\n";
        }
        QTimer::singleShot(m_mode == QLatin1String("delay") ? m_delayMs : 0, socket,
                           [socket, reply] { socket->write(reply); });
    }

    QString m_mode;
    int m_delayMs;
    QAtomicInt m_port;
    QAtomicInt m_requests;
};

// Project programs: childwindow processes with the classes TfrmA0Main, TfrmB0Main, ...
class ChildPrograms
{
public:
    ChildPrograms(const QString &childwindow, int count)
    {
        for (int i = 0; i < count; ++i) {
            const QString cls = QStringLiteral("Tfrm") + QChar(u'A' + i) + QStringLiteral("0Main");
            auto process = std::make_unique<QProcess>();
            process->start(childwindow, {QStringLiteral("--class"), cls, QStringLiteral("--title"), cls});
            m_processes.push_back(std::move(process));
        }
        for (auto &process : m_processes) {
            process->waitForStarted(10000);
            while (!process->canReadLine() && process->state() == QProcess::Running)
                process->waitForReadyRead(10000);
            if (!process->readLine().startsWith("ready"))
                die(QStringLiteral("a child program did not start"));
        }
    }
    ~ChildPrograms()
    {
        for (auto &process : m_processes) {
            process->kill();
            process->waitForFinished(5000);
        }
    }

private:
    std::vector<std::unique_ptr<QProcess>> m_processes;
};

// The longest gap between the ticks of a 1 ms timer: how long the loop was kept from its events.
class PauseMeter : public QObject
{
public:
    PauseMeter()
    {
        m_timer.setTimerType(Qt::PreciseTimer);
        m_timer.setInterval(1);
        connect(&m_timer, &QTimer::timeout, this, [this] {
            const qint64 now = m_clock.nsecsElapsed();
            m_longest = std::max(m_longest, now - m_last);
            m_last = now;
        });
    }
    void start()
    {
        m_longest = 0;
        m_clock.start();
        m_last = 0;
        m_timer.start();
    }
    double stop()
    {
        m_timer.stop();
        return double(m_longest) / 1e6;
    }

private:
    QTimer m_timer;
    QElapsedTimer m_clock;
    qint64 m_last = 0;
    qint64 m_longest = 0;
};

int updateCheck(const QStringList &args)
{
    const QString childwindow = option(args, QStringLiteral("childwindow"));
    const int programs = option(args, QStringLiteral("programs"), QStringLiteral("26")).toInt();
    const int delayMs = option(args, QStringLiteral("delay"), QStringLiteral("200")).toInt();
    const QString mode = option(args, QStringLiteral("mode"), QStringLiteral("delay"));
    const int waitMs = option(args, QStringLiteral("wait"), QStringLiteral("70")).toInt() * 1000;

    ChildPrograms running(childwindow, programs);
    QTemporaryDir appDir;
    for (int i = 0; i < programs; ++i) {
        QFile exe(appDir.filePath(QStringLiteral("orsa_%1.exe").arg(QChar(u'A' + i))));
        if (!exe.open(QIODevice::WriteOnly))
            die(QStringLiteral("cannot write ") + exe.fileName());
    }
    UpdateServer server(mode, delayMs);
    const quint16 port = server.startServer();

    std::unique_ptr<WindowSystem> windows = WindowSystem::createSystem();
    int notices = 0;
    UpdateWatchHost host;
    host.projects = [] { return QList<QPair<QString, QString>>(); };
    host.showUpdateNotice = [&notices](const QString &, const QString &) { ++notices; };
    host.noticeOpen = [](const QString &) { return false; };
    UpdateWatch watch(*windows, host);
    watch.setUpdateUrl(QStringLiteral("http://127.0.0.1:%1/update/").arg(port));
    watch.setAppDir(appDir.path() + u'/');

    // The floor: the same loop with nothing to do, for as long as the check took.
    PauseMeter meter;
    QElapsedTimer clock;
    bool finished = false;
    QObject::connect(&watch, &UpdateWatch::checkFinished, [&] { finished = true; });
    meter.start();
    clock.start();
    watch.runCheck();
    // Whoever waits for the check to be under way (its programs are up, its requests sent).
    const QString ready = option(args, QStringLiteral("ready"));
    if (!ready.isEmpty()) {
        QFile flag(ready);
        if (!flag.open(QIODevice::WriteOnly))
            die(QStringLiteral("cannot write ") + ready);
    }
    while (!finished && clock.elapsed() < waitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double wallMs = double(clock.nsecsElapsed()) / 1e6;
    const double pauseMs = meter.stop();

    meter.start();
    QElapsedTimer idleClock;
    idleClock.start();
    while (idleClock.elapsed() < std::min<qint64>(qint64(wallMs), 5000))
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    const double floorPauseMs = meter.stop();

    print(QStringLiteral("wall_ms=%1 max_pause_ms=%2 floor_pause_ms=%3 finished=%4 requests=%5 notices=%6")
              .arg(number(wallMs), number(pauseMs), number(floorPauseMs))
              .arg(finished ? 1 : 0)
              .arg(server.requests())
              .arg(notices));
    server.quit();
    server.wait();
    return 0;
}

// ---- child programs among unrelated windows -----------------------------------------------

int childCount(const QStringList &args)
{
    const QString childwindow = option(args, QStringLiteral("childwindow"));
    const int unrelated = option(args, QStringLiteral("windows"), QStringLiteral("200")).toInt();
    const int runs = option(args, QStringLiteral("runs"), QStringLiteral("30")).toInt();

    ChildPrograms running(childwindow, 3);
    std::unique_ptr<WindowSystem> windows = WindowSystem::createSystem();
    const auto timeCounts = [&](int *counted) {
        QList<double> times;
        for (int i = 0; i < runs; ++i) {
            QElapsedTimer clock;
            clock.start();
            *counted = CountChildPrograms(*windows);
            times.append(double(clock.nsecsElapsed()) / 1e6);
        }
        return times;
    };
    int floorCount = 0;
    const QList<double> floorTimes = timeCounts(&floorCount);

    // Unrelated windows of another client: half of them mapped, all with a class of their own.
    XWatch x;
    xcb_connection_t *c = x.connection();
    const xcb_screen_t *screen = xcb_setup_roots_iterator(xcb_get_setup(c)).data;
    for (int i = 0; i < unrelated; ++i) {
        const xcb_window_t w = xcb_generate_id(c);
        xcb_create_window(c, XCB_COPY_FROM_PARENT, w, screen->root, int16_t(i % 40), int16_t(i / 40), 20, 20, 0,
                          XCB_WINDOW_CLASS_INPUT_OUTPUT, screen->root_visual, 0, nullptr);
        const QByteArray cls = "unrelated" + QByteArray::number(i) + '\0' + "Unrelated" + '\0';
        xcb_change_property(c, XCB_PROP_MODE_REPLACE, w, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                            uint32_t(cls.size()), cls.constData());
        if (i % 2 == 0)
            xcb_map_window(c, w);
    }
    x.sync();
    int counted = 0;
    const QList<double> times = timeCounts(&counted);
    print(QStringLiteral("median_ms=%1 max_ms=%2 floor_median_ms=%3 counted=%4 floor_counted=%5 windows=%6")
              .arg(number(median(times), 2), number(*std::max_element(times.begin(), times.end()), 2),
                   number(median(floorTimes), 2))
              .arg(counted)
              .arg(floorCount)
              .arg(windows->topLevelWindows().size()));
    return 0;
}

// ---- forced-logout exchange ---------------------------------------------------------------

class ImmediateHandler : public ForcedLogoutHandler
{
public:
    quint64 currentSession() const override { return 0; }
    bool busy() const override { return false; }
    bool forcedLogout() override { return true; }
    void afterForcedLogout() override {}
};

// A listener that acts at once, on a thread of its own: the exchange's own cost.
class FloorListener : public QThread
{
public:
    quint16 startListener()
    {
        start();
        while (m_port.loadAcquire() == 0)
            QThread::msleep(1);
        return quint16(m_port.loadAcquire());
    }

protected:
    void run() override
    {
        ImmediateHandler handler;
        ForcedLogoutServer server(handler);
        if (!server.listen(0))
            die(QStringLiteral("floor listener cannot listen"));
        m_port.storeRelease(server.serverPort());
        exec();
    }

private:
    QAtomicInt m_port;
};

QString timeRequests(quint16 port, int runs)
{
    QList<double> times;
    int acknowledged = 0;
    for (int i = 0; i < runs; ++i) {
        ForcedLogoutClient client;
        client.setPort(port);
        QElapsedTimer clock;
        clock.start();
        if (client.requestLogout(QStringLiteral("127.0.0.1")))
            ++acknowledged;
        times.append(double(clock.nsecsElapsed()) / 1e6);
    }
    return QStringLiteral("median_ms=%1 max_ms=%2 acknowledged=%3 runs=%4")
        .arg(number(median(times), 2), number(*std::max_element(times.begin(), times.end()), 2))
        .arg(acknowledged)
        .arg(runs);
}

int peer(const QStringList &args)
{
    const quint16 port = quint16(option(args, QStringLiteral("port")).toUInt());
    print(timeRequests(port, option(args, QStringLiteral("runs"), QStringLiteral("1")).toInt()));
    return 0;
}

int peerFloor(const QStringList &args)
{
    FloorListener listener;
    const quint16 port = listener.startListener();
    print(timeRequests(port, option(args, QStringLiteral("runs"), QStringLiteral("20")).toInt()));
    listener.quit();
    listener.wait();
    return 0;
}

// ---- load on the forced-logout port -------------------------------------------------------

enum class Attack { Silent, Slow, Malformed, Oversized, Flood, Reset, HalfLine, Binary };
constexpr int AttackKinds = 8;

class Attacker : public QObject
{
public:
    Attacker(quint16 port, const QHostAddress &from, Attack kind, std::function<void()> done)
        : m_kind(kind), m_done(std::move(done))
    {
        // Another workstation: an address of its own on loopback.
        m_socket.bind(from);
        connect(&m_socket, &QTcpSocket::connected, this, [this] { connected(); });
        connect(&m_socket, &QTcpSocket::readyRead, this, [this] { m_socket.readAll(); });
        connect(&m_socket, &QTcpSocket::disconnected, this, [this] { finish(); });
        connect(&m_socket, &QTcpSocket::errorOccurred, this, [this] { finish(); });
        m_slow.setInterval(300);
        connect(&m_slow, &QTimer::timeout, this, [this] { m_socket.write("x"); });
        // Nobody stays longer than the listener's own bound and a little.
        QTimer::singleShot(15000, this, [this] { m_socket.abort(); finish(); });
        m_socket.connectToHost(QStringLiteral("127.0.0.1"), port);
    }

private:
    void connected()
    {
        switch (m_kind) {
        case Attack::Silent:
            break;
        case Attack::Slow:
            m_slow.start();
            break;
        case Attack::Malformed:
            m_socket.write("GET / HTTP/1.0\r\nHost: shell\r\n\r\n");
            break;
        case Attack::Oversized:
            m_socket.write(QByteArray(20000, 'L') + "\r\n");
            break;
        case Attack::Flood:
            m_socket.write(QByteArray(1 << 20, '^'));
            break;
        case Attack::Reset: {
            const linger noLinger{1, 0};
            ::setsockopt(int(m_socket.socketDescriptor()), SOL_SOCKET, SO_LINGER, &noLinger, sizeof noLinger);
            m_socket.abort();
            finish();
            break;
        }
        case Attack::HalfLine:
            m_socket.write("^ORSA_MAIN^LOG");
            m_socket.disconnectFromHost();
            break;
        case Attack::Binary: {
            QByteArray bytes(512, '\0');
            for (char &b : bytes)
                b = char(QRandomGenerator::global()->bounded(256));
            bytes.replace('\n', ' ');
            m_socket.write(bytes + '\n');
            break;
        }
        }
    }

    void finish()
    {
        if (m_finished)
            return;
        m_finished = true;
        m_slow.stop();
        QTimer::singleShot(0, this, [this] {
            m_done();
            deleteLater();
        });
    }

    QTcpSocket m_socket;
    QTimer m_slow;
    Attack m_kind;
    std::function<void()> m_done;
    bool m_finished = false;
};

// A real request on a thread of its own, so that the load goes on while it waits.
class RealRequest : public QThread
{
public:
    explicit RealRequest(quint16 port) : m_port(port) {}
    bool acknowledged = false;
    double ms = 0;

protected:
    void run() override
    {
        ForcedLogoutClient client;
        client.setPort(m_port);
        QElapsedTimer clock;
        clock.start();
        acknowledged = client.requestLogout(QStringLiteral("127.0.0.1"));
        ms = double(clock.nsecsElapsed()) / 1e6;
    }

private:
    quint16 m_port;
};

int peerLoad(const QStringList &args)
{
    const quint16 port = quint16(option(args, QStringLiteral("port")).toUInt());
    const qint64 pid = option(args, QStringLiteral("pid")).toLongLong();
    const int total = option(args, QStringLiteral("connections"), QStringLiteral("3000")).toInt();
    const int concurrency = option(args, QStringLiteral("concurrency"), QStringLiteral("64")).toInt();
    const bool realRequests = option(args, QStringLiteral("real"), QStringLiteral("1")) == QLatin1String("1");
    const QHostAddress from(option(args, QStringLiteral("from"), QStringLiteral("127.0.3.3")));

    std::unique_ptr<WindowSystem> windows = WindowSystem::createSystem();
    const WindowId shellWindow = windows->findWindow(QStringLiteral("Tfrm_0Main"));
    if (shellWindow == 0)
        die(QStringLiteral("peerload: no shell window"));
    XWatch x;

    // Pings every 50 ms; the longest answer and the pings never answered.
    QHash<uint32_t, qint64> sent;
    QElapsedTimer clock;
    clock.start();
    qint64 longestPingNs = 0;
    uint32_t serial = 1;
    int pings = 0;
    QTimer pinger;
    QObject::connect(&pinger, &QTimer::timeout, [&] {
        x.poll({}, [&](uint32_t answered) {
            if (sent.contains(answered))
                longestPingNs = std::max(longestPingNs, clock.nsecsElapsed() - sent.take(answered));
        });
        for (auto it = sent.cbegin(); it != sent.cend(); ++it)
            longestPingNs = std::max(longestPingNs, clock.nsecsElapsed() - it.value());
        sent.insert(serial, clock.nsecsElapsed());
        x.ping(xcb_window_t(shellWindow), serial++);
        ++pings;
    });
    pinger.start(50);

    const qint64 rssBefore = sample(pid).rssKb;
    qint64 rssPeak = rssBefore;
    QTimer memory;
    QObject::connect(&memory, &QTimer::timeout, [&] { rssPeak = std::max(rssPeak, sample(pid).rssKb); });
    memory.start(100);

    int started = 0;
    int finished = 0;
    int running = 0;
    std::function<void()> more = [&] {
        while (running < concurrency && started < total) {
            const Attack kind = Attack(started % AttackKinds);
            ++started;
            ++running;
            new Attacker(port, from, kind, [&] {
                --running;
                ++finished;
                more();
            });
        }
    };
    more();

    // The real request comes when half of the load has been sent.
    std::unique_ptr<RealRequest> during;
    while (finished < total) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        if (realRequests && !during && started >= total / 2) {
            during = std::make_unique<RealRequest>(port);
            during->start();
        }
    }
    const double loadSeconds = double(clock.elapsed()) / 1000.0;
    if (during)
        while (!during->wait(10))
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    // The last pings have their answers.
    QElapsedTimer settle;
    settle.start();
    while (!sent.isEmpty() && settle.elapsed() < 2000) {
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        x.poll({}, [&](uint32_t answered) {
            if (sent.contains(answered))
                longestPingNs = std::max(longestPingNs, clock.nsecsElapsed() - sent.take(answered));
        });
    }
    pinger.stop();
    memory.stop();
    const qint64 rssAfter = sample(pid).rssKb;

    print(QStringLiteral("connections=%1 seconds=%2 pings=%3 unanswered=%4 longest_ping_ms=%5 "
                         "rss_before_kb=%6 rss_peak_kb=%7 rss_after_kb=%8 real_during=%9 real_during_ms=%10")
              .arg(finished)
              .arg(number(loadSeconds))
              .arg(pings)
              .arg(sent.size())
              .arg(number(double(longestPingNs) / 1e6))
              .arg(rssBefore)
              .arg(rssPeak)
              .arg(rssAfter)
              .arg(during ? (during->acknowledged ? 1 : 0) : -1)
              .arg(number(during ? during->ms : 0)));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    const QStringList args = app.arguments().mid(1);
    const QString command = args.value(0);
    if (command == QLatin1String("mapped"))
        return mapped(args);
    if (command == QLatin1String("idle"))
        return idle(args);
    if (command == QLatin1String("updatecheck"))
        return updateCheck(args);
    if (command == QLatin1String("childcount"))
        return childCount(args);
    if (command == QLatin1String("peer"))
        return peer(args);
    if (command == QLatin1String("peerfloor"))
        return peerFloor(args);
    if (command == QLatin1String("peerload"))
        return peerLoad(args);
    std::fprintf(stderr, "usage: orsa_bench mapped|idle|updatecheck|childcount|peer|peerfloor|peerload ...\n");
    return 2;
}
