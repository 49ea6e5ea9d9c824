#include "app/tfrm_0main.h"

#include "app/childprograms.h"
#include "widgets/clickarea.h"
#include "platform/mainconfig.h"
#include "app/netservicenames.h"
#include "app/startpagerequest.h"
#include "db/initdatabase.h"
#include "db/tfrm_zd000.h"
#include "machine/databasehost.h"
#include "machine/pelfunction.h"
#include "peer/forcedlogoutserver.h"
#include "platform/appfiles.h"
#include "platform/imagelibrary.h"
#include "platform/messages.h"
#include "platform/profilefile.h"
#include "platform/programstarter.h"
#include "platform/windowsystem.h"
#include "session/sessionstate.h"
#include "session/tfrm_ah120.h"
#include "shared/logcategories.h"
#include "shared/sharedvalues.h"
#include "update/tfrm_bh010.h"
#include "update/updatewatch.h"
#include "widgets/tpelimage.h"
#include "widgets/twlabel.h"

#include "orsaconfig.h"

#include <QCloseEvent>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMouseEvent>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTimer>
#include <QWindow>

namespace {

const QString MainCaption = QStringLiteral("Main");
const QString ImageLibraryName = QStringLiteral("MainImg.dll");
const QString ConfigName = QStringLiteral("Main.ini");
const QString UpdateConfigName = QStringLiteral("PelUpdate.ini");

// The status row: every label is this high and sits this far above the window's bottom edge.
constexpr int LabelHeight = 19;
constexpr int LabelRowOffset = 25;
constexpr int LabelTopMargin = 3;

const QColor InfoBackground(0xFF, 0xFF, 0xE1);
const QColor Silver(0xC0, 0xC0, 0xC0);
const QColor Navy(0x00, 0x00, 0x80);
const QColor Grey(0x80, 0x80, 0x80);
const QColor WindowText(0x00, 0x00, 0x00);

QFont shellFont()
{
    QFont font(QStringLiteral("굴림"));
    font.setPixelSize(12);
    return font;
}

// A person with a change arrow: log in as somebody else.
QIcon loginGlyph()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(QColor(0x20, 0x40, 0x80), 1));
    p.setBrush(QColor(0x6a, 0x8c, 0xc8));
    p.drawEllipse(QRectF(3.5, 1.5, 6, 6));
    QPainterPath body;
    body.moveTo(0.5, 15.5);
    body.cubicTo(0.5, 9.5, 12.5, 9.5, 12.5, 15.5);
    body.closeSubpath();
    p.drawPath(body);
    p.setPen(QPen(QColor(0x1e, 0x8c, 0x32), 2));
    p.drawLine(QPointF(11, 5), QPointF(15, 5));
    p.drawLine(QPointF(13.5, 3), QPointF(15, 5));
    p.drawLine(QPointF(13.5, 7), QPointF(15, 5));
    return QIcon(pixmap);
}

// A monitor with a pointer on it: somebody else drives this screen.
QIcon remoteControlGlyph()
{
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setPen(QPen(QColor(0x30, 0x30, 0x30), 1));
    p.setBrush(QColor(0x3c, 0x78, 0xb4));
    p.drawRect(QRect(1, 1, 13, 10));
    p.setBrush(QColor(0x80, 0x80, 0x80));
    p.drawRect(QRect(5, 12, 5, 1));
    p.drawRect(QRect(3, 14, 9, 1));
    QPolygon arrow;
    arrow << QPoint(7, 3) << QPoint(7, 10) << QPoint(9, 8) << QPoint(11, 10) << QPoint(12, 9)
          << QPoint(10, 7) << QPoint(12, 6);
    p.setPen(QPen(Qt::black, 1));
    p.setBrush(Qt::white);
    p.drawPolygon(arrow);
    return QIcon(pixmap);
}

QPushButton *makeFlatButton(QWidget *parent, const QString &caption, const QIcon &glyph,
                            const QRect &geometry)
{
    auto *button = new QPushButton(glyph, caption, parent);
    button->setFlat(true);
    button->setFocusPolicy(Qt::NoFocus);
    button->setIconSize(QSize(16, 16));
    button->setGeometry(geometry);
    return button;
}

TwLabel *makeStatusLabel(QWidget *parent, int left, int width, const QColor &textColour)
{
    auto *label = new TwLabel(parent);
    label->setColor(InfoBackground);
    label->setBorderStyle(mlbsLine);
    label->setBorderColor(Silver);
    label->setTopMargin(LabelTopMargin);
    label->setFontColor(textColour);
    label->setGeometry(left, 0, width, LabelHeight);
    return label;
}

