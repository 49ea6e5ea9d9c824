// Mouse events go through the window, as the window system delivers them.
#define QTEST_QPA_MOUSE_HANDLING
#include "fakemessages.h"
#include "fakewindowsystem.h"
#include "platform/cp949.h"
#include "platform/imagelibrarywriter.h"
#include "platform/mainconfig.h"
#include "session/tfrm_ah010.h"

#include <QApplication>
#include <QClipboard>
#include <QDir>
#include <QFile>
#include <QGuiApplication>
#include <QImage>
#include <QInputMethodEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <functional>

namespace {

// Answers Authenticate from a script and records what the window handed it.
class FakeAuthenticator final : public Authenticator
{
public:
    struct Call
    {
        bool doLogin;
        QString employeeNumber;
        QString password;
    };

    AuthResult Authenticate(bool DoLogin, LoginFields &fields) override
    {
        calls.append({DoLogin, fields.employeeNumber(), fields.password()});
        if (onCall)
            onCall(fields);
        return results.isEmpty() ? AuthResult{} : results.takeFirst();
    }
    QString StoredPassword() const override { return storedPassword; }

    QList<Call> calls;
    QList<AuthResult> results;
    QString storedPassword;
    std::function<void(LoginFields &)> onCall;
};

class FakePasswordChanger final : public PasswordChanger
{
public:
    struct Call
    {
        QWidget *owner;
        QString targetEmpNo;
        QString currentPassword;
        bool mayClose;
    };

    void changePassword(QWidget *owner, const QString &TargetEmpNo, const QString &CurrentPassword,
                        bool MayClose) override
    {
        calls.append({owner, TargetEmpNo, CurrentPassword, MayClose});
    }

    QList<Call> calls;
};

const QString DemoLogin = QStringLiteral(
    "[MAIN]\r\n"
    "TITLE=오르사 통합시스템\r\n"
    "DATABASE=orsa\r\n"
    "\r\n"
    "[LOGIN]\r\n"
    "CLOSE=332,10,18,18\r\n"
    "ID=112,71,146,18\r\n"
    "PASSWORD=112,109,146,18\r\n"
    "LOGIN=272,68,68,62\r\n"
    "PASSCHANGE=230,160,110,24\r\n");

void commit(QWidget *edit, const QString &text)
{
    QInputMethodEvent event(QString(), {});
    event.setCommitString(text);
    QApplication::sendEvent(edit, &event);
}

} // namespace

class tst_LoginWindow : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void layout();
    void designSizeWithoutLibrary();
    void rebuiltOnEveryShow();
    void windowClassAndCaption();
    void byteLimits_data();
    void byteLimits();
    void pasteKeepsWhatFits();
    void passwordMasked();
    void keys_data();
    void keys();
    void escapeDoesNotClose();
    void loginResult_data();
    void loginResult();
    void loginNeedsBothFields_data();
    void loginNeedsBothFields();
    void passChange();
    void execAcceptsOnlyAfterLogin();
    void closeArea();
    void unusableConfiguration_data();
    void unusableConfiguration();
    void hitTest_data();
    void hitTest();
    void pressOnEdgeDrags();
    void editOverHotArea();

private:
    void writeIni(const QString &text);
    std::unique_ptr<Tfrm_AH010> makeWindow();

    QTemporaryDir m_dir;
    QString m_appDir;
    FakeAuthenticator *m_auth = nullptr;
    FakePasswordChanger *m_changer = nullptr;
    FakeMessages *m_messages = nullptr;
};

void tst_LoginWindow::writeIni(const QString &text)
{
    QFile file(QDir(m_appDir).filePath(QStringLiteral("Main.ini")));
    QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(Cp949::encode(text));
}

void tst_LoginWindow::initTestCase()
{
    QVERIFY(m_dir.isValid());
    m_appDir = m_dir.path() + QLatin1Char('/');
    QImage login(360, 200, QImage::Format_RGB32);
    login.fill(qRgb(240, 240, 236));
    QPainter painter(&login);
    painter.fillRect(QRect(112, 71, 146, 18), Qt::white);
    painter.fillRect(QRect(112, 109, 146, 18), Qt::white);
    painter.end();
    QString error;
    QVERIFY2(writeImageLibrary(QDir(m_appDir).filePath(QStringLiteral("MainImg.dll")),
                               {{QStringLiteral("LOGIN"), login}}, &error),
             qPrintable(error));
}

