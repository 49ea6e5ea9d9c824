#include "tst_mainwindow_harness.h"

#include "db/sqldialect.h"
#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "fakepelfunction.h"
#include "fakewindowsystem.h"
#include "platform/cp949.h"
#include "platform/imagelibrarywriter.h"
#include "platform/profilefile.h"
#include "session/tfrm_ah120.h"
#include <QComboBox>
#include "shared/sharedvalues.h"
#include "widgets/tpelimage.h"
#include "update/tfrm_bh010.h"
#include "update/updatewatch.h"
#include "widgets/twlabel.h"

#include "orsaconfig.h"

#include <QDir>
#include <QGuiApplication>
#include <QLocale>
#include <QScopeGuard>
#include <QScreen>
#include <QFile>
#include <QPainter>
#include <QPushButton>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QApplication>

#include <memory>

namespace {

const char *const ParameterText = "파라미터를 잘못 입력하셨습니다.\r바로가기로 프로그램을 실행하십시오.";
const char *const AlreadyConnectedText =
    "프로그램 시작시 이미 DB에 접속되어 있습니다.\r문제가 발생할 수 있으므로 개발자에게 연락하십시오.";
const char *const LibraryText = "MainImg.dll 파일이 손상되었습니다.";
const char *const NoDatabaseText =
    "접속할 데이터베이스 지정이 되어있지 않습니다.\rMain.ini 파일 환경 설정을 확인하십시오.";
const char *const ForcedText =
    "다른 PC에서 동일 사용자가 프로그램 종료를 요청했습니다.\r"
    "자신의 ID로 접속하시고 비밀번호는 다른 사람에게 알려주지 마십시오.\r"
    "같은 문제가 계속 발생할 경우 전산팀에 문의하십시오.";

} // namespace

class tst_MainWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void layout_data();
    void layout();
    void hitTest_data();
    void hitTest();
    void pressOnEdgeDragsInsteadOfClicking();
    void connectTime_data();
    void connectTime();
    void buttonsAfterLogin();
    void logoutCalls_data();
    void logoutCalls();
    void startupFailures_data();
    void startupFailures();
    void alreadyConnectedAtCreation();
    void portInUse_data();
    void portInUse();
    void localIpTowardsDatabase_data();
    void localIpTowardsDatabase();
    void launch_data();
    void launch();
    void launchCommandLineIsExact();
    void teamRole_data();
    void teamRole();
    void remoteControl_data();
    void remoteControl();
    void restore_data();
    void restore();
    void closeQuery();
    void forcedLogoutEndsSession();
    void forcedLogoutWithoutDatabase();
    void forcedLogoutWithLoginOpen();
    void startPageRequestedOnce();
    void updateUrl_data();
    void updateUrl();
    void updateNoticeForNewerProgram();
    void netServiceNamesCopied();
    void updateNoticeStaysHidden();

private:
    QByteArray m_clusterServiceFile;   // the test cluster's, before the empty one replaces it
};

void tst_MainWindow::initTestCase()
{
    // The login time must read the same under any locale of the machine.
    QLocale::setDefault(QLocale(QLocale::English, QLocale::UnitedStates));
    // A failed connection is tried against a service file without the service: no network.
    m_clusterServiceFile = qgetenv("PGSERVICEFILE");
    static QTemporaryDir serviceDir;
    QFile services(serviceDir.filePath(QStringLiteral("pg_service.conf")));
    QVERIFY(services.open(QIODevice::WriteOnly));
    services.close();
    qputenv("PGSERVICEFILE", services.fileName().toLocal8Bit());
}

void tst_MainWindow::layout_data()
{
    QTest::addColumn<QSize>("picture");
    QTest::addColumn<QRect>("screen");
    QTest::addColumn<QPoint>("windowPos");
    QTest::addColumn<int>("labelTop");
    QTest::addColumn<int>("verLeft");
    QTest::addColumn<int>("commentWidth");

    QTest::newRow("640x160 on 1024x768") << QSize(640, 160) << QRect(0, 0, 1024, 768)
                                         << QPoint(192, 304) << 135 << 535 << 72;
    QTest::newRow("wider than the screen") << QSize(1100, 200) << QRect(0, 0, 1024, 768)
                                           << QPoint(-38, 284) << 175 << 995 << 532;
    // The signed difference -1 halves to 0, not to -1.
    QTest::newRow("one pixel too wide") << QSize(1025, 160) << QRect(0, 0, 1024, 768)
                                        << QPoint(0, 304) << 135 << 920 << 457;
    QTest::newRow("second screen") << QSize(640, 160) << QRect(1024, 0, 800, 600)
                                   << QPoint(1104, 220) << 135 << 535 << 72;
}

void tst_MainWindow::layout()
{
    QFETCH(QSize, picture);
    QFETCH(QRect, screen);
    QFETCH(QPoint, windowPos);
    QFETCH(int, labelTop);
    QFETCH(int, verLeft);
    QFETCH(int, commentWidth);

    Installation install;
    install.background = picture;
    install.write();
    Harness h;
    h.screen = screen;
    Tfrm_0Main *w = h.create(install.path());

    QCOMPARE(w->size(), picture);
    QCOMPARE(w->pos(), windowPos);
    for (TwLabel *label : {w->wlbEnv(), w->wlbEmpName(), w->wlbConnectTime(), w->wlbComment(), w->wlbVer()})
        QCOMPARE(label->y(), labelTop);
    QCOMPARE(w->wlbVer()->x(), verLeft);
    QCOMPARE(w->wlbComment()->width(), commentWidth);
    QCOMPARE(w->wlbComment()->x(), 462);
    QCOMPARE(w->wlbVer()->width(), 100);
    QCOMPARE(w->wlbEnv()->caption(), QStringLiteral("데모 환경"));
    QCOMPARE(w->wlbVer()->caption(), QStringLiteral("v2025.3.19.0"));
    QCOMPARE(w->sbtControl()->geometry(), QRect(20, 84, 167, 31));
    QCOMPARE(w->sbtLogin()->geometry(), QRect(450, 84, 167, 31));
    QCOMPARE(w->windowTitle(), QStringLiteral("Main"));
    QCOMPARE(h.fakeWindows.classOf(w), QStringLiteral("Tfrm_0Main"));
    QVERIFY(w->windowFlags() & Qt::FramelessWindowHint);
    // Nobody logged in: every project button shows its disabled picture and does nothing.
    for (TPelImage *button : w->imgProjects()) {
        if (!button)
            continue;
        QVERIFY(!button->NormalMode());
        QCOMPARE(button->Picture(), button->DisabledPicture());
        QCOMPARE(button->cursor().shape(), Qt::ArrowCursor);
        Q_EMIT button->clicked();
    }
    QVERIFY(h.programs.created.isEmpty());
}