QString forcedLogoutText()
{
    return QStringLiteral(
        "다른 PC에서 동일 사용자가 프로그램 종료를 요청했습니다.\r"
        "자신의 ID로 접속하시고 비밀번호는 다른 사람에게 알려주지 마십시오.\r"
        "같은 문제가 계속 발생할 경우 전산팀에 문의하십시오.");
}

} // namespace

QString connectTimeCaption(const QDateTime &time)
{
    const QDate date = time.date();
    const QTime clock = time.time();
    const int hour = clock.hour() % 12 == 0 ? 12 : clock.hour() % 12;
    const QString designator = clock.hour() < 12 ? QStringLiteral("오전") : QStringLiteral("오후");
    return QStringLiteral("접속 : %1-%2-%3 %4 %5:%6")
        .arg(date.year(), 4, 10, QLatin1Char('0'))
        .arg(date.month(), 2, 10, QLatin1Char('0'))
        .arg(date.day(), 2, 10, QLatin1Char('0'))
        .arg(designator)
        .arg(hour)
        .arg(clock.minute(), 2, 10, QLatin1Char('0'));
}

QString launchCommandLine(const QString &updaterPath, const QString &programFile,
                          const QString &databaseName, const QString &dbAccount,
                          const QString &empNo, const QString &empName)
{
    const QChar quote = QLatin1Char('"');
    const QChar blank = QLatin1Char(' ');
    return quote + updaterPath + quote + blank + quote + programFile + quote + blank
        + databaseName + blank + dbAccount + blank + empNo + blank + empName;
}

Tfrm_0Main::Tfrm_0Main(const MainWindowServices &services, QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint), m_services(services)
{
    // The caption is what other programs and two questions of the shell know it by.
    setWindowTitle(MainCaption);
    setFont(shellFont());
    resize(629, 157);
    createControls();
    m_session = new SessionState(m_services.windows, m_services.messages, this);

    UpdateWatchHost host;
    host.projects = [this] {
        QList<QPair<QString, QString>> projects;
        const QStringList &keys = m_services.shared.ProjectKeys;
        for (int i = 0; i < m_imgProjects.size(); ++i)
            if (m_imgProjects.at(i))
                projects.append({m_imgProjects.at(i)->hint(), keys.value(i)});
        return projects;
    };
    host.showUpdateNotice = [this](const QString &title, const QString &programName) {
        ShowUpdateNotice(title, programName);
    };
    host.noticeOpen = [this](const QString &caption) {
        const QList<Tfrm_BH010 *> notices = findChildren<Tfrm_BH010 *>();
        for (const Tfrm_BH010 *notice : notices)
            if (notice->windowTitle().compare(caption, Qt::CaseInsensitive) == 0)
                return true;
        return m_services.windows.findWindow(QStringLiteral("Tfrm_BH010"), caption) != 0;
    };
    m_updateWatch = new UpdateWatch(m_services.windows, host, this);
    // What was found for the ended session's programs is not the next one's.
    connect(m_session, &SessionState::ended, m_updateWatch, &UpdateWatch::cancelCheck);

    m_tmrTimer = new QTimer(this);
    m_tmrTimer->setInterval(1000);
    connect(m_tmrTimer, &QTimer::timeout, this, &Tfrm_0Main::tmrTimerTimer);
    m_tmrTimer->start();
}

void Tfrm_0Main::tmrTimerTimer()
{
    m_updateWatch->tmrTimerTimer();
}

void Tfrm_0Main::ShowUpdateNotice(const QString &title, const QString &programName)
{
    auto *notice = new Tfrm_BH010(this);
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->ProgramTitle = title;
    notice->ProgramName = programName;
    NoticeActions actions;
    actions.windows = &m_services.windows;
    actions.messages = &windowMessages();
    actions.launchProgram = [this](const QString &programFile) { LaunchProgram(programFile); };
    notice->setActions(actions);
    m_services.windows.setWindowClass(notice, QStringLiteral("Tfrm_BH010"));
    m_session->addNotice(notice);
    notice->show();
}

Tfrm_0Main::~Tfrm_0Main()
{
    FormDestroy();
}