void tst_LoginWindow::init()
{
    writeIni(DemoLogin);
    m_auth = new FakeAuthenticator;
    m_changer = new FakePasswordChanger;
    m_messages = new FakeMessages;
    m_messages->setApplicationTitle(QStringLiteral("오르사 통합시스템"));
}

void tst_LoginWindow::cleanup()
{
    delete m_auth;
    delete m_changer;
    delete m_messages;
    m_auth = nullptr;
    m_changer = nullptr;
    m_messages = nullptr;
    QFile::remove(QDir(m_appDir).filePath(QStringLiteral("Other.dll")));
}

std::unique_ptr<Tfrm_AH010> tst_LoginWindow::makeWindow()
{
    return std::make_unique<Tfrm_AH010>(nullptr, *m_auth, *m_changer, *m_messages, m_appDir);
}

void tst_LoginWindow::layout()
{
    auto window = makeWindow();
    window->show();
    QVERIFY(window->imgBackground());
    QCOMPARE(window->size(), QSize(360, 200));
    const QRect screen = QGuiApplication::primaryScreen()->geometry();
    QCOMPARE(window->pos(), QPoint((screen.width() - 360) / 2, (screen.height() - 200) / 2));
    QCOMPARE(window->imgBackground()->geometry(), QRect(0, 0, 360, 200));
    QCOMPARE(window->edtID()->geometry(), QRect(112, 71, 146, 18));
    QCOMPARE(window->edtPassword()->geometry(), QRect(112, 109, 146, 18));
    QCOMPARE(window->imgClose()->geometry(), QRect(332, 10, 18, 18));
    QCOMPARE(window->imgLogin()->geometry(), QRect(272, 68, 68, 62));
    QCOMPARE(window->imgPassChange()->geometry(), QRect(230, 160, 110, 24));
    QVERIFY(!window->edtID()->hasFrame());
    QVERIFY(!window->edtPassword()->hasFrame());
    QCOMPARE(window->imgLogin()->cursor().shape(), Qt::PointingHandCursor);
    QCOMPARE(window->focusWidget(), window->edtID());
    // The employee number comes first in the tab order.
    QCOMPARE(window->edtID()->nextInFocusChain(), window->edtPassword());
    QCOMPARE(window->edtID()->font().family(), QStringLiteral("굴림체"));
    QCOMPARE(window->edtID()->font().pixelSize(), 12);
    QVERIFY(window->windowFlags() & Qt::FramelessWindowHint);
}

void tst_LoginWindow::designSizeWithoutLibrary()
{
    QDir(m_appDir).rename(QStringLiteral("MainImg.dll"), QStringLiteral("Other.dll"));
    auto window = makeWindow();
    window->show();
    QDir(m_appDir).rename(QStringLiteral("Other.dll"), QStringLiteral("MainImg.dll"));
    QVERIFY(!window->imgBackground());
    QCOMPARE(window->geometry(), QRect(455, 238, 193, 97));
    QVERIFY(window->edtID());
    QVERIFY(window->edtPassword());
    QVERIFY(m_messages->shown.isEmpty());
}

void tst_LoginWindow::rebuiltOnEveryShow()
{
    auto window = makeWindow();
    window->show();
    window->edtID()->setText(QStringLiteral("A001"));
    window->hide();
    writeIni(QStringLiteral("[LOGIN]\r\nID=10,20,100,18\r\nPASSWORD=10,50,100,18\r\n"));
    window->show();
    QCOMPARE(window->edtID()->geometry(), QRect(10, 20, 100, 18));
    QCOMPARE(window->edtID()->text(), QString());
    QVERIFY(!window->imgClose());
    QVERIFY(!window->imgLogin());
    QVERIFY(!window->imgPassChange());
    QCOMPARE(window->findChildren<QLineEdit *>().size(), 2);
    QCOMPARE(window->findChildren<QLabel *>().size(), 1);
}

void tst_LoginWindow::windowClassAndCaption()
{
    FakeWindowSystem windows;
    Tfrm_AH010 window(nullptr, *m_auth, *m_changer, *m_messages, m_appDir, &windows);
    QCOMPARE(windows.classOf(&window), QStringLiteral("Tfrm_AH010"));
    QCOMPARE(window.windowTitle(), QStringLiteral("Login"));
}

