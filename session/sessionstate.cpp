#include "session/sessionstate.h"

#include "platform/windowsystem.h"

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

namespace {

// How often the windows of programs started for an ended session are looked for.
constexpr int ProgramWatchIntervalMs = 250;

} // namespace

// Every box of the shell is a window an eviction has to wait for.
class SessionState::WindowMessages final : public Messages
{
public:
    WindowMessages(SessionState &state, Messages &inner) : m_state(state), m_inner(inner) {}

    MessageAnswer show(const QString &text, MessageIcon icon, MessageButtons buttons,
                       const QString &caption) override
    {
        const WindowScope scope(m_state);
        return m_inner.show(text, icon, buttons, caption);
    }
    void cancelOpen() override { m_inner.cancelOpen(); }

private:
    SessionState &m_state;
    Messages &m_inner;
};

SessionState::SessionState(WindowSystem &windows, Messages &messages, QObject *parent)
    : QObject(parent), m_windows(windows), m_messages(messages),
      m_windowMessages(std::make_unique<WindowMessages>(*this, messages)),
      m_watchTimer(new QTimer(this))
{
    m_watchTimer->setInterval(ProgramWatchIntervalMs);
    connect(m_watchTimer, &QTimer::timeout, this, &SessionState::watchPrograms);
}

SessionState::~SessionState() = default;

bool SessionState::stillCurrent(quint64 id) const
{
    return id == m_id.load() && !m_evictionPending && m_state != State::Ending;
}

// --- The life of a session, in the order it is lived.

void SessionState::beginSwitch()
{
    if (m_state == State::None || m_state == State::Live)
        m_state = State::SwitchingUser;
}

void SessionState::loginSucceeded(const QString &empNo)
{
    endSession();
    m_empNo = empNo;
    m_state = empNo.isEmpty() ? State::None : State::Live;
}

void SessionState::switchCancelled()
{
    if (m_state == State::SwitchingUser)
        m_state = m_empNo.isEmpty() ? State::None : State::Live;
}

void SessionState::evicted()
{
    const bool switching = m_state == State::SwitchingUser;
    endSession();
    m_empNo.clear();
    m_evictionPending = false;
    // A login window that is still open becomes the login that follows the eviction.
    m_state = switching ? State::SwitchingUser : State::None;
}

void SessionState::beginEnding()
{
    if (m_state == State::Ending)
        return;
    endSession();
    m_state = State::Ending;
}

void SessionState::endSession()
{
    m_id.fetch_add(1);
    m_evictionPending = false;
    const QList<QPointer<QWidget>> notices = m_notices;
    m_notices.clear();
    for (const QPointer<QWidget> &notice : notices)
        if (notice)
            notice->close();
    // Programs of the ended session whose windows have not shown yet are closed when they do.
    for (const StartedProgram &program : std::as_const(m_started))
        if (!program.watchUntil.hasExpired())
            m_orphans.append(program);
    m_started.clear();
    if (!m_orphans.isEmpty() && !m_watchTimer->isActive())
        m_watchTimer->start();
    Q_EMIT ended();
}

// --- Windows and the eviction that waits for them.

SessionState::WindowScope::WindowScope(SessionState &state) : m_state(&state)
{
    ++state.m_windowsOpen;
}

SessionState::WindowScope::~WindowScope()
{
    if (m_state)
        --m_state->m_windowsOpen;
}

bool SessionState::readyToEvict()
{
    // Without a login there is nothing to evict: the request is declined at once, and the
    // windows open (the message of an eviction before, say) stay.
    if (m_windowsOpen == 0 || m_empNo.isEmpty() || m_state == State::Ending)
        return true;
    m_evictionPending = true;
    cancelOpenWindows();
    return false;
}

void SessionState::evictionWithdrawn()
{
    m_evictionPending = false;
}

void SessionState::cancelOpenWindows()
{
    m_messages.cancelOpen();
    // Every modal window of the shell is ended; the loop of each returns once control comes
    // back to it, the innermost first.
    const QList<QWidget *> windows = QApplication::topLevelWidgets();
    for (QWidget *window : windows) {
        auto *dialog = qobject_cast<QDialog *>(window);
        if (dialog && dialog->isVisible() && dialog->isModal())
            dialog->reject();
    }
}

// --- What belongs to the session.

void SessionState::addNotice(QWidget *notice)
{
    m_notices.append(notice);
}

void SessionState::programStarted(const QStringList &windowClasses)
{
    // The new session's own start looks like an old one's: watching the old ones further would
    // close what the employee at the desk has just asked for.
    m_orphans.clear();
    m_watchTimer->stop();
    m_started.append({windowClasses, QDeadlineTimer(m_programWatchMs)});
}

void SessionState::watchPrograms()
{
    for (int i = m_orphans.size() - 1; i >= 0; --i) {
        const StartedProgram &program = m_orphans.at(i);
        for (const QString &windowClass : program.windowClasses) {
            if (const WindowId window = m_windows.findWindow(windowClass))
                m_windows.closeWindow(window);
        }
        if (program.watchUntil.hasExpired())
            m_orphans.removeAt(i);
    }
    if (m_orphans.isEmpty())
        m_watchTimer->stop();
}