void Tfrm_0Main::createControls()
{
    m_imgBackground = new QLabel(this);
    m_imgBackground->move(0, 0);
    watchPresses(m_imgBackground);

    m_sbtLogin = makeFlatButton(this, QStringLiteral("다른 사용자로 로그인"), loginGlyph(),
                                QRect(450, 84, 167, 31));
    connect(m_sbtLogin, &QPushButton::clicked, this, &Tfrm_0Main::sbtLoginClick);
    watchPresses(m_sbtLogin);
    m_sbtControl = makeFlatButton(this, QStringLiteral("원격제어 프로그램 실행"),
                                  remoteControlGlyph(), QRect(16, 84, 167, 31));
    connect(m_sbtControl, &QPushButton::clicked, this, &Tfrm_0Main::sbtControlClick);
    watchPresses(m_sbtControl);

    m_wlbEnv = makeStatusLabel(this, 6, 145, Navy);
    m_wlbEmpName = makeStatusLabel(this, 152, 127, WindowText);
    m_wlbConnectTime = makeStatusLabel(this, 280, 181, Grey);
    m_wlbComment = makeStatusLabel(this, 462, 0, WindowText);
    m_wlbVer = makeStatusLabel(this, 0, 100, Grey);
    for (TwLabel *label : {m_wlbEnv, m_wlbEmpName, m_wlbConnectTime, m_wlbComment, m_wlbVer})
        watchPresses(label);
}

void Tfrm_0Main::watchPresses(QWidget *control)
{
    control->installEventFilter(this);
}

void Tfrm_0Main::failStartup(const QString &text)
{
    m_services.messages.show(text, MessageIcon::Error);
    m_services.messages.requestTermination();
}

void Tfrm_0Main::FormCreate()
{
    Messages &messages = m_services.messages;
    Tfrm_ZD000 &db = m_services.db;
    SharedValues &shared = m_services.shared;

    m_services.windows.setWindowClass(this, QStringLiteral("Tfrm_0Main"));
    m_services.windows.watchRestoreMessage(this, [this] { restoreShellRequested(); });

    if (db.connected())
        messages.show(QStringLiteral("프로그램 시작시 이미 DB에 접속되어 있습니다.\r"
                                     "문제가 발생할 수 있으므로 개발자에게 연락하십시오."),
                      MessageIcon::Error);
    db.DisconnectDB();

    if (m_services.arguments.size() != 1) {
        failStartup(QStringLiteral("파라미터를 잘못 입력하셨습니다.\r"
                                   "바로가기로 프로그램을 실행하십시오."));
        return;
    }
    shared.DbAccount = m_services.arguments.first();
    shared.AppDir = QDir::toNativeSeparators(m_services.executableDir);
    if (!shared.AppDir.endsWith(QDir::separator()))
        shared.AppDir += QDir::separator();
    shared.ProjectIds.clear();
    shared.ProjectKeys.clear();

    // A Main.ini value or a picture that cannot be used ends the creation here: a window built
    // from half a configuration would be a shell nobody can log in to.
    if (!LoadConfiguration())
        return;

    QString environment;
    if (m_services.initDatabase) {
        m_services.initDatabase(&environment);
    } else {
        InitDatabase(db, m_services.machine, messages, shared.DatabaseName, shared.DbAccount,
                     &environment);
    }
    m_wlbEnv->setCaption(environment);

    // The address other workstations reach this one at: the route towards the database server.
    if (!shared.DatabaseName.isEmpty())
        m_services.machine.setDatabaseHost(db.dialect() == SqlDialect::PostgreSql
                                               ? postgresServiceHost(shared.DatabaseName)
                                               : oracleNetServiceHost(shared.DatabaseName));
    shared.LocalIP = m_services.machine.GetLocalIP();

    // Without the listener another workstation could not end this login, and the rule of one
    // live login per employee would break: the start-up ends instead. A shell closed a moment
    // ago holds the port until it has recorded its final logout (a database round trip), so
    // the port is asked for again for a while before giving up.
    m_tcpServer = std::make_unique<ForcedLogoutServer>(*this);
    m_tcpServer->setAllowList(m_peerAllow);
    QString listenError;
    bool listening = m_tcpServer->listen(m_services.peerPort, &listenError);
    QElapsedTimer waited;
    waited.start();
    while (!listening && !messages.terminationPending()
           && waited.elapsed() < m_services.peerPortWaitMs) {
        QEventLoop pause;
        QTimer::singleShot(200, &pause, &QEventLoop::quit);
        pause.exec(QEventLoop::ExcludeUserInputEvents);
        listening = m_tcpServer->listen(m_services.peerPort, &listenError);
    }
    if (!listening) {
        m_tcpServer.reset();
        failStartup(QStringLiteral("다른 PC의 로그아웃 요청을 받을 TCP 포트 %1을(를) 열 수 없습니다.\r"
                                   "\r에러내용 :\r%2")
                        .arg(m_services.peerPort)
                        .arg(listenError));
    }

    m_wlbVer->setCaption(QStringLiteral("v") + GetVersionText());

    sbtLoginClick();

    requestStartPage();
    copyNetServiceNames();

    m_sbtControl->move(20, m_sbtControl->y());
}