void tst_LoginWindow::byteLimits_data()
{
    QTest::addColumn<bool>("password");
    QTest::addColumn<QString>("before");
    QTest::addColumn<QStringList>("typed");
    QTest::addColumn<QString>("after");

    QTest::newRow("id ascii at the limit") << false << QString() << QStringList{QStringLiteral("1234567890")}
                                           << QStringLiteral("1234567890");
    QTest::newRow("id ascii over the limit") << false << QString() << QStringList{QStringLiteral("12345678901")}
                                             << QStringLiteral("1234567890");
    QTest::newRow("id Korean five characters") << false << QString() << QStringList{QStringLiteral("가나다라마바")}
                                               << QStringLiteral("가나다라마");
    QTest::newRow("id Korean one at a time")
        << false << QString()
        << QStringList{QStringLiteral("가"), QStringLiteral("나"), QStringLiteral("다"), QStringLiteral("라"),
                       QStringLiteral("마"), QStringLiteral("바")}
        << QStringLiteral("가나다라마");
    QTest::newRow("id Korean after nine bytes") << false << QStringLiteral("123456789")
                                                << QStringList{QStringLiteral("가")} << QStringLiteral("123456789");
    QTest::newRow("id ascii after a Korean character fills up")
        << false << QStringLiteral("가나다라") << QStringList{QStringLiteral("123")} << QStringLiteral("가나다라12");
    QTest::newRow("password Korean ten characters")
        << true << QString() << QStringList{QStringLiteral("비밀번호비밀번호비밀번호")}
        << QStringLiteral("비밀번호비밀번호비밀");
    QTest::newRow("password ascii over the limit")
        << true << QString() << QStringList{QStringLiteral("abcdefghijklmnopqrstuvwxyz")}
        << QStringLiteral("abcdefghijklmnopqrst");
    QTest::newRow("password mixed") << true << QStringLiteral("abcdefghijklmnopqr")
                                    << QStringList{QStringLiteral("가"), QStringLiteral("s")}
                                    << QStringLiteral("abcdefghijklmnopqr가");
}

void tst_LoginWindow::byteLimits()
{
    QFETCH(bool, password);
    QFETCH(QString, before);
    QFETCH(QStringList, typed);
    QFETCH(QString, after);

    auto window = makeWindow();
    window->show();
    QLineEdit *edit = password ? window->edtPassword() : window->edtID();
    commit(edit, before);
    QCOMPARE(edit->text(), before);
    for (const QString &text : typed)
        commit(edit, text);
    QCOMPARE(edit->text(), after);
    QVERIFY(Cp949::byteLength(edit->text()) <= (password ? 20 : 10));
}

void tst_LoginWindow::pasteKeepsWhatFits()
{
    auto window = makeWindow();
    window->show();
    QLineEdit *edit = window->edtID();
    edit->setText(QStringLiteral("abcd"));
    edit->setCursorPosition(2);
    // In the middle: the text around the cursor stays, only what is put in is cut.
    edit->insert(QStringLiteral("가나다라마"));
    QCOMPARE(edit->text(), QStringLiteral("ab가나다cd"));
    QCOMPARE(edit->cursorPosition(), 5);

    // Replacing a selection frees its bytes.
    edit->setSelection(2, 3);
    QApplication::clipboard()->setText(QStringLiteral("12345678"));
    if (QApplication::clipboard()->text() != QLatin1String("12345678"))
        QSKIP("this platform has no clipboard");
    edit->paste();
    QCOMPARE(edit->text(), QStringLiteral("ab123456cd"));
}

void tst_LoginWindow::passwordMasked()
{
    auto window = makeWindow();
    window->show();
    commit(window->edtPassword(), QStringLiteral("abc가나"));
    QCOMPARE(window->edtPassword()->text(), QStringLiteral("abc가나"));
    QCOMPARE(window->edtPassword()->displayText(), QStringLiteral("*****"));
    QCOMPARE(window->edtPassword()->echoMode(), QLineEdit::Password);
    QCOMPARE(window->edtID()->echoMode(), QLineEdit::Normal);
    QCOMPARE(window->password(), QStringLiteral("abc가나"));
}