void tst_MainWindow::hitTest_data()
{
    QTest::addColumn<QString>("mainSection");
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<int>("expected");

    const QString withAreas = Installation().mainSection;
    const QString withoutAreas = QStringLiteral("TITLE=t\r\nDATABASE=orsa\r\nIMAGE_WIDTH=96\r\nIMAGE_HEIGHT=40\r\n");
    const int client = Tfrm_0Main::HTCLIENT;
    const int caption = Tfrm_0Main::HTCAPTION;
    // sbtLogin: 450,84 167x31; ORSA_A: 204,32 96x40; CLOSE: 616,6 16x16.
    QTest::newRow("background") << withAreas << QPoint(5, 5) << caption;
    QTest::newRow("status label") << withAreas << QPoint(200, 140) << caption;
    QTest::newRow("inside the login button") << withAreas << QPoint(451, 85) << client;
    QTest::newRow("login button left edge") << withAreas << QPoint(450, 100) << caption;
    QTest::newRow("login button top edge") << withAreas << QPoint(500, 84) << caption;
    QTest::newRow("login button last column") << withAreas << QPoint(616, 100) << client;
    QTest::newRow("right of the login button") << withAreas << QPoint(617, 100) << caption;
    QTest::newRow("login button bottom") << withAreas << QPoint(500, 115) << caption;
    QTest::newRow("remote-control button") << withAreas << QPoint(100, 100) << client;
    QTest::newRow("project button left edge") << withAreas << QPoint(204, 50) << caption;
    QTest::newRow("inside a project button") << withAreas << QPoint(205, 50) << client;
    QTest::newRow("empty project slot") << withAreas << QPoint(420, 50) << caption;
    QTest::newRow("close area") << withAreas << QPoint(620, 10) << client;
    QTest::newRow("close area edge") << withAreas << QPoint(616, 10) << caption;
    QTest::newRow("minimise area") << withAreas << QPoint(600, 10) << client;
    QTest::newRow("no close area") << withoutAreas << QPoint(620, 10) << caption;
    QTest::newRow("no minimise area") << withoutAreas << QPoint(600, 10) << caption;
}

void tst_MainWindow::hitTest()
{
    QFETCH(QString, mainSection);
    QFETCH(QPoint, point);
    QFETCH(int, expected);

    Installation install;
    install.mainSection = mainSection;
    install.write();
    Harness h;
    Tfrm_0Main *w = h.create(install.path());
    QCOMPARE(w->hitTest(point), expected);
}

void tst_MainWindow::pressOnEdgeDragsInsteadOfClicking()
{
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));
    const int loginsBefore = h.loginsShown;

    // The edge pixel of the button belongs to the drag handle: the press never reaches it.
    QTest::mouseClick(w->sbtLogin(), Qt::LeftButton, {}, QPoint(0, 15));
    QCOMPARE(h.loginsShown, loginsBefore);
    const QPoint before = w->pos();
    QTest::mouseClick(w->sbtLogin(), Qt::LeftButton, {}, QPoint(5, 15));
    QCOMPARE(h.loginsShown, loginsBefore + 1);
    QCOMPARE(w->pos(), before);
}

void tst_MainWindow::connectTime_data()
{
    QTest::addColumn<QDateTime>("time");
    QTest::addColumn<QString>("expected");

    QTest::newRow("afternoon") << QDateTime(QDate(2006, 3, 1), QTime(15, 7))
                               << QStringLiteral("접속 : 2006-03-01 오후 3:07");
    QTest::newRow("just after midnight") << QDateTime(QDate(2006, 3, 1), QTime(0, 5))
                                         << QStringLiteral("접속 : 2006-03-01 오전 12:05");
    QTest::newRow("noon") << QDateTime(QDate(2006, 12, 31), QTime(12, 0))
                          << QStringLiteral("접속 : 2006-12-31 오후 12:00");
    QTest::newRow("before noon") << QDateTime(QDate(2025, 1, 9), QTime(11, 59, 59))
                                 << QStringLiteral("접속 : 2025-01-09 오전 11:59");
    QTest::newRow("one digit hour") << QDateTime(QDate(2025, 10, 10), QTime(9, 0))
                                    << QStringLiteral("접속 : 2025-10-10 오전 9:00");
    QTest::newRow("late evening") << QDateTime(QDate(2025, 10, 10), QTime(23, 45))
                                  << QStringLiteral("접속 : 2025-10-10 오후 11:45");
}

void tst_MainWindow::connectTime()
{
    QFETCH(QDateTime, time);
    QFETCH(QString, expected);
    QCOMPARE(connectTimeCaption(time), expected);
}

void tst_MainWindow::buttonsAfterLogin()
{
    Installation install;
    install.write();
    Harness h;
    // 프런트 0, 객실관리 -1, 예약 (no button) 1, 회계 2
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, -1, 1, 2},
              {{}, {}, {}, {{QStringLiteral("회계팀"), 4}}});
    h.now = QDateTime(QDate(2006, 3, 1), QTime(0, 5));
    QFile updater(install.dir.filePath(QStringLiteral("PelUpdate.exe")));
    QVERIFY(updater.open(QIODevice::WriteOnly));
    updater.close();
    Tfrm_0Main *w = h.create(install.path());

    const QList<TPelImage *> buttons = w->imgProjects();
    QCOMPARE(buttons.size(), 4);
    QVERIFY(buttons.at(2) == nullptr);
    QCOMPARE(h.shared.ProjectIds.at(2).id, QStringLiteral("예약"));
    QCOMPARE(h.shared.ProjectKeys, QStringList({QStringLiteral("프런트"), QStringLiteral("객실관리"),
                                                QStringLiteral("예약"), QStringLiteral("회계")}));
    const QList<int> tags{0, -1, 0, 2};
    const QList<bool> normal{true, false, false, true};
    for (int i : {0, 1, 3}) {
        QCOMPARE(buttons.at(i)->tag(), tags.at(i));
        QCOMPARE(buttons.at(i)->NormalMode(), normal.at(i));
        QCOMPARE(buttons.at(i)->cursor().shape(), normal.at(i) ? Qt::PointingHandCursor : Qt::ArrowCursor);
        QCOMPARE(buttons.at(i)->size(), QSize(96, 40));
    }
    QCOMPARE(buttons.at(0)->hint(), QStringLiteral("ORSA_A"));
    QCOMPARE(buttons.at(3)->pos(), QPoint(516, 32));
    QCOMPARE(w->wlbEmpName()->caption(), QStringLiteral("홍길동"));
    QCOMPARE(w->wlbConnectTime()->caption(), QStringLiteral("접속 : 2006-03-01 오전 12:05"));

    // A button without the right does nothing; one with it starts its project.
    Q_EMIT buttons.at(1)->clicked();
    QVERIFY(h.programs.created.isEmpty());
    Q_EMIT buttons.at(0)->clicked();
    QCOMPARE(h.programs.created.size(), 1);
    QVERIFY(h.programs.created.first().contains(QStringLiteral("\"ORSA_A.exe\"")));
    Q_EMIT buttons.at(3)->clicked();
    QCOMPARE(h.programs.created.size(), 2);
    QVERIFY(h.programs.created.last().contains(QStringLiteral("\"ORSA_D.exe\" orsa orsa_demo 1001 홍길동")));
    QVERIFY(h.messages.shown.isEmpty());
}

