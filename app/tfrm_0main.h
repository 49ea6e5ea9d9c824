#pragma once
#include "peer/forcedlogouthandler.h"
#include "platform/peerallowlist.h"

#include <QDateTime>
#include <QList>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <QWidget>

#include <functional>
#include <memory>

class ClickArea;
class ForcedLogoutServer;
class Messages;
class PelFunction;
class ProgramStarter;
class QLabel;
class QNetworkAccessManager;
class QPushButton;
class QTimer;
class SessionState;
class TPelImage;
class Tfrm_AH120;
class Tfrm_ZD000;
class TwLabel;
class UpdateWatch;
class WindowSystem;
struct SharedValues;

// Everything the main window works with from outside, handed in by the start-up so that tests
// can pass fakes for the platform services and the dialogs.
struct MainWindowServices
{
    MainWindowServices(Messages &messages, Tfrm_ZD000 &db, PelFunction &machine,
                       WindowSystem &windows, ProgramStarter &programs, SharedValues &shared)
        : messages(messages), db(db), machine(machine), windows(windows), programs(programs),
          shared(shared)
    {
    }

    Messages &messages;
    Tfrm_ZD000 &db;
    PelFunction &machine;
    WindowSystem &windows;
    ProgramStarter &programs;
    SharedValues &shared;

    // Records the end of a login (1 final, 2 provisional, 3 confirm, 4 take back); false only
    // when the database could not be reached.
    std::function<bool(int kind, QString *error)> recordLogout;
    // How many login records the last recordLogout closed; empty: one whenever it reached the
    // database. A forced logout that closed none is not acknowledged.
    std::function<int()> recordsClosed;
    // Shows the login window modally over the owner; true only after a successful login.
    std::function<bool(QWidget *owner)> runLogin;
    // Makes the team-role window for one start of a project, owned by the main window.
    // Empty: the real window, carrying its class name for the other programs.
    std::function<std::unique_ptr<Tfrm_AH120>(QWidget *owner)> createTeamRole;
    // Connects, sets the workstation clock and names the environment; false when the program
    // has been told to end. Empty: the data module's own start-up routine.
    std::function<bool(QString *environmentName)> initDatabase;

    QStringList arguments;     // the command-line parameters, without the program itself
    QString executableDir;     // where the executable lies
    quint16 peerPort = 6010;   // the forced-logout listener
    // How long a taken peer port is asked for again before the start-up gives up: a shell
    // closed a moment ago still holds it while it records its final logout.
    int peerPortWaitMs = 5000;
    QUrl startPage;            // requested once at start-up; empty: none
    // The local time of a login; empty: the machine's clock.
    std::function<QDateTime()> now;
    // The screen the window is centred on; empty: the primary screen.
    std::function<QRect()> screenGeometry;
};

// "접속 : 2006-03-01 오후 3:07": the login time of the status row, with the Korean morning and
// afternoon designators and the 12-hour clock whatever the machine's locale.
QString connectTimeCaption(const QDateTime &time);

// The command line that starts a project through the updater. The values after the program
// file are neither quoted nor escaped: the updater and the projects read them that way.
QString launchCommandLine(const QString &updaterPath, const QString &programFile,
                          const QString &databaseName, const QString &dbAccount,
                          const QString &empNo, const QString &empName);

// The shell's main window: the face of the suite on the desktop, with one picture button per
// project. Its creation is the program's start-up work.
class Tfrm_0Main : public QWidget, public ForcedLogoutHandler
{
    Q_OBJECT
public:
    enum HitTest { HTCLIENT = 1, HTCAPTION = 2 };

    explicit Tfrm_0Main(const MainWindowServices &services, QWidget *parent = nullptr);
    ~Tfrm_0Main() override;

    // The creation routine; runs once, right after construction.
    void FormCreate();

    // Where a press at pos (window coordinates) goes: strictly inside a control it stays
    // there, everywhere else it drags the window.
    int hitTest(const QPoint &pos) const;