void tst_LoginWindow::keys_data()
{
    QTest::addColumn<bool>("fromPassword");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("focusAfter");  // "id", "password"
    QTest::addColumn<int>("logins");

    QTest::newRow("Enter in id") << false << int(Qt::Key_Return) << QStringLiteral("password") << 0;
    QTest::newRow("keypad Enter in id") << false << int(Qt::Key_Enter) << QStringLiteral("password") << 0;
    QTest::newRow("Up in id") << false << int(Qt::Key_Up) << QStringLiteral("password") << 0;
    QTest::newRow("Down in id") << false << int(Qt::Key_Down) << QStringLiteral("password") << 0;
    QTest::newRow("Up in password") << true << int(Qt::Key_Up) << QStringLiteral("id") << 0;
    QTest::newRow("Down in password") << true << int(Qt::Key_Down) << QStringLiteral("id") << 0;
    // Enter in the password field logs in; the scripted answer 0 sends the focus to the id.
    QTest::newRow("Enter in password") << true << int(Qt::Key_Return) << QStringLiteral("id") << 1;
    QTest::newRow("keypad Enter in password") << true << int(Qt::Key_Enter) << QStringLiteral("id") << 1;
    QTest::newRow("Tab in id") << false << int(Qt::Key_Tab) << QStringLiteral("password") << 0;
    QTest::newRow("Left in password") << true << int(Qt::Key_Left) << QStringLiteral("password") << 0;
}

void tst_LoginWindow::keys()
{
    QFETCH(bool, fromPassword);
    QFETCH(int, key);
    QFETCH(QString, focusAfter);
    QFETCH(int, logins);

    auto window = makeWindow();
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->edtID()->setText(QStringLiteral("A001"));
    window->edtPassword()->setText(QStringLiteral("secret"));
    QLineEdit *from = fromPassword ? window->edtPassword() : window->edtID();
    from->setFocus();
    QTest::keyClick(from, Qt::Key(key));

    QLineEdit *expected = focusAfter == QLatin1String("id") ? window->edtID() : window->edtPassword();
    QCOMPARE(window->focusWidget(), expected);
    QCOMPARE(m_auth->calls.size(), logins);
    // Nothing is typed into the fields by these keys.
    QCOMPARE(window->edtID()->text(), QStringLiteral("A001"));
    QCOMPARE(window->edtPassword()->text(), QStringLiteral("secret"));
    QVERIFY(window->isVisible());
}

void tst_LoginWindow::escapeDoesNotClose()
{
    auto window = makeWindow();
    window->show();
    QTest::keyClick(window->edtID(), Qt::Key_Escape);
    QVERIFY(window->isVisible());
    QCOMPARE(window->result(), int(QDialog::Rejected));
}

void tst_LoginWindow::loginResult_data()
{
    QTest::addColumn<int>("value");
    QTest::addColumn<QString>("error");
    QTest::addColumn<bool>("accepted");
    QTest::addColumn<int>("changes");
    QTest::addColumn<QString>("focusAfter");
    QTest::addColumn<QString>("passwordAfter");

    QTest::newRow("logged in") << 1 << QString() << true << 0 << QString() << QStringLiteral("secret");
    QTest::newRow("refused") << 0 << QString() << false << 0 << QStringLiteral("id") << QStringLiteral("secret");
    QTest::newRow("must change password") << -1 << QString() << false << 1 << QStringLiteral("password")
                                          << QString();
    QTest::newRow("unexpected value") << 2 << QString() << false << 0 << QStringLiteral("id")
                                      << QStringLiteral("secret");
    QTest::newRow("error with value 1") << 1 << QStringLiteral("연결이 끊어졌습니다.") << false << 0
                                        << QStringLiteral("password") << QStringLiteral("secret");
    QTest::newRow("error with value -1") << -1 << QStringLiteral("연결이 끊어졌습니다.") << false << 0
                                         << QStringLiteral("password") << QStringLiteral("secret");
}