void tst_MainWindow::logoutCalls_data()
{
    QTest::addColumn<bool>("firstLogin");
    QTest::addColumn<bool>("again");        // sbtLogin pressed after the first login
    QTest::addColumn<bool>("secondLogin");
    QTest::addColumn<QList<int>>("kinds");
    QTest::addColumn<bool>("terminates");
    QTest::addColumn<QString>("empName");

    QTest::newRow("first login ok") << true << false << false << QList<int>{2, 3} << false
                                    << QStringLiteral("A");
    QTest::newRow("first login cancelled") << false << false << false << QList<int>{2, 4} << true
                                           << QString();
    QTest::newRow("another user ok") << true << true << true << QList<int>{2, 3, 2, 3} << false
                                     << QStringLiteral("B");
    QTest::newRow("another user cancelled") << true << true << false << QList<int>{2, 3, 2, 4}
                                            << false << QStringLiteral("A");
}

void tst_MainWindow::logoutCalls()
{
    QFETCH(bool, firstLogin);
    QFETCH(bool, again);
    QFETCH(bool, secondLogin);
    QFETCH(QList<int>, kinds);
    QFETCH(bool, terminates);
    QFETCH(QString, empName);

    Installation install;
    install.write();
    Harness h;
    QList<int> atLoginShown;
    int logins = 0;
    h.login = [&](QWidget *) {
        atLoginShown.append(h.logouts.size());
        ++logins;
        const bool ok = logins == 1 ? firstLogin : secondLogin;
        if (ok) {
            h.shared.EmpNo = logins == 1 ? QStringLiteral("A") : QStringLiteral("B");
            h.shared.EmpName = h.shared.EmpNo;
            for (ProjectId &p : h.shared.ProjectIds)
                p.right = logins == 1 ? 0 : -1;
        }
        return ok;
    };
    Tfrm_0Main *w = h.create(install.path());
    QCOMPARE(h.messages.terminationPending(), !firstLogin);
    if (again) {
        w->show();
        // Two child programs run when somebody else logs in.
        const WindowId b = h.fakeWindows.addWindow(QStringLiteral("TfrmB0Main"));
        const WindowId c = h.fakeWindows.addWindow(QStringLiteral("TfrmC0Main"));
        w->sbtLogin()->click();
        QCOMPARE(h.fakeWindows.contains(b), !secondLogin);
        QCOMPARE(h.fakeWindows.contains(c), !secondLogin);
        QCOMPARE(w->imgProjects().at(0)->NormalMode(), !secondLogin);
    }
    QCOMPARE(h.logouts, kinds);
    QCOMPARE(h.messages.terminationPending(), terminates);
    // Kind 2 is recorded before the login window shows.
    for (int count : atLoginShown)
        QCOMPARE(h.logouts.at(count - 1), 2);
    QCOMPARE(w->wlbEmpName()->caption(), empName);
    QVERIFY(h.messages.shown.isEmpty());
}

void tst_MainWindow::startupFailures_data()
{
    QTest::addColumn<QStringList>("arguments");
    QTest::addColumn<QString>("library");   // "ok", "missing", "corrupt"
    QTest::addColumn<QStringList>("leftOut");
    QTest::addColumn<QString>("mainSection");
    QTest::addColumn<bool>("realDatabase");
    QTest::addColumn<QStringList>("texts");  // exact texts; an entry ending in "*" is a prefix
    QTest::addColumn<int>("loginsShown");

    const QStringList account{QStringLiteral("orsa_demo")};
    const QString main = Installation().mainSection;
    const QString noDatabase = QStringLiteral("TITLE=t\r\nDATABASE=\r\nIMAGE_WIDTH=96\r\nIMAGE_HEIGHT=40\r\n");
    const QString unknownService = QStringLiteral(
        "TITLE=t\r\nDRIVER=POSTGRESQL\r\nDATABASE=orsa_no_such_service\r\nIMAGE_WIDTH=96\r\nIMAGE_HEIGHT=40\r\n");
    const QString badRectangle = QStringLiteral("TITLE=t\r\nDATABASE=orsa\r\nCLOSE=616 ,6,16,16\r\n");

    QTest::newRow("no parameter") << QStringList() << "ok" << QStringList() << main << false
                                  << QStringList{QString::fromUtf8(ParameterText)} << 0;
    QTest::newRow("two parameters") << QStringList{QStringLiteral("a"), QStringLiteral("b")} << "ok"
                                    << QStringList() << main << false
                                    << QStringList{QString::fromUtf8(ParameterText)} << 0;
    QTest::newRow("library missing") << account << "missing" << QStringList() << main << true
                                     << QStringList{QString::fromUtf8(LibraryText)} << 0;
    QTest::newRow("library corrupt") << account << "corrupt" << QStringList() << main << true
                                     << QStringList{QString::fromUtf8(LibraryText)} << 0;
    QTest::newRow("background missing")
        << account << "ok" << QStringList{QStringLiteral("MAIN")} << main << false
        << QStringList{QStringLiteral("MainImg.dll 파일에 그림 \"MAIN\"이(가) 없습니다.")} << 0;
    QTest::newRow("active picture missing")
        << account << "ok" << QStringList{QStringLiteral("ORSA_BA")} << main << false
        << QStringList{QStringLiteral("MainImg.dll 파일에 그림 \"ORSA_BA\"이(가) 없습니다.")} << 0;
    QTest::newRow("bad Main.ini value")
        << account << "ok" << QStringList() << badRectangle << false
        << QStringList{QStringLiteral("*[MAIN] CLOSE 값 \"616 ,6,16,16\"*")} << 0;
    QTest::newRow("empty DATABASE") << account << "ok" << QStringList() << noDatabase << true
                                    << QStringList{QString::fromUtf8(NoDatabaseText)} << 0;
    QTest::newRow("failed connection")
        << account << "ok" << QStringList() << unknownService << true
        << QStringList{QStringLiteral("데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r*")} << 0;
    QTest::newRow("first login cancelled") << account << "ok" << QStringList() << main << false
                                           << QStringList() << 1;
}