bool Tfrm_0Main::LoadConfiguration()
{
    SharedValues &shared = m_services.shared;
    const QString appDir = m_services.executableDir;

    QString libraryError;
    const std::unique_ptr<ImageLibrary> library =
        ImageLibrary::load(findAppFile(appDir, ImageLibraryName), &libraryError);
    if (!library) {
        // The creation goes on: with termination pending its later steps show nothing.
        failStartup(QStringLiteral("MainImg.dll 파일이 손상되었습니다."));
        return true;
    }

    MainConfig config;
    ConfigError configError;
    if (!readMainConfig(findAppFile(appDir, ConfigName), config, &configError)) {
        failStartup(configError.message());
        return false;
    }
    m_services.messages.setApplicationTitle(config.title);
    shared.DatabaseName = config.database;
    m_services.db.setDialect(config.driver == DatabaseDriver::PostgreSql ? SqlDialect::PostgreSql
                                                                          : SqlDialect::Oracle);
    m_projectCount = config.projectCount;
    m_imageHeight = config.imageHeight;
    m_imageWidth = config.imageWidth;
    m_updateExe = config.updateExe;
    m_peerAllow = config.peerAllow;

    auto picture = [&](const QString &name, QImage *image) {
        QString error;
        *image = library->bitmap(name, &error);
        if (image->isNull()) {
            failStartup(QStringLiteral("MainImg.dll 파일에 그림 \"%1\"이(가) 없습니다.").arg(name));
            return false;
        }
        return true;
    };

    QImage background;
    if (!picture(QStringLiteral("MAIN"), &background))
        return false;
    m_imgBackground->setPixmap(QPixmap::fromImage(background));
    m_imgBackground->setGeometry(0, 0, background.width(), background.height());
    m_imgBackground->lower();
    resize(background.size());

    const QRect screen = m_services.screenGeometry
        ? m_services.screenGeometry()
        : (QGuiApplication::primaryScreen() ? QGuiApplication::primaryScreen()->geometry() : QRect());
    // Integer halving of the signed difference: a picture larger than the screen overhangs it
    // equally on both sides.
    move(screen.x() + (screen.width() - width()) / 2, screen.y() + (screen.height() - height()) / 2);

    const int labelTop = height() - LabelRowOffset;
    for (TwLabel *label : {m_wlbEnv, m_wlbEmpName, m_wlbConnectTime, m_wlbComment, m_wlbVer})
        label->move(label->x(), labelTop);
    m_wlbVer->move(width() - m_wlbVer->width() - 5, labelTop);
    m_wlbComment->resize(width() - m_wlbEnv->width() - m_wlbEmpName->width()
                             - m_wlbConnectTime->width() - m_wlbVer->width() - 15,
                         LabelHeight);

    for (QWidget *control : std::initializer_list<QWidget *>{m_sbtLogin, m_sbtControl, m_wlbEnv,
                                                             m_wlbEmpName, m_wlbConnectTime,
                                                             m_wlbComment, m_wlbVer})
        control->raise();

    if (config.minimize) {
        m_imgMinimize = new ClickArea(this);
        m_imgMinimize->setGeometry(*config.minimize);
        connect(m_imgMinimize, &ClickArea::clicked, this, &Tfrm_0Main::imgMinimizeClick);
        watchPresses(m_imgMinimize);
    }
    if (config.close) {
        m_imgClose = new ClickArea(this);
        m_imgClose->setGeometry(*config.close);
        connect(m_imgClose, &ClickArea::clicked, this, &Tfrm_0Main::imgCloseClick);
        watchPresses(m_imgClose);
    }

    shared.ProjectIds.clear();
    shared.ProjectKeys.clear();
    qDeleteAll(m_imgProjects);
    m_imgProjects.clear();
    for (const ProjectSlot &slot : config.projects) {
        shared.ProjectIds.append({slot.key, -1});
        shared.ProjectKeys.append(slot.key);
        m_imgProjects.append(nullptr);
    }
    for (int i = 0; i < config.projects.size(); ++i) {
        const ProjectSlot &slot = config.projects.at(i);
        if (!slot.entry)
            continue;
        const QString id = slot.entry->projectId;
        QImage normal, active, disabled;
        if (!picture(id, &normal) || !picture(id + QLatin1Char('A'), &active)
            || !picture(id + QLatin1Char('D'), &disabled))
            return false;
        auto *button = new TPelImage(this);
        button->setHint(id);
        button->setGeometry(slot.entry->left, slot.entry->top, m_imageWidth, m_imageHeight);
        button->setNormalPicture(normal);
        button->setActivePicture(active);
        button->setDisabledPicture(disabled);
        button->setNormalMode(false);
        button->setPicture(button->DisabledPicture());
        button->setCursor(Qt::ArrowCursor);
        button->show();
        connect(button, &TPelImage::clicked, this, [this, button] {
            if (button->property("orsaClickable").toBool())
                imgProjectClick(button);
        });
        watchPresses(button);
        m_imgProjects[i] = button;
        shared.ProjectIds[i].id = id;
    }

    shared.RoleChoices.clear();
    for (int i = 0; i < shared.ProjectIds.size(); ++i)
        shared.RoleChoices.append(QList<RoleChoice>());

    // The update server: an absent file leaves the address empty and the update watch off.
    const QString updateConfig = findAppFile(appDir, UpdateConfigName);
    if (QFile::exists(updateConfig)) {
        m_updateUrl = ProfileFile(updateConfig).value(QStringLiteral("SERVER"), QStringLiteral("URL"));
        if (!m_updateUrl.isEmpty() && !m_updateUrl.endsWith(QLatin1Char('/')))
            m_updateUrl += QLatin1Char('/');
    }
    m_updateWatch->setUpdateUrl(m_updateUrl);
    m_updateWatch->setAppDir(appDir);
    return true;
}