void tst_LoginWindow::loginResult()
{
    QFETCH(int, value);
    QFETCH(QString, error);
    QFETCH(bool, accepted);
    QFETCH(int, changes);
    QFETCH(QString, focusAfter);
    QFETCH(QString, passwordAfter);

    auto window = makeWindow();
    window->show();
    // Typed with a blank after the number: handed on as typed.
    window->edtID()->setText(QStringLiteral("A001 "));
    window->edtPassword()->setText(QStringLiteral("secret"));
    window->edtPassword()->setFocus();
    m_auth->storedPassword = QStringLiteral("A001");
    m_auth->results = {AuthResult{value, error}};

    window->imgLoginClick();

    QCOMPARE(m_auth->calls.size(), 1);
    QCOMPARE(m_auth->calls[0].doLogin, true);
    QCOMPARE(m_auth->calls[0].employeeNumber, QStringLiteral("A001 "));
    QCOMPARE(m_auth->calls[0].password, QStringLiteral("secret"));
    QCOMPARE(window->isVisible(), !accepted);
    QCOMPARE(window->result(), accepted ? int(QDialog::Accepted) : int(QDialog::Rejected));
    QCOMPARE(m_changer->calls.size(), changes);
    if (changes) {
        QCOMPARE(m_changer->calls[0].owner, window.get());
        QCOMPARE(m_changer->calls[0].targetEmpNo, QStringLiteral("A001 "));
        QCOMPARE(m_changer->calls[0].currentPassword, QStringLiteral("A001"));
        QCOMPARE(m_changer->calls[0].mayClose, false);
    }
    if (!focusAfter.isEmpty()) {
        QCOMPARE(window->focusWidget(),
                 focusAfter == QLatin1String("id") ? window->edtID() : window->edtPassword());
    }
    QCOMPARE(window->edtPassword()->text(), passwordAfter);
    if (error.isEmpty()) {
        QVERIFY(m_messages->shown.isEmpty());
    } else {
        QCOMPARE(m_messages->shown.size(), 1);
        QCOMPARE(m_messages->shown[0].text, error);
        QCOMPARE(m_messages->shown[0].icon, MessageIcon::Error);
        QCOMPARE(m_messages->shown[0].caption, QStringLiteral("오르사 통합시스템"));
    }
}

void tst_LoginWindow::loginNeedsBothFields_data()
{
    QTest::addColumn<QString>("id");
    QTest::addColumn<QString>("password");
    QTest::addColumn<bool>("asked");
    QTest::addColumn<QString>("focusAfter");

    QTest::newRow("empty id") << QString() << QStringLiteral("secret") << false << QStringLiteral("id");
    QTest::newRow("blank id") << QStringLiteral("   ") << QStringLiteral("secret") << false << QStringLiteral("id");
    QTest::newRow("empty password") << QStringLiteral("A001") << QString() << false << QStringLiteral("password");
    QTest::newRow("blank password is a password") << QStringLiteral("A001") << QStringLiteral("  ") << true
                                                  << QStringLiteral("id");
    QTest::newRow("id with a leading blank") << QStringLiteral(" A001") << QStringLiteral("x") << true
                                             << QStringLiteral("id");
    // The Korean input method types U+3000; only characters up to the space are blanks.
    QTest::newRow("full-width spaces are text") << QStringLiteral("\u3000\u3000") << QStringLiteral("x") << true
                                                << QStringLiteral("id");
}

void tst_LoginWindow::loginNeedsBothFields()
{
    QFETCH(QString, id);
    QFETCH(QString, password);
    QFETCH(bool, asked);
    QFETCH(QString, focusAfter);

    auto window = makeWindow();
    window->show();
    window->edtID()->setText(id);
    window->edtPassword()->setText(password);
    window->imgPassChange()->setFocus();
    window->imgLoginClick();
    QCOMPARE(m_auth->calls.size(), asked ? 1 : 0);
    if (asked)
        QCOMPARE(m_auth->calls[0].employeeNumber, id);
    QCOMPARE(window->focusWidget(),
             focusAfter == QLatin1String("id") ? window->edtID() : window->edtPassword());
    QVERIFY(window->isVisible());
}