void tst_MainWindow::startupFailures()
{
    QFETCH(QStringList, arguments);
    QFETCH(QString, library);
    QFETCH(QStringList, leftOut);
    QFETCH(QString, mainSection);
    QFETCH(bool, realDatabase);
    QFETCH(QStringList, texts);
    QFETCH(int, loginsShown);

    Installation install;
    install.mainSection = mainSection;
    install.leftOut = leftOut;
    install.writeLibrary = library == QLatin1String("ok");
    install.write();
    if (library == QLatin1String("corrupt")) {
        QFile dll(install.dir.filePath(QStringLiteral("MainImg.dll")));
        QVERIFY(dll.open(QIODevice::WriteOnly));
        dll.write(QByteArray("MZ\x90\x00 this is no picture library", 32));
    }
    Harness h;
    h.arguments = arguments;
    h.fakeDatabase = !realDatabase;
    h.create(install.path());

    QVERIFY(h.messages.terminationPending());
    QCOMPARE(h.loginsShown, loginsShown);
    QCOMPARE(h.messages.shown.size(), texts.size());
    for (int i = 0; i < texts.size(); ++i) {
        const QString expected = texts.at(i);
        const QString actual = h.messages.shown.at(i).text;
        if (expected.endsWith(QLatin1Char('*'))) {
            const QString prefix = expected.chopped(1);
            if (prefix.startsWith(QLatin1Char('*')))
                QVERIFY2(actual.contains(prefix.mid(1)), qPrintable(actual));
            else
                QVERIFY2(actual.startsWith(prefix), qPrintable(actual));
        } else {
            QCOMPARE(actual, expected);
        }
        QCOMPARE(h.messages.shown.at(i).icon, MessageIcon::Error);
    }
    // Nothing that needs a database or a user happened once the start-up had failed.
    QVERIFY(h.machine.clockSettings.isEmpty());
    QVERIFY(!h.db.connected());
}

// A connection left open before the creation is reported, closed, and the start-up goes on.
void tst_MainWindow::alreadyConnectedAtCreation()
{
    const QString service = qEnvironmentVariable("ORSA_TEST_PGSERVICE");
    if (service.isEmpty() || m_clusterServiceFile.isEmpty())
        QSKIP("needs the PostgreSQL cluster that scripts/test starts");
    const QByteArray emptyServiceFile = qgetenv("PGSERVICEFILE");
    qputenv("PGSERVICEFILE", m_clusterServiceFile);
    const auto restore = qScopeGuard([&] { qputenv("PGSERVICEFILE", emptyServiceFile); });
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    h.db.setDialect(SqlDialect::PostgreSql);
    h.db.setConnectionParameters(service, QStringLiteral("orsa_demo"), QStringLiteral("orsa_demo"));
    QVERIFY2(h.db.ConnectDB(), qPrintable(h.messages.texts().join(QLatin1Char('|'))));
    Tfrm_0Main *w = h.create(install.path());

    QCOMPARE(h.messages.shown.size(), 1);
    QCOMPARE(h.messages.shown.first().text, QString::fromUtf8(AlreadyConnectedText));
    QCOMPARE(h.messages.shown.first().icon, MessageIcon::Error);
    QCOMPARE(h.messages.shown.first().buttons, MessageButtons::Ok);
    // The start-up stand-in of this harness does not connect again.
    QVERIFY(!h.db.connected());
    QVERIFY(!h.messages.terminationPending());
    QCOMPARE(h.loginsShown, 1);
    QCOMPARE(w->wlbEmpName()->caption(), QStringLiteral("홍길동"));
    QVERIFY(w->listening());
}

void tst_MainWindow::portInUse_data()
{
    QTest::addColumn<int>("freedAfterMs");  // -1: the port stays taken

    QTest::newRow("stays taken") << -1;
    // A shell closed a moment ago, still recording its final logout.
    QTest::newRow("freed while the start-up waits") << 300;
}

void tst_MainWindow::portInUse()
{
    QFETCH(int, freedAfterMs);

    QTcpServer occupier;
    QVERIFY(occupier.listen(QHostAddress::Any, 0));
    const quint16 port = occupier.serverPort();
    if (freedAfterMs >= 0)
        QTimer::singleShot(freedAfterMs, &occupier, &QTcpServer::close);
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    h.window = std::make_unique<Tfrm_0Main>([&] {
        MainWindowServices s = h.services(install.path());
        s.peerPort = port;
        s.peerPortWaitMs = 1500;
        return s;
    }());
    h.window->FormCreate();

    if (freedAfterMs >= 0) {
        QVERIFY2(h.messages.shown.isEmpty(), qPrintable(h.messages.texts().join(u'|')));
        QVERIFY(h.window->listening());
        QCOMPARE(h.loginsShown, 1);
        QTcpSocket peer;
        peer.connectToHost(QHostAddress::LocalHost, port);
        QVERIFY(peer.waitForConnected(3000));
        return;
    }
    QVERIFY(h.messages.terminationPending());
    QCOMPARE(h.messages.shown.size(), 1);
    const QString text = h.messages.shown.first().text;
    QVERIFY2(text.startsWith(QStringLiteral("다른 PC의 로그아웃 요청을 받을 TCP 포트 %1을(를) 열 수 없습니다.\r\r에러내용 :\r")
                                 .arg(occupier.serverPort())),
             qPrintable(text));
    QVERIFY(text.size() > 60);  // the reason follows
    QCOMPARE(h.loginsShown, 0);
    QVERIFY(!h.window->listening());
}