    void sbtLoginClick();
    void sbtControlClick();
    void imgMinimizeClick();
    void imgCloseClick();
    void imgProjectClick(TPelImage *button);
    void LaunchProgram(const QString &programFile);
    // The tick of tmrTimer (every second): the update watch counts it.
    void tmrTimerTimer();
    // Opens a notice, owned by this window, offering to restart the program.
    void ShowUpdateNotice(const QString &title, const QString &programName);
    // The message another program of the suite sends when the shell should come back.
    void restoreShellRequested();

    // ForcedLogoutHandler
    quint64 currentSession() const override;
    bool busy() const override;
    bool readyToEvict() override;
    void evictionWithdrawn() override;
    bool forcedLogout() override;
    void afterForcedLogout() override;

    SessionState &session() const { return *m_session; }

    // For the status row and the tests.
    TwLabel *wlbEnv() const { return m_wlbEnv; }
    TwLabel *wlbEmpName() const { return m_wlbEmpName; }
    TwLabel *wlbConnectTime() const { return m_wlbConnectTime; }
    TwLabel *wlbComment() const { return m_wlbComment; }
    TwLabel *wlbVer() const { return m_wlbVer; }
    QPushButton *sbtLogin() const { return m_sbtLogin; }
    QPushButton *sbtControl() const { return m_sbtControl; }
    QWidget *imgMinimize() const;
    QWidget *imgClose() const;
    const QList<TPelImage *> &imgProjects() const { return m_imgProjects; }
    bool listening() const;
    // The port the forced-logout listener took (0 when it does not listen).
    quint16 peerPort() const;
    bool loginOpen() const;

    int ProjectCount() const { return m_projectCount; }
    int ImageHeight() const { return m_imageHeight; }
    int ImageWidth() const { return m_imageWidth; }
    QString UpdateExe() const { return m_updateExe; }
    QString UpdateUrl() const { return m_updateUrl; }
    QTimer *tmrTimer() const { return m_tmrTimer; }
    UpdateWatch *updateWatch() const { return m_updateWatch; }

Q_SIGNALS:
    // The window has closed for good: the program ends.
    void shellClosed();

protected:
    void closeEvent(QCloseEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool LoadConfiguration();
    bool FormCloseQuery();
    void FormDestroy();
    void createControls();
    void failStartup(const QString &text);
    void requestStartPage();
    void setProjectButtonsForRights();
    void disableProjectButtons();
    bool startDrag(const QPoint &globalPos);
    void watchPresses(QWidget *control);
    bool recordLogout(int kind, QString *error = nullptr);
    void showLoggedOut();
    Messages &windowMessages();

    MainWindowServices m_services;
    QLabel *m_imgBackground = nullptr;
    ClickArea *m_imgMinimize = nullptr;
    ClickArea *m_imgClose = nullptr;
    QPushButton *m_sbtLogin = nullptr;
    QPushButton *m_sbtControl = nullptr;
    TwLabel *m_wlbEnv = nullptr;
    TwLabel *m_wlbEmpName = nullptr;
    TwLabel *m_wlbConnectTime = nullptr;
    TwLabel *m_wlbComment = nullptr;
    TwLabel *m_wlbVer = nullptr;
    QList<TPelImage *> m_imgProjects;
    std::unique_ptr<ForcedLogoutServer> m_tcpServer;
    QNetworkAccessManager *m_web = nullptr;
    QTimer *m_tmrTimer = nullptr;
    UpdateWatch *m_updateWatch = nullptr;

    int m_projectCount = 3;
    int m_imageHeight = 0;
    int m_imageWidth = 0;
    QString m_updateExe = QStringLiteral("PelUpdate.exe");
    PeerAllowList m_peerAllow;
    QString m_updateUrl;

    SessionState *m_session = nullptr;
    // The message and the new login that follow a forced logout are under way.
    bool m_followUp = false;
    bool m_destroyed = false;
    // A drag by hand where the window system cannot move the window itself.
    bool m_manualDrag = false;
    QPoint m_dragOffset;
};