void tst_LoginWindow::passChange()
{
    auto window = makeWindow();
    window->show();

    // Without an employee number nothing is looked up.
    window->imgPassChangeClick();
    QVERIFY(m_auth->calls.isEmpty());
    QVERIFY(m_changer->calls.isEmpty());

    // An unregistered number: the look-up clears both fields and the change window still opens,
    // with the number as the look-up left it.
    window->edtID()->setText(QStringLiteral("Z999"));
    window->edtPassword()->setText(QStringLiteral("old"));
    m_auth->storedPassword = QString();
    m_auth->onCall = [](LoginFields &fields) { fields.clearFields(); };
    window->imgPassChangeClick();
    QCOMPARE(m_auth->calls.size(), 1);
    QCOMPARE(m_auth->calls[0].doLogin, false);
    QCOMPARE(m_auth->calls[0].employeeNumber, QStringLiteral("Z999"));
    QCOMPARE(m_changer->calls.size(), 1);
    QCOMPARE(m_changer->calls[0].targetEmpNo, QString());
    QCOMPARE(m_changer->calls[0].mayClose, true);
    QCOMPARE(window->focusWidget(), window->edtPassword());

    // A registered one: its stored password goes to the change window; the result is not used.
    m_auth->onCall = nullptr;
    m_auth->storedPassword = QStringLiteral("pw1");
    m_auth->results = {AuthResult{1, QString()}};
    window->edtID()->setText(QStringLiteral("A001"));
    window->edtPassword()->setText(QStringLiteral("typed"));
    window->imgPassChangeClick();
    QCOMPARE(m_changer->calls.size(), 2);
    QCOMPARE(m_changer->calls[1].targetEmpNo, QStringLiteral("A001"));
    QCOMPARE(m_changer->calls[1].currentPassword, QStringLiteral("pw1"));
    QCOMPARE(m_changer->calls[1].mayClose, true);
    QCOMPARE(window->edtPassword()->text(), QString());
    QVERIFY(window->isVisible());

    // A failed look-up is reported and opens nothing.
    m_auth->results = {AuthResult{0, QStringLiteral("데이터베이스 오류")}};
    window->imgPassChangeClick();
    QCOMPARE(m_changer->calls.size(), 2);
    QCOMPARE(m_messages->texts(), QStringList{QStringLiteral("데이터베이스 오류")});
}

void tst_LoginWindow::execAcceptsOnlyAfterLogin()
{
    auto window = makeWindow();
    m_auth->results = {AuthResult{0, QString()}, AuthResult{1, QString()}};
    int clicks = 0;
    std::function<void()> step = [&]() {
        if (!window->isVisible() || !window->imgLogin()) {
            QTimer::singleShot(10, step);
            return;
        }
        commit(window->edtID(), QStringLiteral("A001"));
        commit(window->edtPassword(), QStringLiteral("secret"));
        QWidget *login = window->imgLogin();
        QTest::mouseClick(login, Qt::LeftButton, {}, login->rect().center());
        if (++clicks < 2)
            QTimer::singleShot(0, step);
    };
    QTimer::singleShot(0, step);
    QCOMPARE(window->exec(), int(QDialog::Accepted));
    QCOMPARE(clicks, 2);
    QCOMPARE(m_auth->calls.size(), 2);
}

void tst_LoginWindow::closeArea()
{
    auto window = makeWindow();
    QTimer::singleShot(0, window.get(), [&]() {
        QWidget *close = window->imgClose();
        QTest::mouseClick(close, Qt::LeftButton, {}, close->rect().center());
    });
    QCOMPARE(window->exec(), int(QDialog::Rejected));
    QVERIFY(m_auth->calls.isEmpty());
    QVERIFY(m_messages->shown.isEmpty());
}

void tst_LoginWindow::unusableConfiguration_data()
{
    QTest::addColumn<QString>("login");   // section LOGIN
    QTest::addColumn<QString>("library"); // "", or "no picture"
    QTest::addColumn<QString>("message"); // %1 = path of Main.ini; "config" = the reader's own

    QTest::newRow("no ID") << QStringLiteral("PASSWORD=112,109,146,18\r\nLOGIN=272,68,68,62\r\n") << QString()
                           << QStringLiteral("설정 파일 %1의 [LOGIN] 섹션에 ID 값이 없어 로그인할 수 없습니다.");
    QTest::newRow("no PASSWORD") << QStringLiteral("ID=112,71,146,18\r\nPASSWORD=\r\n") << QString()
                                 << QStringLiteral("설정 파일 %1의 [LOGIN] 섹션에 PASSWORD 값이 없어 로그인할 수 없습니다.");
    QTest::newRow("neither") << QStringLiteral("CLOSE=332,10,18,18\r\n") << QString()
                             << QStringLiteral("설정 파일 %1의 [LOGIN] 섹션에 ID, PASSWORD 값이 없어 로그인할 수 없습니다.");
    QTest::newRow("blank after a number") << QStringLiteral("ID=112 ,71,146,18\r\nPASSWORD=112,109,146,18\r\n")
                                          << QString() << QStringLiteral("config");
    QTest::newRow("fifth number") << QStringLiteral("ID=112,71,146,18\r\nPASSWORD=112,109,146,18\r\nLOGIN=1,2,3,4,5\r\n")
                                  << QString() << QStringLiteral("config");
    QTest::newRow("no picture") << QStringLiteral("ID=112,71,146,18\r\nPASSWORD=112,109,146,18\r\n")
                                << QStringLiteral("no picture") << QStringLiteral("LOGIN");
}