void tst_MainWindow::localIpTowardsDatabase_data()
{
    QTest::addColumn<QString>("driver");
    QTest::addColumn<QString>("database");
    QTest::addColumn<QString>("services");  // the libpq service file
    QTest::addColumn<QString>("host");      // handed to the machine services before GetLocalIP

    QTest::newRow("service on another host") << QStringLiteral("POSTGRESQL") << QStringLiteral("orsa")
                                             << QStringLiteral("[orsa]\nhostaddr=10.44.0.7\n")
                                             << QStringLiteral("10.44.0.7");
    QTest::newRow("service on a Unix socket") << QStringLiteral("POSTGRESQL") << QStringLiteral("orsa")
                                              << QStringLiteral("[orsa]\nhost=/run/pg\n") << QString();
    QTest::newRow("oracle easy connect") << QStringLiteral("ORACLE") << QStringLiteral("10.45.0.8:1521/orsa")
                                         << QString() << QStringLiteral("10.45.0.8");
}

// The workstation's address is the one of the route towards the database server: the start-up
// hands the server's host to the machine services before it asks for the address.
void tst_MainWindow::localIpTowardsDatabase()
{
    QFETCH(QString, driver);
    QFETCH(QString, database);
    QFETCH(QString, services);
    QFETCH(QString, host);

    QTemporaryDir dir;
    QFile file(dir.filePath(QStringLiteral("pg_service.conf")));
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(services.toUtf8());
    file.close();
    const QByteArray previous = qgetenv("PGSERVICEFILE");
    qputenv("PGSERVICEFILE", QFile::encodeName(file.fileName()));
    const auto restore = qScopeGuard([&] { qputenv("PGSERVICEFILE", previous); });

    Installation install;
    install.mainSection = QStringLiteral("TITLE=오르사\r\nDATABASE=") + database + QStringLiteral("\r\nDRIVER=")
        + driver + QStringLiteral("\r\n");
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    h.create(install.path());
    QCOMPARE(h.machine.localIpCalls, 1);
    QCOMPARE(h.machine.databaseHostAtLocalIp, host);
}

void tst_MainWindow::launch_data()
{
    QTest::addColumn<bool>("updaterThere");
    QTest::addColumn<int>("running");
    QTest::addColumn<bool>("starts");
    QTest::addColumn<QString>("message");
    QTest::addColumn<bool>("minimised");
    // UPDATE_EXE of Main.ini; null: the key is absent. A value other than empty is made a folder.
    QTest::addColumn<QString>("updateExe");

    QTest::newRow("starts") << true << 2 << true << QString() << true << QString();
    QTest::newRow("updater missing") << false << 0 << true
                                     << QStringLiteral("실행 파일(PelUpdate.exe)이 없습니다.") << false
                                     << QString();
    QTest::newRow("too many running") << true << 3 << true
                                      << QStringLiteral("실행 중인 프로젝트가 너무 많습니다.\r"
                                                        "기존에 실행 중인 프로젝트를 종료하고 다시 실행하십시오.")
                                      << false << QString();
    QTest::newRow("cannot start") << true << 0 << false
                                  << QStringLiteral("프로그램 파일이 손상되었거나 실행할 수 없습니다.") << false
                                  << QString();
    QTest::newRow("UPDATE_EXE empty") << true << 0 << true << QStringLiteral("실행 파일()이 없습니다.")
                                      << false << QStringLiteral("");
    QTest::newRow("UPDATE_EXE names a folder") << true << 0 << true
                                               << QStringLiteral("실행 파일(Update)이 없습니다.") << false
                                               << QStringLiteral("Update");
}

void tst_MainWindow::launch()
{
    QFETCH(bool, updaterThere);
    QFETCH(int, running);
    QFETCH(bool, starts);
    QFETCH(QString, message);
    QFETCH(bool, minimised);
    QFETCH(QString, updateExe);

    Installation install;
    if (!updateExe.isNull()) {
        install.mainSection += QStringLiteral("UPDATE_EXE=") + updateExe + QStringLiteral("\r\n");
        if (!updateExe.isEmpty())
            QVERIFY(QDir(install.dir.path()).mkdir(updateExe));
    }
    install.write();
    if (updaterThere) {
        // Installed from Windows: the letters' case differs from UPDATE_EXE.
        QFile updater(install.dir.filePath(QStringLiteral("PELUPDATE.EXE")));
        QVERIFY(updater.open(QIODevice::WriteOnly));
    }
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍 길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    for (int i = 0; i < running; ++i)
        h.fakeWindows.addWindow(QStringLiteral("Tfrm") + QChar(u'K' + i) + QStringLiteral("0Main"));
    h.programs.succeeds = starts;
    w->LaunchProgram(QStringLiteral("ORSA_B.exe"));

    if (message.isEmpty()) {
        QVERIFY(h.messages.shown.isEmpty());
        QCOMPARE(h.programs.created.size(), 1);
        QCOMPARE(h.programs.created.first(),
                 QLatin1Char('"') + QDir::toNativeSeparators(install.dir.filePath(QStringLiteral("PELUPDATE.EXE")))
                     + QStringLiteral("\" \"ORSA_B.exe\" orsa orsa_demo 1001 홍 길동"));
    } else {
        QCOMPARE(h.messages.texts(), QStringList{message});
        QCOMPARE(h.messages.shown.first().caption, QStringLiteral("오르사 통합시스템"));
    }
    QCOMPARE(w->isMinimized(), minimised);
}

void tst_MainWindow::launchCommandLineIsExact()
{
    QCOMPARE(launchCommandLine(QStringLiteral("D:\\App\\PelUpdate.exe"), QStringLiteral("ORSA_B.exe"),
                               QStringLiteral("PROD"), QStringLiteral("orsa"), QStringLiteral("1234"),
                               QStringLiteral("홍길동")),
             QStringLiteral("\"D:\\App\\PelUpdate.exe\" \"ORSA_B.exe\" PROD orsa 1234 홍길동"));
    // Empty values leave their blanks side by side.
    QCOMPARE(launchCommandLine(QStringLiteral("/a/PelUpdate.exe"), QStringLiteral("x.exe"), QString(),
                               QStringLiteral("acc"), QString(), QString()),
             QStringLiteral("\"/a/PelUpdate.exe\" \"x.exe\"  acc  "));
}