void Tfrm_0Main::requestStartPage()
{
    if (!m_services.startPage.isValid() || m_services.startPage.isEmpty())
        return;
    if (!m_web)
        m_web = new QNetworkAccessManager(this);
    QNetworkReply *reply = sendStartPageRequest(*m_web, m_services.startPage);
    // The page is asked for once: the network stack and its thread go with the answer instead of
    // staying for the rest of the day.
    if (reply) {
        connect(reply, &QNetworkReply::finished, this, [this] {
            if (m_web) {
                m_web->deleteLater();
                m_web = nullptr;
            }
        });
    }
}

QWidget *Tfrm_0Main::imgMinimize() const
{
    return m_imgMinimize;
}

QWidget *Tfrm_0Main::imgClose() const
{
    return m_imgClose;
}

bool Tfrm_0Main::listening() const
{
    return m_tcpServer != nullptr;
}

quint16 Tfrm_0Main::peerPort() const
{
    return m_tcpServer ? m_tcpServer->serverPort() : 0;
}

int Tfrm_0Main::hitTest(const QPoint &pos) const
{
    auto strictlyInside = [&pos](const QWidget *control) {
        if (!control)
            return false;
        const QRect r = control->geometry();
        return r.left() < pos.x() && pos.x() < r.left() + r.width() && r.top() < pos.y()
            && pos.y() < r.top() + r.height();
    };
    if (strictlyInside(m_imgMinimize) || strictlyInside(m_imgClose) || strictlyInside(m_sbtLogin)
        || strictlyInside(m_sbtControl))
        return HTCLIENT;
    for (const TPelImage *button : m_imgProjects) {
        if (strictlyInside(button))
            return HTCLIENT;
    }
    return HTCAPTION;
}

bool Tfrm_0Main::startDrag(const QPoint &globalPos)
{
    if (windowHandle() && windowHandle()->startSystemMove())
        return true;
    // No window manager to move the window: it follows the pointer by hand.
    m_manualDrag = true;
    m_dragOffset = globalPos - pos();
    return true;
}