void tst_LoginWindow::unusableConfiguration()
{
    QFETCH(QString, login);
    QFETCH(QString, library);
    QFETCH(QString, message);

    writeIni(QStringLiteral("[MAIN]\r\nDATABASE=orsa\r\n[LOGIN]\r\n") + login);
    const QString iniPath = QDir(m_appDir).filePath(QStringLiteral("Main.ini"));
    QString appDir = m_appDir;
    QTemporaryDir other;
    if (!library.isEmpty()) {
        // A library with other pictures only, beside a copy of Main.ini.
        QImage image(10, 10, QImage::Format_RGB32);
        image.fill(Qt::red);
        QVERIFY(writeImageLibrary(other.filePath(QStringLiteral("MainImg.dll")), {{QStringLiteral("MAIN"), image}}));
        QVERIFY(QFile::copy(iniPath, other.filePath(QStringLiteral("Main.ini"))));
        appDir = other.path() + QLatin1Char('/');
    }

    Tfrm_AH010 window(nullptr, *m_auth, *m_changer, *m_messages, appDir);
    bool shown = false;
    QTimer::singleShot(0, &window, [&]() {
        shown = window.isVisible();
        window.reject();
    });
    QCOMPARE(window.exec(), int(QDialog::Rejected));
    QCoreApplication::processEvents();
    QVERIFY2(!shown, "a window that cannot log in is not shown");
    QCOMPARE(m_messages->shown.size(), 1);
    const FakeMessages::Shown &box = m_messages->shown[0];
    QCOMPARE(box.icon, MessageIcon::Error);
    if (message == QLatin1String("config")) {
        LoginConfig config;
        ConfigError error;
        QVERIFY(!readLoginConfig(iniPath, config, &error));
        QCOMPARE(box.text, error.message());
    } else if (library.isEmpty()) {
        QCOMPARE(box.text, message.arg(QDir::toNativeSeparators(iniPath)));
    } else {
        QVERIFY2(box.text.contains(QStringLiteral("\"LOGIN\"")), qPrintable(box.text));
        QVERIFY2(box.text.contains(QDir::toNativeSeparators(other.filePath(QStringLiteral("MainImg.dll")))),
                 qPrintable(box.text));
    }
    QVERIFY(m_auth->calls.isEmpty());
}

void tst_LoginWindow::hitTest_data()
{
    QTest::addColumn<QPoint>("point");
    QTest::addColumn<bool>("client");

    // ID=112,71,146,18: columns 112..257, rows 71..88.
    QTest::newRow("id inside") << QPoint(113, 72) << true;
    QTest::newRow("id left edge") << QPoint(112, 80) << false;
    QTest::newRow("id top edge") << QPoint(150, 71) << false;
    QTest::newRow("id last column") << QPoint(257, 80) << true;
    QTest::newRow("id right of it") << QPoint(258, 80) << false;
    QTest::newRow("id last row") << QPoint(150, 88) << true;
    QTest::newRow("id below it") << QPoint(150, 89) << false;
    QTest::newRow("id top left corner") << QPoint(112, 71) << false;
    // PASSWORD=112,109,146,18
    QTest::newRow("password inside") << QPoint(200, 115) << true;
    QTest::newRow("password left edge") << QPoint(112, 115) << false;
    // LOGIN=272,68,68,62: overlaps nothing, reaches column 339 and row 129.
    QTest::newRow("login inside") << QPoint(300, 100) << true;
    QTest::newRow("login left edge") << QPoint(272, 100) << false;
    QTest::newRow("login top edge") << QPoint(300, 68) << false;
    QTest::newRow("login bottom right inside") << QPoint(339, 129) << true;
    // CLOSE=332,10,18,18 and PASSCHANGE=230,160,110,24
    QTest::newRow("close inside") << QPoint(340, 18) << true;
    QTest::newRow("close top edge") << QPoint(340, 10) << false;
    QTest::newRow("passchange inside") << QPoint(231, 161) << true;
    QTest::newRow("passchange top left corner") << QPoint(230, 160) << false;
    QTest::newRow("picture") << QPoint(5, 5) << false;
    QTest::newRow("window corner") << QPoint(0, 0) << false;
}

