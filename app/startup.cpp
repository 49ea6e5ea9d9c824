#include "app/startup.h"

#include "app/tfrm_0main.h"
#include "app/tfrmzzc010.h"
#include "db/tfrm_zd000.h"
#include "machine/pelfunction.h"
#include "peer/forcedlogoutclient.h"
#include "platform/instancelock.h"
#include "platform/messages.h"
#include "platform/processmemory.h"
#include "platform/programstarter.h"
#include "platform/windowsystem.h"
#include "session/authentication.h"
#include "session/logoutrecording.h"
#include "session/passwordchange.h"
#include "session/tfrm_ah010.h"
#include "shared/logcategories.h"
#include "shared/sharedvalues.h"
#include "update/tfrm_bh010.h"
#include "widgets/koreanfonts.h"

#include "orsaconfig.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWindow>

namespace {

const QString LockName = QStringLiteral("Orsa");
const QString MainWindowClass = QStringLiteral("Tfrm_0Main");
// Long enough for the main window's first paint to come before the heap is combed through.
constexpr int ReleaseStartupMemoryMs = 1000;

// The splash has to be on screen before the long steps of the start-up, which run before the
// message loop: wait (briefly) until the window system has mapped it, then paint it at once.
void showAndPaint(QWidget *splash)
{
    splash->show();
    QElapsedTimer waited;
    waited.start();
    while (splash->isVisible() && splash->windowHandle() && !splash->windowHandle()->isExposed()
           && waited.elapsed() < 1000)
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents, 20);
    splash->repaint();
}

} // namespace

quint16 peerPortFromEnvironment()
{
    bool ok = false;
    const uint port = qEnvironmentVariable("ORSA_PEER_PORT").toUInt(&ok);
    if (!ok || port == 0 || port > 65535)
        return ForcedLogoutClient::DefaultPort;
    return static_cast<quint16>(port);
}

int runShell(QApplication &app)
{
    std::unique_ptr<WindowSystem> windows = WindowSystem::createSystem();
    std::unique_ptr<InstanceLock> lock = InstanceLock::createSystem();
    QString lockError;
    if (!lock->acquire(LockName, &lockError)) {
        if (lock->failure() == InstanceLock::Failure::Unusable) {
            // Not a running shell but a lock nobody can take (a directory another user made
            // first, say): handing over would end silently, as if the shell had started.
            qCCritical(lcShell).noquote() << "cannot take the single-instance lock:" << lockError;
            Messages::createSystem()->show(
                QStringLiteral("프로그램의 실행 잠금을 만들 수 없습니다.\r전산팀에 문의하십시오.\r\r에러내용 :\r")
                    + lockError,
                MessageIcon::Error, MessageButtons::Ok, QStringLiteral("Main"));
            return 1;
        }
        // Another shell runs in this logon: hand over to it, silently.
        windows->bringToFront(windows->findWindow(MainWindowClass));
        return 0;
    }
    qCInfo(lcShell).noquote() << "started, version" << GetVersionText()
                              << "pid" << QCoreApplication::applicationPid();

    // The program ends when the main window closes, not when the last visible window goes:
    // during the start-up only the splash and the dialogs are on screen.
    app.setQuitOnLastWindowClosed(false);
    installKoreanFontSubstitutes();

    std::unique_ptr<Messages> messages = Messages::createSystem();
    std::unique_ptr<PelFunction> machine = PelFunction::createSystem();
    std::unique_ptr<ProgramStarter> programs = ProgramStarter::createSystem();
    SharedValues &shared = sharedValues();

    auto splash = std::make_unique<TfrmZZC010>();
    windows->setWindowClass(splash.get(), QStringLiteral("TfrmZZC010"));
    showAndPaint(splash.get());

    auto db = std::make_unique<Tfrm_ZD000>(*messages);
    LogoutRecording logoutRecording(*db, shared);
    ForcedLogoutClient logoutClient;
    logoutClient.setPort(peerPortFromEnvironment());
    Authentication authentication(*db, *messages, shared, logoutClient);
    PasswordChange passwordChange(*db, *messages, shared, windows.get());

    MainWindowServices services(*messages, *db, *machine, *windows, *programs, shared);
    services.recordLogout = [&logoutRecording](int kind, QString *error) {
        return logoutRecording.recordLogout(kind, error);
    };
    services.recordsClosed = [&logoutRecording] { return logoutRecording.lastRowsChanged(); };
    services.runLogin = [&](QWidget *owner) {
        Tfrm_AH010 login(owner, authentication, passwordChange, *messages, shared.AppDir,
                         windows.get());
        return login.exec() == QDialog::Accepted;
    };
    services.arguments = app.arguments().mid(1);
    services.executableDir = QCoreApplication::applicationDirPath();
    services.peerPort = peerPortFromEnvironment();
    services.startPage = QUrl(QString::fromUtf8(ORSA_RDVIEWER_URL));

    auto mainWindow = std::make_unique<Tfrm_0Main>(services);
    QObject::connect(mainWindow.get(), &Tfrm_0Main::shellClosed, &app, &QCoreApplication::quit);
    mainWindow->FormCreate();

    auto updateNotice = std::make_unique<Tfrm_BH010>();
    windows->setWindowClass(updateNotice.get(), QStringLiteral("Tfrm_BH010"));

    splash->hide();
    splash.reset();

    // Qt ignores a quit() asked for before the loop runs, so a start-up that has failed must
    // not enter it at all.
    int exitCode = 0;
    if (!messages->terminationPending()) {
        mainWindow->show();
        // What the start-up freed (splash, picture library, decoded pictures, the connection's
        // work) goes back to the system instead of staying with the shell all day.
        QTimer::singleShot(ReleaseStartupMemoryMs, &app, &ProcessMemory::releaseFreedMemory);
        exitCode = app.exec();
    }

    // A new shell may start from here on, while this one still records its final logout.
    lock->release();
    updateNotice.reset();
    mainWindow.reset();
    qCInfo(lcShell) << "ended, exit code" << exitCode;
    // The sign-in services and then the data module go as the function returns.
    return exitCode;
}