bool Tfrm_0Main::eventFilter(QObject *watched, QEvent *event)
{
    auto *widget = qobject_cast<QWidget *>(watched);
    if (!widget || widget->window() != this)
        return QWidget::eventFilter(watched, event);
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (mouse->button() != Qt::LeftButton)
            break;
        const QPoint local = widget->mapTo(this, mouse->position().toPoint());
        if (hitTest(local) == HTCAPTION) {
            startDrag(mouse->globalPosition().toPoint());
            return true;
        }
        break;
    }
    case QEvent::MouseMove:
        if (m_manualDrag) {
            move(static_cast<QMouseEvent *>(event)->globalPosition().toPoint() - m_dragOffset);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (m_manualDrag) {
            m_manualDrag = false;
            return true;
        }
        break;
    default:
        break;
    }
    return QWidget::eventFilter(watched, event);
}

void Tfrm_0Main::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton && hitTest(event->position().toPoint()) == HTCAPTION)
        startDrag(event->globalPosition().toPoint());
    event->accept();
}

void Tfrm_0Main::mouseMoveEvent(QMouseEvent *event)
{
    if (m_manualDrag)
        move(event->globalPosition().toPoint() - m_dragOffset);
    event->accept();
}

void Tfrm_0Main::mouseReleaseEvent(QMouseEvent *event)
{
    m_manualDrag = false;
    event->accept();
}

void Tfrm_0Main::setProjectButtonsForRights()
{
    const SharedValues &shared = m_services.shared;
    for (int i = 0; i < shared.ProjectIds.size() && i < m_imgProjects.size(); ++i) {
        TPelImage *button = m_imgProjects.at(i);
        if (!button)
            continue;
        button->setTag(shared.ProjectIds.at(i).right);
        const bool normal = button->tag() >= 0;
        button->setNormalMode(normal);
        button->setCursor(normal ? Qt::PointingHandCursor : Qt::ArrowCursor);
        button->setProperty("orsaClickable", normal);
    }
}

void Tfrm_0Main::disableProjectButtons()
{
    for (TPelImage *button : std::as_const(m_imgProjects)) {
        if (!button)
            continue;
        button->setTag(-1);
        button->setNormalMode(false);
        button->setCursor(Qt::ArrowCursor);
        button->setProperty("orsaClickable", false);
    }
}

void Tfrm_0Main::sbtLoginClick()
{
    Messages &messages = m_services.messages;
    SharedValues &shared = m_services.shared;

    recordLogout(2, nullptr);
    m_session->beginSwitch();
    bool loggedIn = false;
    // With termination pending the login window is not shown and counts as cancelled.
    if (!messages.terminationPending() && m_services.runLogin) {
        const SessionState::WindowScope window(*m_session);
        loggedIn = m_services.runLogin(this);
    }
    if (loggedIn) {
        m_session->loginSucceeded(shared.EmpNo);
        CloseChildPrograms(m_services.windows, windowMessages(), false);
        setProjectButtonsForRights();
        m_wlbEmpName->setCaption(shared.EmpName);
        m_wlbConnectTime->setCaption(
            connectTimeCaption(m_services.now ? m_services.now() : QDateTime::currentDateTime()));
        recordLogout(3, nullptr);
    } else {
        // Also when an eviction ended the window: the login goes on until the eviction, which
        // follows at once, closes its record for good.
        recordLogout(4, nullptr);
        m_session->switchCancelled();
        // The first login, during start-up: nobody may use the shell, so the program ends.
        if (!isVisible())
            messages.requestTermination();
    }
}

void Tfrm_0Main::sbtControlClick()
{
    const quint64 session = m_session->id();
    const MessageAnswer answer = windowMessages().show(
        QStringLiteral("원격제어 요청 프로그램입니다.\r실행하시겠습니까?"), MessageIcon::Question,
        MessageButtons::YesNo, MainCaption);
    // Whoever the question was asked for may have been logged out meanwhile.
    if (answer == MessageAnswer::Yes && m_session->stillCurrent(session)) {
        qCInfo(lcLaunch).noquote() << "remote control asked for:" << QString::fromUtf8(ORSA_REMOTE_CONTROL);
        m_services.programs.winExec(QString::fromUtf8(ORSA_REMOTE_CONTROL));
    }
}

void Tfrm_0Main::imgMinimizeClick()
{
    showMinimized();
}

void Tfrm_0Main::imgCloseClick()
{
    close();
}