void tst_LoginWindow::hitTest()
{
    QFETCH(QPoint, point);
    QFETCH(bool, client);

    auto window = makeWindow();
    window->show();
    QCOMPARE(window->hitTest(point) == Tfrm_AH010::HitTest::Client, client);
}

void tst_LoginWindow::pressOnEdgeDrags()
{
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->edtID()->setText(QStringLiteral("A001"));
    window->edtPassword()->setText(QStringLiteral("secret"));
    QWidget *login = window->imgLogin();

    // The left edge of the login area: a press there moves the window and is no click.
    const QPoint start = window->pos();
    const QPoint pointer = login->mapToGlobal(QPoint(30, 45));
    QTest::mousePress(login, Qt::LeftButton, {}, QPoint(0, 20));
    QTest::mouseMove(login, QPoint(30, 45));
    QTRY_COMPARE(window->pos(), start + QPoint(30, 25));
    // The pointer has not moved since: it is released where the window has taken it.
    QTest::mouseRelease(login, Qt::LeftButton, {}, login->mapFromGlobal(pointer));
    QCOMPARE(window->pos(), start + QPoint(30, 25));
    QVERIFY(m_auth->calls.isEmpty());

    // One pixel further in, the press is the login area's.
    QTest::mouseClick(login, Qt::LeftButton, {}, QPoint(1, 20));
    QCOMPARE(m_auth->calls.size(), 1);

    // A press on the picture moves the window too.
    const QPoint second = window->pos();
    QWidget *picture = window->imgBackground();
    const QPoint there = picture->mapToGlobal(QPoint(7, 15));
    QTest::mousePress(picture, Qt::LeftButton, {}, QPoint(5, 5));
    QTest::mouseMove(picture, QPoint(7, 15));
    QTRY_COMPARE(window->pos(), second + QPoint(2, 10));
    QTest::mouseRelease(picture, Qt::LeftButton, {}, picture->mapFromGlobal(there));
    QCOMPARE(window->pos(), second + QPoint(2, 10));

    // A press on the edit's top edge does not give it the cursor.
    window->edtPassword()->setFocus();
    window->edtID()->setCursorPosition(4);
    QTest::mouseClick(window->edtID(), Qt::LeftButton, {}, QPoint(3, 0));
    QCOMPARE(window->edtID()->cursorPosition(), 4);
    QCOMPARE(window->focusWidget(), window->edtPassword());
}

// A hot area laid over an edit lies beneath it: the edit takes the click where they overlap,
// the area everywhere else.
void tst_LoginWindow::editOverHotArea()
{
    writeIni(QStringLiteral("[MAIN]\r\nDATABASE=orsa\r\n[LOGIN]\r\nID=112,71,146,18\r\n"
                            "PASSWORD=112,109,146,18\r\nLOGIN=100,60,220,80\r\n"));
    auto window = makeWindow();
    window->show();
    QVERIFY(QTest::qWaitForWindowExposed(window.get()));
    window->edtID()->setText(QStringLiteral("A001"));
    window->edtPassword()->setText(QStringLiteral("secret"));

    window->edtID()->setFocus();
    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(150, 115));
    QCOMPARE(window->focusWidget(), window->edtPassword());
    QVERIFY(m_auth->calls.isEmpty());

    QTest::mouseClick(window.get(), Qt::LeftButton, {}, QPoint(300, 100));
    QCOMPARE(m_auth->calls.size(), 1);
}

QTEST_MAIN(tst_LoginWindow)
#include "tst_loginwindow.moc"