void tst_MainWindow::teamRole_data()
{
    QTest::addColumn<QStringList>("roles");     // "code|name" per granted role of 회계
    QTest::addColumn<QString>("outcome");       // what the user does with the dialog
    QTest::addColumn<bool>("dialogShown");
    QTest::addColumn<bool>("launched");
    QTest::addColumn<QString>("message");
    QTest::addColumn<QString>("code");          // Code of the role file afterwards; empty: as before

    const QString noRole = QStringLiteral("프로젝트 사용 권한(소속 권한)이 없습니다.\r전산팀에 문의하십시오.");
    QTest::newRow("no role: refused") << QStringList() << "" << false << false << noRole << "";
    QTest::newRow("one role: no dialog") << QStringList{QStringLiteral("4|회계팀")} << "" << false << true
                                         << QString() << "4";
    QTest::newRow("two roles confirmed") << QStringList{QStringLiteral("4|회계팀"), QStringLiteral("5|감사팀")}
                                         << "ok" << true << true << QString() << "0";
    QTest::newRow("two roles closed") << QStringList{QStringLiteral("4|회계팀"), QStringLiteral("5|감사팀")}
                                      << "close" << true << true << QString() << "";
    QTest::newRow("three roles, second chosen")
        << QStringList{QStringLiteral("4|회계팀"), QStringLiteral("5|감사팀"), QStringLiteral("6|자금팀")}
        << "second" << true << true << QString() << "5";
    QTest::newRow("forced logout while the dialog is open")
        << QStringList{QStringLiteral("4|회계팀"), QStringLiteral("5|감사팀")} << "forced" << true << false
        << QString() << "";
    QTest::newRow("role file cannot be written")
        << QStringList{QStringLiteral("4|회계팀")} << "unwritable" << false << false
        << QStringLiteral("권한 파일(ORSA_D.ini)을 저장하지 못했습니다.\r\r에러내용 :\r") << "";
}

void tst_MainWindow::teamRole()
{
    QFETCH(QStringList, roles);
    QFETCH(QString, outcome);
    QFETCH(bool, dialogShown);
    QFETCH(bool, launched);
    QFETCH(QString, message);
    QFETCH(QString, code);

    Installation install;
    install.write();
    QFile updater(install.dir.filePath(QStringLiteral("PelUpdate.exe")));
    QVERIFY(updater.open(QIODevice::WriteOnly));
    updater.close();
    const QString roleFile = install.dir.filePath(QStringLiteral("ORSA_D.ini"));
    if (outcome == QLatin1String("unwritable")) {
        QVERIFY(QDir(install.dir.path()).mkdir(QStringLiteral("ORSA_D.ini")));
    } else {
        QFile previous(roleFile);
        QVERIFY(previous.open(QIODevice::WriteOnly));
        previous.write("[Role]\r\nType=2\r\nCode=99\r\nName=x\r\n");
    }
    QList<RoleChoice> granted;
    for (const QString &role : roles)
        granted.append({role.section(QLatin1Char('|'), 1), role.section(QLatin1Char('|'), 0, 0).toInt()});

    Harness h;
    // 회계 (ORSA_D, at 516,32 near the right edge) runs under team roles of type 2.
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 2}, {{}, {}, {}, granted});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    QVERIFY(QTest::qWaitForWindowExposed(w));

    bool shown = false;
    QPoint shownAt;
    QString shownClass;
    QTimer answer;
    answer.setSingleShot(true);
    connect(&answer, &QTimer::timeout, this, [&] {
        auto *dialog = qobject_cast<Tfrm_AH120 *>(QApplication::activeModalWidget());
        if (!dialog)
            return;
        shown = true;
        shownAt = dialog->pos();
        shownClass = h.fakeWindows.classOf(dialog);
        QVERIFY(h.programs.created.isEmpty());
        if (outcome == QLatin1String("second"))
            dialog->cbbTeamRole()->setCurrentIndex(2);
        if (outcome == QLatin1String("forced")) {
            // Another workstation takes the login over while the role is being chosen.
            QVERIFY(w->forcedLogout());
            dialog->imgOKClick();
        } else if (outcome == QLatin1String("close"))
            dialog->close();
        else
            dialog->imgOKClick();
    });
    answer.start(0);
    Q_EMIT w->imgProjects().at(3)->clicked();

    QCOMPARE(h.teamRolesCreated, 1);
    QCOMPARE(h.teamRoleOwner, w);
    QCOMPARE(shown, dialogShown);
    if (shown) {
        QCOMPARE(shownClass, QStringLiteral("Tfrm_AH120"));
        // Under the button, its right edge 5 pixels inside the main window's.
        QCOMPARE(shownAt, QPoint(w->geometry().left() + w->width() - 300 - 5, w->geometry().top() + 32 + 40 + 2));
    }
    QCOMPARE(h.programs.created.size(), launched ? 1 : 0);
    if (launched)
        QVERIFY(h.programs.created.first().contains(QStringLiteral("\"ORSA_D.exe\" orsa orsa_demo 1001 홍길동")));
    if (message.isEmpty()) {
        QVERIFY(h.messages.shown.isEmpty());
    } else {
        QCOMPARE(h.messages.shown.size(), 1);
        QVERIFY2(h.messages.shown.first().text.startsWith(message), qPrintable(h.messages.shown.first().text));
        QCOMPARE(h.messages.shown.first().icon, message.startsWith(QStringLiteral("권한 파일"))
                                                    ? MessageIcon::Error : MessageIcon::Warning);
        QCOMPARE(h.messages.shown.first().caption, QStringLiteral("오르사 통합시스템"));
    }
    if (outcome != QLatin1String("unwritable") && outcome != QLatin1String("forced")) {
        const ProfileFile file(roleFile);
        QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Code")),
                 code.isEmpty() ? QStringLiteral("99") : code);
        QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Type")), QStringLiteral("2"));
    }
}

void tst_MainWindow::remoteControl_data()
{
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<QStringList>("started");
    QTest::newRow("yes") << MessageAnswer::Yes << QStringList{QString::fromUtf8(ORSA_REMOTE_CONTROL)};
    QTest::newRow("no") << MessageAnswer::No << QStringList();
}

void tst_MainWindow::remoteControl()
{
    QFETCH(MessageAnswer, answer);
    QFETCH(QStringList, started);
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    h.messages.answers = {answer};
    w->sbtControl()->click();
    QCOMPARE(h.messages.shown.size(), 1);
    QCOMPARE(h.messages.shown.first().text, QStringLiteral("원격제어 요청 프로그램입니다.\r실행하시겠습니까?"));
    QCOMPARE(h.messages.shown.first().caption, QStringLiteral("Main"));
    QCOMPARE(h.messages.shown.first().icon, MessageIcon::Question);
    QCOMPARE(h.messages.shown.first().buttons, MessageButtons::YesNo);
    QCOMPARE(h.programs.executed, started);
}

void tst_MainWindow::restore_data()
{
    QTest::addColumn<int>("children");
    QTest::addColumn<bool>("restored");
    QTest::newRow("none") << 0 << true;
    QTest::newRow("one") << 1 << true;
    QTest::newRow("two windows of one class") << -2 << true;
    QTest::newRow("two") << 2 << false;
}