void Tfrm_0Main::imgProjectClick(TPelImage *button)
{
    const QString projectId = button->hint();
    const quint64 session = m_session->id();
    // A right above 0 names the team-role type the project runs under: the role is chosen
    // (and written into the project's role file) before the start.
    if (button->tag() > 0) {
        std::unique_ptr<Tfrm_AH120> teamRole =
            m_services.createTeamRole
                ? m_services.createTeamRole(this)
                : std::make_unique<Tfrm_AH120>(this, m_services.shared, &m_services.windows);
        teamRole->setProjectId(projectId);
        teamRole->move(Tfrm_AH120::placeUnder(geometry(), button->geometry(), teamRole->size()));
        const int choices = teamRole->FillRoles();
        if (choices == 0) {
            windowMessages().show(QStringLiteral("프로젝트 사용 권한(소속 권한)이 없습니다.\r"
                                                    "전산팀에 문의하십시오."),
                                     MessageIcon::Warning);
            return;
        }
        // Closed without OK, the window leaves the role stored last for this project. An
        // eviction ends it that way.
        if (choices >= 2) {
            const SessionState::WindowScope window(*m_session);
            teamRole->exec();
        }
        // Nothing may start under the name of an employee who has been logged out meanwhile.
        if (!m_session->stillCurrent(session) || m_services.shared.EmpNo.isEmpty())
            return;
        // A role that could not be written would start the project under the role stored
        // before, perhaps another employee's: the start is refused instead.
        if (!teamRole->SaveError().isEmpty()) {
            windowMessages().show(QStringLiteral("권한 파일(") + projectId
                                         + QStringLiteral(".ini)을 저장하지 못했습니다.\r\r에러내용 :\r")
                                         + teamRole->SaveError(),
                                     MessageIcon::Error);
            return;
        }
    }
    LaunchProgram(projectId + QStringLiteral(".exe"));
}

void Tfrm_0Main::LaunchProgram(const QString &programFile)
{
    Messages &messages = windowMessages();
    const SharedValues &shared = m_services.shared;

    // A program of the suite runs under the identity on its command line: without a logged-in
    // employee (a notice that outlived its session, say) there is none to give it.
    // An eviction is on its way, or the shell is closing: the start would outlive its session.
    if (!m_session->stillCurrent(m_session->id()))
        return;
    if (shared.EmpNo.isEmpty()) {
        messages.show(QStringLiteral("로그인한 사용자가 없습니다.\r로그인한 후 다시 실행하십시오."),
                      MessageIcon::Error);
        return;
    }
    // An empty UPDATE_EXE names the directory itself: only a file can be started.
    const QString updater = findAppFile(m_services.executableDir, m_updateExe);
    if (!QFileInfo(updater).isFile()) {
        messages.show(QStringLiteral("실행 파일(") + m_updateExe + QStringLiteral(")이 없습니다."),
                      MessageIcon::Error);
        return;
    }
    if (CountChildPrograms(m_services.windows) >= m_projectCount) {
        messages.show(QStringLiteral("실행 중인 프로젝트가 너무 많습니다.\r"
                                     "기존에 실행 중인 프로젝트를 종료하고 다시 실행하십시오."),
                      MessageIcon::Error);
        return;
    }
    // The updater's path as found, so an installation copied from Windows with other letter
    // cases still starts; on Windows it is AppDir followed by UPDATE_EXE.
    const QString commandLine =
        launchCommandLine(QDir::toNativeSeparators(updater), programFile, shared.DatabaseName,
                          shared.DbAccount, shared.EmpNo, shared.EmpName);
    QString error;
    // Not the command line: it carries the database account, which is its own password.
    if (m_services.programs.createProcess(commandLine, &error)) {
        qCInfo(lcLaunch).noquote() << "started" << programFile << "for employee" << shared.EmpNo;
        // The updater shows its window, and then the project's, some time after the start.
        QStringList windowClasses{QStringLiteral("TPelUpdateMainForm")};
        const QString name = QFileInfo(programFile).completeBaseName();
        if (name.size() == 6 && name.startsWith(QLatin1String("ORSA_"), Qt::CaseInsensitive))
            windowClasses.append(QStringLiteral("Tfrm") + name.right(1).toUpper()
                                 + QStringLiteral("0Main"));
        m_session->programStarted(windowClasses);
        showMinimized();
    } else {
        qCWarning(lcLaunch).noquote() << "cannot start" << programFile << "-" << error;
        messages.show(QStringLiteral("프로그램 파일이 손상되었거나 실행할 수 없습니다."),
                      MessageIcon::Error);
    }
}

