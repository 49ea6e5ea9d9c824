#pragma once
#include "platform/messages.h"

#include <QDeadlineTimer>
#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <atomic>
#include <memory>

class QTimer;
class QWidget;
class WindowSystem;

// The login this shell holds, from its beginning to its end, and everything that belongs to it:
// the employee, the identity other parts bind their work to, the update notices offered to it,
// the programs started for it and an eviction asked for by another workstation. Every change of
// the session happens here; the main window shows the session and forwards the user's actions.
//
// An eviction never runs inside another window. A request that finds windows of the shell open
// (a message box, the login window, the team-role window) marks the eviction pending and ends
// those windows as a cancel would; the eviction itself runs once they have all closed, at the
// top of the event loop. A handler that opened a window checks with stillCurrent() when it
// returns, and does nothing for a session that has ended or is about to.
class SessionState : public QObject
{
    Q_OBJECT
public:
    enum class State {
        None,            // nobody is logged in
        Live,            // an employee works with the shell
        SwitchingUser,   // the login window is open for the next login
        Ending,          // the shell is closing
    };

    // How long a program started for a session is watched after that session has ended: an
    // updater may show its window only after the eviction has looked for it.
    static constexpr int DefaultProgramWatchMs = 60000;

    SessionState(WindowSystem &windows, Messages &messages, QObject *parent = nullptr);
    ~SessionState() override;

    State state() const { return m_state; }
    QString empNo() const { return m_empNo; }
    // Changes whenever a login begins or ends. Safe to read from any thread.
    quint64 id() const { return m_id.load(); }
    // The session a handler started with (its id) is still held and no eviction waits for it.
    bool stillCurrent(quint64 id) const;
    bool evictionPending() const { return m_evictionPending; }
    bool loginWindowOpen() const { return m_state == State::SwitchingUser; }

    // The login window opens for the next login; the session held so far goes on meanwhile.
    void beginSwitch();
    // A login has succeeded: a new session for empNo replaces the one before.
    void loginSucceeded(const QString &empNo);
    // The login window closed without a login: the session held before goes on.
    void switchCancelled();
    // Another workstation has ended the session: nobody is logged in any more.
    void evicted();
    // The shell is closing for good.
    void beginEnding();

    // While one lives, a window of the shell is open and an eviction must wait for it.
    class WindowScope
    {
    public:
        explicit WindowScope(SessionState &state);
        ~WindowScope();
        WindowScope(const WindowScope &) = delete;
        WindowScope &operator=(const WindowScope &) = delete;

    private:
        QPointer<SessionState> m_state;
    };
    int windowsOpen() const { return m_windowsOpen; }
    // The message boxes of the shell: every box counts as an open window.
    Messages &messages() { return *m_windowMessages; }

    // A request to end the current session is waiting. True: no window is open and the
    // eviction may run now. False: the open windows have been told to close as a cancel
    // would, and the eviction waits for them; the session counts as ended meanwhile.
    bool readyToEvict();
    // The request that was waiting has been dropped (its requester has gone): the session goes
    // on as before.
    void evictionWithdrawn();

    // A notice offered to this session: it closes when the session ends.
    void addNotice(QWidget *notice);
    // A program has been started for this session; windowClasses are the classes of the
    // windows it may still show (the updater's, the project's).
    void programStarted(const QStringList &windowClasses);
    void setProgramWatch(int ms) { m_programWatchMs = ms; }

Q_SIGNALS:
    // The session has ended (evicted, replaced by another login, or the shell closes): what
    // was found or offered for it is not the next one's.
    void ended();

private:
    struct StartedProgram
    {
        QStringList windowClasses;
        QDeadlineTimer watchUntil;
    };
    class WindowMessages;

    void endSession();
    void cancelOpenWindows();
    void watchPrograms();

    WindowSystem &m_windows;
    Messages &m_messages;
    std::unique_ptr<Messages> m_windowMessages;
    State m_state = State::None;
    QString m_empNo;
    std::atomic<quint64> m_id{1};
    bool m_evictionPending = false;
    int m_windowsOpen = 0;
    QList<QPointer<QWidget>> m_notices;
    QList<StartedProgram> m_started;   // for the session held now
    QList<StartedProgram> m_orphans;   // for sessions that have ended
    QTimer *m_watchTimer = nullptr;
    int m_programWatchMs = DefaultProgramWatchMs;
};