void tst_MainWindow::restore()
{
    QFETCH(int, children);
    QFETCH(bool, restored);
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    w->showMinimized();
    QVERIFY(w->isMinimized());
    if (children < 0) {
        for (int i = 0; i < -children; ++i)
            h.fakeWindows.addWindow(QStringLiteral("TfrmA0Main"));
    }
    for (int i = 0; i < children; ++i)
        h.fakeWindows.addWindow(QStringLiteral("Tfrm") + QChar(u'A' + i) + QStringLiteral("0Main"));
    QVERIFY(h.fakeWindows.watchedWindow == w);
    QVERIFY(h.fakeWindows.fireRestore());
    QCOMPARE(!w->isMinimized(), restored);
}

void tst_MainWindow::closeQuery()
{
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    QSignalSpy closed(w, &Tfrm_0Main::shellClosed);
    w->show();
    const WindowId child = h.fakeWindows.addWindow(QStringLiteral("TfrmA0Main"));
    h.messages.answers = {MessageAnswer::No};
    QVERIFY(!w->close());
    QVERIFY(w->isVisible());
    QCOMPARE(closed.count(), 0);
    QVERIFY(h.fakeWindows.contains(child));
    QCOMPARE(h.messages.shown.last().caption, QStringLiteral("Main"));

    h.messages.answers = {MessageAnswer::Yes};
    QVERIFY(w->close());
    QCOMPARE(closed.count(), 1);
    QVERIFY(!h.fakeWindows.contains(child));

    // The final logout goes before the listener stops.
    h.logouts.clear();
    h.window.reset();
    QCOMPARE(h.logouts, QList<int>{1});
    QVERIFY(h.shared.ProjectIds.isEmpty());
}

void tst_MainWindow::forcedLogoutEndsSession()
{
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 2, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    h.shared.RoleChoices[1].append({QStringLiteral("프런트 팀장"), 1});
    const WindowId child = h.fakeWindows.addWindow(QStringLiteral("TfrmA0Main"));
    h.logouts.clear();

    QVERIFY(w->forcedLogout());
    QVERIFY(!h.fakeWindows.contains(child));
    QCOMPARE(h.logouts, QList<int>{1});
    QVERIFY(h.messages.shown.isEmpty());  // no question about the child programs
    QVERIFY(h.shared.EmpNo.isEmpty());
    QVERIFY(h.shared.EmpName.isEmpty());
    for (const ProjectId &p : std::as_const(h.shared.ProjectIds))
        QCOMPARE(p.right, -1);
    QVERIFY(h.shared.RoleChoices.at(1).isEmpty());
    for (TPelImage *button : w->imgProjects()) {
        if (!button)
            continue;
        QVERIFY(!button->NormalMode());
        QCOMPARE(button->cursor().shape(), Qt::ArrowCursor);
        Q_EMIT button->clicked();
    }
    QVERIFY(h.programs.created.isEmpty());

    // The message, then a new login; cancelling it leaves nobody logged in.
    h.login = [](QWidget *) { return false; };
    const int before = h.loginsShown;
    w->afterForcedLogout();
    QCOMPARE(h.messages.texts(), QStringList{QString::fromUtf8(ForcedText)});
    QCOMPARE(h.messages.shown.first().icon, MessageIcon::Error);
    QCOMPARE(h.messages.shown.first().caption, QStringLiteral("오르사 통합시스템"));
    QCOMPARE(h.loginsShown, before + 1);
    QVERIFY(h.shared.EmpNo.isEmpty());
    QVERIFY(!w->imgProjects().at(0)->NormalMode());
    QVERIFY(!h.messages.terminationPending());
    QCOMPARE(w->wlbEmpName()->caption(), QString());
}

void tst_MainWindow::forcedLogoutWithoutDatabase()
{
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    h.logoutReachesDatabase = false;
    QVERIFY(!w->forcedLogout());
    QCOMPARE(h.shared.EmpNo, QStringLiteral("1001"));
}

void tst_MainWindow::forcedLogoutWithLoginOpen()
{
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    w->show();
    int nested = -1;
    bool openDuringRequest = false;
    h.login = [&](QWidget *) {
        // The request arrives while this login window is open.
        openDuringRequest = w->loginOpen();
        const int before = h.loginsShown;
        w->forcedLogout();
        w->afterForcedLogout();
        nested = h.loginsShown - before;
        return false;
    };
    w->sbtLogin()->click();
    QVERIFY(openDuringRequest);
    QCOMPARE(nested, 0);
    QCOMPARE(h.messages.texts(), QStringList{QString::fromUtf8(ForcedText)});
}

void tst_MainWindow::startPageRequestedOnce()
{
    QTcpServer web;
    QVERIFY(web.listen(QHostAddress::LocalHost, 0));
    QByteArray received;
    int connections = 0;
    connect(&web, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = web.nextPendingConnection()) {
            ++connections;
            connect(socket, &QTcpSocket::readyRead, this, [&received, socket] { received += socket->readAll(); });
        }
    });
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    h.startPage = QUrl(QStringLiteral("http://127.0.0.1:%1/rdviewer.html").arg(web.serverPort()));
    h.create(install.path());
    QTRY_VERIFY(received.contains("\r\n\r\n"));
    QVERIFY2(received.startsWith("GET /rdviewer.html HTTP/1.1\r\n"), received.constData());
    QTest::qWait(200);
    QCOMPARE(connections, 1);
}

void tst_MainWindow::updateUrl_data()
{
    QTest::addColumn<QString>("file");  // empty: no PelUpdate.ini
    QTest::addColumn<QString>("expected");
    QTest::newRow("no file") << QString() << QString();
    QTest::newRow("slash appended") << QStringLiteral("[SERVER]\r\nURL=http://127.0.0.1/upd\r\n")
                                    << QStringLiteral("http://127.0.0.1/upd/");
    QTest::newRow("slash kept") << QStringLiteral("[Server]\r\nurl=http://127.0.0.1/upd/\r\n")
                                << QStringLiteral("http://127.0.0.1/upd/");
    QTest::newRow("empty value") << QStringLiteral("[SERVER]\r\nURL=\r\n") << QString();
}