void Tfrm_0Main::restoreShellRequested()
{
    // Before the start-up has shown the window there is nothing to restore.
    if (!isVisible())
        return;
    if (CountChildPrograms(m_services.windows) > 1)
        return;
    if (isMinimized())
        showNormal();
    show();
    raise();
    activateWindow();
}

bool Tfrm_0Main::recordLogout(int kind, QString *error)
{
    return m_services.recordLogout ? m_services.recordLogout(kind, error) : true;
}

Messages &Tfrm_0Main::windowMessages()
{
    return m_session->messages();
}

bool Tfrm_0Main::loginOpen() const
{
    return m_session->loginWindowOpen();
}

quint64 Tfrm_0Main::currentSession() const
{
    return m_session->id();
}

bool Tfrm_0Main::busy() const
{
    return m_services.db.busy();
}

bool Tfrm_0Main::readyToEvict()
{
    return m_session->readyToEvict();
}

void Tfrm_0Main::evictionWithdrawn()
{
    m_session->evictionWithdrawn();
}

bool Tfrm_0Main::forcedLogout()
{
    // Nobody is logged in (the login before was evicted or never began) or the shell is
    // closing: there is nothing to end here, and the requester closes the record itself.
    if (m_services.shared.EmpNo.isEmpty() || m_session->state() == SessionState::State::Ending)
        return false;
    CloseChildPrograms(m_services.windows, windowMessages(), false);
    QString error;
    if (!recordLogout(1, &error))
        return false;
    int closed = m_services.recordsClosed ? m_services.recordsClosed() : 1;
    // The login window of "login as another user" is open: this login was closed provisionally
    // when it opened. The close is confirmed now, so that cancelling that window cannot bring
    // the evicted login back to life with nobody behind it.
    if (m_session->loginWindowOpen()) {
        recordLogout(3, nullptr);
        closed += m_services.recordsClosed ? m_services.recordsClosed() : 0;
    }
    // The login has ended for good: if the new login is cancelled, nobody may go on working
    // with the evicted employee's rights.
    m_session->evicted();
    showLoggedOut();
    // Without an acknowledgement the server leaves the message and the new login to us.
    if (closed == 0)
        QTimer::singleShot(0, this, [this] { afterForcedLogout(); });
    return closed > 0;
}

void Tfrm_0Main::showLoggedOut()
{
    SharedValues &shared = m_services.shared;
    shared.EmpNo.clear();
    shared.EmpName.clear();
    for (ProjectId &project : shared.ProjectIds)
        project.right = -1;
    for (QList<RoleChoice> &choices : shared.RoleChoices)
        choices.clear();
    disableProjectButtons();
    m_wlbEmpName->setCaption(QString());
    m_wlbConnectTime->setCaption(QString());
}

void Tfrm_0Main::afterForcedLogout()
{
    // Requests that come close together end one login: one message and one new login serve
    // them all.
    if (m_followUp)
        return;
    m_followUp = true;
    const quint64 session = m_session->id();
    windowMessages().show(forcedLogoutText(), MessageIcon::Error);
    // A login window that is open already serves as the new login, and a login that has
    // succeeded meanwhile needs none.
    if (m_session->state() == SessionState::State::None && m_session->id() == session)
        sbtLoginClick();
    m_followUp = false;
}

bool Tfrm_0Main::FormCloseQuery()
{
    return CloseChildPrograms(m_services.windows, windowMessages(), true);
}

void Tfrm_0Main::closeEvent(QCloseEvent *event)
{
    const quint64 session = m_session->id();
    // A question answered for a session that has been evicted meanwhile closes nothing.
    if (!FormCloseQuery() || !m_session->stillCurrent(session)) {
        event->ignore();
        return;
    }
    event->accept();
    m_session->beginEnding();
    Q_EMIT shellClosed();
}

void Tfrm_0Main::FormDestroy()
{
    if (m_destroyed)
        return;
    m_destroyed = true;
    // The final logout never stops the program from ending, also without a database.
    recordLogout(1, nullptr);
    if (m_tcpServer) {
        m_tcpServer->close();
        m_tcpServer.reset();
    }
    delete m_imgBackground;
    m_imgBackground = nullptr;
    delete m_imgMinimize;
    m_imgMinimize = nullptr;
    delete m_imgClose;
    m_imgClose = nullptr;
    for (int i = m_imgProjects.size() - 1; i >= 0; --i)
        delete m_imgProjects.at(i);
    m_imgProjects.clear();
    m_services.shared.ProjectIds.clear();
    m_services.shared.ProjectKeys.clear();
}