void tst_MainWindow::updateUrl()
{
    QFETCH(QString, file);
    QFETCH(QString, expected);
    Installation install;
    install.write();
    if (!file.isEmpty()) {
        QFile ini(install.dir.filePath(QStringLiteral("PelUpdate.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(Cp949::encode(file));
    }
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    QCOMPARE(w->UpdateUrl(), expected);
    QCOMPARE(w->updateWatch()->updateUrl(), expected);
    QVERIFY(w->tmrTimer()->isActive());
    QCOMPARE(w->tmrTimer()->interval(), 1000);
    QCOMPARE(w->UpdateExe(), QStringLiteral("PelUpdate.exe"));
    QCOMPARE(w->ProjectCount(), 3);
}

void tst_MainWindow::updateNoticeForNewerProgram()
{
    // A one-shot HTTP responder: every HEAD gets a Last-Modified an hour after the local file.
    const QDateTime local(QDate(2026, 3, 2), QTime(10, 0), Qt::LocalTime);
    QTcpServer server;
    QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    QList<QByteArray> requests;
    connect(&server, &QTcpServer::newConnection, &server, [&] {
        QTcpSocket *socket = server.nextPendingConnection();
        connect(socket, &QTcpSocket::readyRead, socket, [&requests, socket, local] {
            const QByteArray request = socket->readAll();
            requests.append(request.left(request.indexOf("\r\n")));
            socket->write("HTTP/1.1 200 OK\r\nContent-Length: 0\r\nLast-Modified: "
                          + QLocale::c()
                                .toString(local.addSecs(3600).toUTC(),
                                          QStringLiteral("ddd, dd MMM yyyy hh:mm:ss 'GMT'"))
                                .toLatin1()
                          + "\r\n\r\n");
        });
    });

    Installation install;
    install.write();
    QFile ini(install.dir.filePath(QStringLiteral("PelUpdate.ini")));
    QVERIFY(ini.open(QIODevice::WriteOnly));
    ini.write(QStringLiteral("[SERVER]\r\nURL=http://127.0.0.1:%1/upd\r\n").arg(server.serverPort()).toLatin1());
    ini.close();
    for (const char *name : {"orsa_A.exe", "orsa_C.exe"}) {
        QFile exe(install.dir.filePath(QLatin1String(name)));
        QVERIFY(exe.open(QIODevice::WriteOnly));
        exe.write("MZ");
        exe.close();
        QVERIFY(exe.open(QIODevice::ReadOnly));
        QVERIFY(exe.setFileTime(local, QFileDevice::FileModificationTime));
    }
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    Tfrm_0Main *w = h.create(install.path());
    // Started after the login.
    h.fakeWindows.addWindow(QStringLiteral("TfrmA0Main"));
    h.fakeWindows.addWindow(QStringLiteral("TfrmC0Main"));

    QSignalSpy finished(w->updateWatch(), &UpdateWatch::checkFinished);
    QVERIFY(!w->UpdateUrl().isEmpty());
    w->updateWatch()->runCheck();
    QVERIFY(w->updateWatch()->checkPending());
    QVERIFY(finished.wait(10000));
    QCOMPARE(requests, (QList<QByteArray>{"HEAD /upd/orsa_a.exe HTTP/1.1", "HEAD /upd/orsa_c.exe HTTP/1.1"}));
    QList<Tfrm_BH010 *> notices = w->findChildren<Tfrm_BH010 *>();
    QCOMPARE(notices.size(), 2);
    std::sort(notices.begin(), notices.end(),
              [](Tfrm_BH010 *a, Tfrm_BH010 *b) { return a->ProgramName < b->ProgramName; });
    QCOMPARE(notices.at(0)->ProgramName, QStringLiteral("orsa_A"));
    QCOMPARE(notices.at(0)->ProgramTitle, QStringLiteral("프런트"));
    QVERIFY(notices.at(0)->isVisible());
    QCOMPARE(notices.at(1)->ProgramName, QStringLiteral("orsa_C"));
    QCOMPARE(notices.at(1)->ProgramTitle, QString());
    bool named = false;
    for (const auto &entry : h.fakeWindows.classes)
        named = named || (entry.first == notices.at(0) && entry.second == QStringLiteral("Tfrm_BH010"));
    QVERIFY(named);
}

void tst_MainWindow::netServiceNamesCopied()
{
    QTemporaryDir work;
    QTemporaryDir admin;
    QFile names(work.filePath(QStringLiteral("tnsnames.ora")));
    QVERIFY(names.open(QIODevice::WriteOnly));
    names.write("ORSA = (DESCRIPTION = (ADDRESS = (PROTOCOL = TCP)(HOST = 127.0.0.1)(PORT = 1521)))\n");
    names.close();
    QFile old(admin.filePath(QStringLiteral("tnsnames.ora")));
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("OLD\n");
    old.close();

    const QString previous = QDir::currentPath();
    QVERIFY(QDir::setCurrent(work.path()));
    qputenv("TNS_ADMIN", admin.path().toLocal8Bit());
    Installation install;
    install.write();
    Harness h;
    h.loginAs(QStringLiteral("1001"), QStringLiteral("홍길동"), {0, 0, 0, 0});
    h.create(install.path());
    qunsetenv("TNS_ADMIN");
    QDir::setCurrent(previous);

    QFile copied(admin.filePath(QStringLiteral("tnsnames.ora")));
    QVERIFY(copied.open(QIODevice::ReadOnly));
    QVERIFY(copied.readAll().startsWith("ORSA = "));
    QCOMPARE(QDir(admin.path()).entryList(QDir::Files), QStringList{QStringLiteral("tnsnames.ora")});
}

void tst_MainWindow::updateNoticeStaysHidden()
{
    // The start-up's notice: placed and shaped in the work area's bottom-right corner, never shown.
    Tfrm_BH010 notice;
    const QRect workArea = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(notice.windowTitle(), QStringLiteral("Update"));
    QCOMPARE(notice.size(), QSize(272, 67));
    QCOMPARE(notice.pos(), QPoint(workArea.x() + workArea.width() - 275, workArea.y() + workArea.height() - 70));
    QVERIFY(!notice.isVisible());
    QVERIFY(notice.windowFlags() & Qt::FramelessWindowHint);
    QVERIFY(notice.windowFlags() & Qt::WindowStaysOnTopHint);
    // Two rounded cards offset by the shadow: the corners are cut, the shadow's corner is in.
    const QRegion shape = notice.mask();
    QVERIFY(!shape.contains(QPoint(0, 0)));
    QVERIFY(shape.contains(QPoint(3, 3)));
    QVERIFY(shape.contains(QPoint(268, 64)));
    QVERIFY(!shape.contains(QPoint(271, 66)));
    QVERIFY(!shape.contains(QPoint(269, 3)));
}

QTEST_MAIN(tst_MainWindow)
#include "tst_mainwindow.moc"
