#include "db/sqldialect.h"
#include "db/tfrm_zd000.h"
#include "peer/forcedlogoutclient.h"
#include "session/authentication.h"
#include "session/passwordchange.h"
#include "session/tfrm_ah020.h"
#include "shared/sharedvalues.h"
#include "support/fakemessages.h"
#include "support/fakewindowsystem.h"
#include "support/logcapture.h"
#include "support/testdatabase.h"
#include "widgets/tpelimage.h"

#include <QApplication>
#include <QLineEdit>
#include <QTimer>
#include <QtTest>

#include <memory>

namespace {

const QString Title = QStringLiteral("오르사 통합시스템");
const QString Employee = QStringLiteral("1001");
const QString EmployeePassword = QStringLiteral("orsa1001!");
const QString Workstation = QStringLiteral("127.0.0.23");

const QString WrongOld = QStringLiteral("'이전 비밀번호'를 잘못 입력하셨습니다.");
const QString Mismatch = QStringLiteral("'신규 비밀번호'와 '비밀번호 확인'이 서로 다릅니다.");
const QString SameAsEmpNo = QStringLiteral("비밀번호와 사용자번호는 서로 달라야 합니다.");
const QString SameAsOld = QStringLiteral("'이전 비밀번호'와 '신규 비밀번호'와 다르게 입력하셔야 합니다.");
const QString TooShort = QStringLiteral("'신규 비밀번호'는 최소 8자리 이상 입력하셔야 합니다.");
const QString Repeated = QStringLiteral("'신규 비밀번호'에 같은 글자를 4번 이상 반복 입력할 수 없습니다.");
const QString ShortComposition =
    QStringLiteral("9자리 이하의 비밀번호일경우에는 숫자,영문,특수문자가 포함되어야 합니다.");
const QString LongComposition =
    QStringLiteral("10자리 이상 비밀번호일경우에는 숫자,영문이 포함되어야 합니다.");
const QString CloseRefused = QStringLiteral("비밀번호를 반드시 변경하셔야 합니다.");

enum class Field { None, Old, New, Confirm };

} // namespace

Q_DECLARE_METATYPE(Field)

class tst_PasswordChange : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void rules_data();
    void rules();
    void escapeAndClose_data();
    void escapeAndClose();
    void enterMovesOnThenSaves();
    void editsKeepTwentyBytes_data();
    void editsKeepTwentyBytes();
    void connectionFailureKeepsWindow();
    void databaseErrorRollsBack_data();
    void databaseErrorRollsBack();
    void changeThroughTheChanger();
    void newPasswordLogsIn();

private:
    std::unique_ptr<Tfrm_AH020> makeWindow(const QString &target, const QString &current,
                                           bool mayClose);
    QString stored(const QString &column, const QString &empNo = Employee);

    std::unique_ptr<TestDatabase> m_database;
    FakeMessages m_messages;
    std::unique_ptr<Tfrm_ZD000> m_db;
    SharedValues m_shared;
};

void tst_PasswordChange::initTestCase()
{
    QString error;
    m_database = TestDatabase::open(&error);
    if (!m_database)
        QSKIP(qPrintable(QStringLiteral("no test database (run the tests through scripts/test, "
                                        "which starts the private cluster): ") + error));
}

void tst_PasswordChange::init()
{
    QString error;
    QVERIFY2(m_database->reset(&error), qPrintable(error));
    m_messages.shown.clear();
    m_messages.setApplicationTitle(Title);
    m_messages.resetTermination();
    m_db = std::make_unique<Tfrm_ZD000>(m_messages);
    m_database->configure(*m_db);
    m_shared = SharedValues();
    m_shared.LocalIP = Workstation;
    m_shared.EmpNo = QStringLiteral("1004");
}

void tst_PasswordChange::cleanup()
{
    m_messages.onShow = nullptr;
    m_db.reset();
}

// A column of the employee's row as the server gives it; PASSWORD is the decoded password and
// CHANGED_NOW says whether U_DATE is the server's present time.
QString tst_PasswordChange::stored(const QString &column, const QString &empNo)
{
    QString expression = column;
    if (column == QLatin1String("PASSWORD"))
        expression = QStringLiteral("FN_ZA010MS_02(PASSWORD_CODE, 'TeLa')");
    else if (column == QLatin1String("CHANGED_NOW"))
        expression = QStringLiteral(
            "CASE WHEN U_DATE BETWEEN LOCALTIMESTAMP(0) - INTERVAL '1 minute' AND LOCALTIMESTAMP "
            "THEN 'yes' ELSE 'no' END");
    QString error;
    const QVariant value = m_database->value(
        QStringLiteral("SELECT ") + expression + QStringLiteral(" FROM ZA010MS WHERE EMP_NO = ?"),
        {empNo}, &error);
    if (value.isNull())
        return QStringLiteral("<no value: %1>").arg(error);
    return value.toString();
}

std::unique_ptr<Tfrm_AH020> tst_PasswordChange::makeWindow(const QString &target,
                                                           const QString &current, bool mayClose)
{
    auto window = std::make_unique<Tfrm_AH020>(nullptr, *m_db, m_messages, m_shared);
    window->setTargetEmpNo(target);
    window->setCurrentPassword(current);
    window->setMayClose(mayClose);
    window->show();
    window->activateWindow();
    return window;
}

void tst_PasswordChange::rules_data()
{
    QTest::addColumn<QString>("oldText");
    QTest::addColumn<QString>("newText");
    QTest::addColumn<QString>("confirmText");
    QTest::addColumn<QString>("message");  // empty: none
    QTest::addColumn<Field>("focus");       // None: the window closed after the save
    QTest::addColumn<QString>("confirmAfter");

    const QString p = EmployeePassword;
    // Steps that only look at the fields.
    QTest::newRow("old empty") << "" << "abc123!x" << "abc123!x" << "" << Field::Old << "abc123!x";
    QTest::newRow("new empty") << p << "" << "abc123!x" << "" << Field::New << "abc123!x";
    QTest::newRow("confirmation empty") << p << "abc123!x" << "" << "" << Field::Confirm << "";
    QTest::newRow("wrong old password") << "orsa1001" << "abc123!x" << "abc123!x" << WrongOld
                                        << Field::Old << "abc123!x";
    QTest::newRow("old password in other case") << "ORSA1001!" << "abc123!x" << "abc123!x"
                                                << WrongOld << Field::Old << "abc123!x";
    QTest::newRow("old password with a blank") << " orsa1001!" << "abc123!x" << "abc123!x"
                                               << WrongOld << Field::Old << "abc123!x";
    QTest::newRow("confirmation differs") << p << "abc123!x" << "abc123!y" << Mismatch
                                          << Field::Confirm << "abc123!y";
    QTest::newRow("account's own number") << p << Employee << Employee << SameAsEmpNo << Field::New
                                          << "";
    QTest::newRow("same as old") << p << p << p << SameAsOld << Field::New << "";
    QTest::newRow("7 characters") << p << "ab1!xyz" << "ab1!xyz" << TooShort << Field::New << "";
    QTest::newRow("7 bytes with Hangul") << p << "가나다1" << "가나다1" << TooShort << Field::New
                                         << "";
    QTest::newRow("run of four letters") << p << "aaaa1!bc" << "aaaa1!bc" << Repeated
                                         << Field::New << "";
    QTest::newRow("run of five digits at the end") << p << "ab!c11111" << "ab!c11111" << Repeated
                                                   << Field::New << "";
    // The composition is counted by the server.
    QTest::newRow("9 letters and digits") << p << "abcde1234" << "abcde1234" << ShortComposition
                                          << Field::New << "";
    QTest::newRow("8 digits and specials") << p << "1234!@#$" << "1234!@#$" << ShortComposition
                                           << Field::New << "";
    QTest::newRow("four Hangul are 8 bytes") << p << "가나다라" << "가나다라" << ShortComposition
                                             << Field::New << "";
    QTest::newRow("10 letters without a digit") << p << "abcdefghij" << "abcdefghij"
                                                << LongComposition << Field::New << "";
    QTest::newRow("12 digits") << p << "123456789012" << "123456789012" << LongComposition
                               << Field::New << "";
    // Step 6 is about the account being changed, not the employee logged in at this shell.
    QTest::newRow("logged-in employee's number is no rule") << p << "1004" << "1004" << TooShort
                                                           << Field::New << "";
    // Saved.
    QTest::newRow("8 characters") << p << "ab1!xyzw" << "ab1!xyzw" << "" << Field::None << "";
    QTest::newRow("run of three") << p << "aaa1!bcd" << "aaa1!bcd" << "" << Field::None << "";
    QTest::newRow("9 with a special character") << p << "abcd123!x" << "abcd123!x" << ""
                                                << Field::None << "";
    QTest::newRow("10 letters and digits") << p << "abcde12345" << "abcde12345" << ""
                                           << Field::None << "";
    QTest::newRow("digits around a letter and a special") << p << "1a2!3456" << "1a2!3456" << ""
                                                          << Field::None << "";
    QTest::newRow("20 characters") << p << "abcdefghij0123456789" << "abcdefghij0123456789" << ""
                                   << Field::None << "";
}

void tst_PasswordChange::rules()
{
    QFETCH(QString, oldText);
    QFETCH(QString, newText);
    QFETCH(QString, confirmText);
    QFETCH(QString, message);
    QFETCH(Field, focus);
    QFETCH(QString, confirmAfter);

    // A rejected password leaves no transaction behind, not even while its message is read.
    bool transactionDuringMessage = false;
    m_messages.onShow = [&](const FakeMessages::Shown &) {
        transactionDuringMessage = transactionDuringMessage || m_db->inTransaction();
    };
    auto window = makeWindow(Employee, EmployeePassword, false);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->edtPasswordOld()->setText(oldText);
    window->edtPasswordNew()->setText(newText);
    window->edtPasswordConfirm()->setText(confirmText);
    window->imgOKClick();

    QCOMPARE(m_messages.texts(), message.isEmpty() ? QStringList() : QStringList(message));
    for (const FakeMessages::Shown &shown : m_messages.shown) {
        QCOMPARE(shown.icon, MessageIcon::Error);
        QCOMPARE(shown.caption, Title);
    }
    QVERIFY(!m_db->connected());
    QVERIFY(!m_db->inTransaction());
    QVERIFY(!transactionDuringMessage);

    if (focus == Field::None) {
        QVERIFY(window->MayClose());
        QVERIFY(!window->isVisible());
        QCOMPARE(window->result(), int(QDialog::Accepted));
        QCOMPARE(stored(QStringLiteral("PASSWORD")), newText);
        QCOMPARE(stored(QStringLiteral("U_EMP_NO")), Employee);
        QCOMPARE(stored(QStringLiteral("U_IP")), Workstation);
        QCOMPARE(stored(QStringLiteral("CHANGED_NOW")), QStringLiteral("yes"));
        return;
    }
    QVERIFY(!window->MayClose());
    QVERIFY(window->isVisible());
    QLineEdit *expected = focus == Field::Old ? window->edtPasswordOld()
                          : focus == Field::New ? window->edtPasswordNew()
                                                : window->edtPasswordConfirm();
    QCOMPARE(QApplication::focusWidget(), expected);
    QCOMPARE(window->edtPasswordOld()->text(), oldText);
    QCOMPARE(window->edtPasswordNew()->text(), newText);
    QCOMPARE(window->edtPasswordConfirm()->text(), confirmAfter);
    // Nothing was written.
    QCOMPARE(stored(QStringLiteral("PASSWORD")), EmployeePassword);
    QCOMPARE(stored(QStringLiteral("U_IP")), QStringLiteral("127.0.0.1"));
}

void tst_PasswordChange::escapeAndClose_data()
{
    QTest::addColumn<bool>("mayClose");
    QTest::addColumn<bool>("byEscape");  // else by a close request of the window system

    QTest::newRow("forced, Escape") << false << true;
    QTest::newRow("forced, close") << false << false;
    QTest::newRow("voluntary, Escape") << true << true;
    QTest::newRow("voluntary, close") << true << false;
}

void tst_PasswordChange::escapeAndClose()
{
    QFETCH(bool, mayClose);
    QFETCH(bool, byEscape);

    auto window = makeWindow(Employee, EmployeePassword, mayClose);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    window->edtPasswordOld()->setText(QStringLiteral("typed"));
    if (byEscape)
        QTest::keyClick(window->edtPasswordOld(), Qt::Key_Escape);
    else
        window->close();

    if (mayClose) {
        QVERIFY(m_messages.shown.isEmpty());
        QVERIFY(!window->isVisible());
        QCOMPARE(window->result(), int(QDialog::Rejected));
    } else {
        QCOMPARE(m_messages.texts(), QStringList(CloseRefused));
        QCOMPARE(m_messages.shown.first().icon, MessageIcon::Error);
        QCOMPARE(m_messages.shown.first().caption, Title);
        QVERIFY(window->isVisible());
        QCOMPARE(window->edtPasswordOld()->text(), QStringLiteral("typed"));
    }
}

void tst_PasswordChange::enterMovesOnThenSaves()
{
    auto window = makeWindow(Employee, EmployeePassword, false);
    QVERIFY(QTest::qWaitForWindowActive(window.get()));
    QCOMPARE(QApplication::focusWidget(), window->edtPasswordOld());
    QTest::keyClicks(window->edtPasswordOld(), EmployeePassword);
    QTest::keyClick(window->edtPasswordOld(), Qt::Key_Return);
    QCOMPARE(QApplication::focusWidget(), window->edtPasswordNew());
    QTest::keyClicks(window->edtPasswordNew(), QStringLiteral("Enter1!key"));
    QTest::keyClick(window->edtPasswordNew(), Qt::Key_Enter);
    QCOMPARE(QApplication::focusWidget(), window->edtPasswordConfirm());
    QTest::keyClicks(window->edtPasswordConfirm(), QStringLiteral("Enter1!key"));
    // The Enter is swallowed: nothing of it reaches the text.
    QCOMPARE(window->edtPasswordConfirm()->text(), QStringLiteral("Enter1!key"));
    QTest::keyClick(window->edtPasswordConfirm(), Qt::Key_Return);

    QVERIFY(m_messages.shown.isEmpty());
    QVERIFY(!window->isVisible());
    QCOMPARE(window->result(), int(QDialog::Accepted));
    QCOMPARE(stored(QStringLiteral("PASSWORD")), QStringLiteral("Enter1!key"));
}

void tst_PasswordChange::editsKeepTwentyBytes_data()
{
    QTest::addColumn<QString>("before");
    QTest::addColumn<QString>("inserted");
    QTest::addColumn<QString>("after");

    QTest::newRow("21 letters") << "" << "abcdefghijklmnopqrstu" << "abcdefghijklmnopqrst";
    QTest::newRow("20 letters") << "" << "abcdefghijklmnopqrst" << "abcdefghijklmnopqrst";
    QTest::newRow("11 Hangul are 22 bytes") << "" << "가나다라마바사아자차카" << "가나다라마바사아자차";
    QTest::newRow("a Hangul does not fit in one byte") << "abcdefghijklmnopqrs" << "가"
                                                        << "abcdefghijklmnopqrs";
    QTest::newRow("full edit takes nothing") << "abcdefghijklmnopqrst" << "x" << "abcdefghijklmnopqrst";
}

void tst_PasswordChange::editsKeepTwentyBytes()
{
    QFETCH(QString, before);
    QFETCH(QString, inserted);
    QFETCH(QString, after);

    auto window = makeWindow(Employee, EmployeePassword, true);
    for (QLineEdit *edit : {window->edtPasswordOld(), window->edtPasswordNew(),
                            window->edtPasswordConfirm()}) {
        QCOMPARE(edit->echoMode(), QLineEdit::Password);
        QVERIFY(edit->inputMethodHints().testFlag(Qt::ImhLatinOnly));
        QVERIFY(edit->inputMethodHints().testFlag(Qt::ImhHiddenText));
        edit->setText(before);
        edit->end(false);
        edit->insert(inserted);
        QCOMPARE(edit->text(), after);
    }
    // Typed keys beyond the limit are dropped as well.
    window->edtPasswordNew()->clear();
    QTest::keyClicks(window->edtPasswordNew(), QStringLiteral("0123456789abcdefghijKLMN"));
    QCOMPARE(window->edtPasswordNew()->text(), QStringLiteral("0123456789abcdefghij"));
}

void tst_PasswordChange::connectionFailureKeepsWindow()
{
    m_db->setConnectionParameters(QStringLiteral("no_such_service"), TestDatabase::demoAccount(),
                                  TestDatabase::demoAccount());
    auto window = makeWindow(Employee, EmployeePassword, false);
    window->edtPasswordOld()->setText(EmployeePassword);
    window->edtPasswordNew()->setText(QStringLiteral("abcd123!x"));
    window->edtPasswordConfirm()->setText(QStringLiteral("abcd123!x"));
    window->imgOKClick();

    QCOMPARE(m_messages.shown.size(), 1);
    QVERIFY(m_messages.shown.first().text.startsWith(
        QStringLiteral("데이터베이스와 연결할 수 없습니다.\r\r에러내용:\r")));
    QVERIFY(window->isVisible());
    QVERIFY(!window->MayClose());
    QCOMPARE(window->edtPasswordNew()->text(), QStringLiteral("abcd123!x"));
    QCOMPARE(window->edtPasswordConfirm()->text(), QStringLiteral("abcd123!x"));
    QCOMPARE(stored(QStringLiteral("PASSWORD")), EmployeePassword);
}

void tst_PasswordChange::databaseErrorRollsBack_data()
{
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("address");
    QTest::addColumn<QString>("error");  // empty: the server's own message
    QTest::addColumn<bool>("lockedElsewhere");  // another program holds the employee's row

    // An address longer than its column: the update fails on the server.
    QTest::newRow("update fails") << Employee << QString(41, QLatin1Char('9')) << QString() << false;
    // No row to update: nothing was saved, so it is no success either.
    QTest::newRow("account not in the table") << QStringLiteral("9999") << Workstation
                                              << QStringLiteral("변경할 사용자번호를 찾을 수 없습니다.")
                                              << false;
    // The wait for the row lock ends with the server's error after a few seconds.
    QTest::newRow("row locked by another program") << Employee << Workstation << QString() << true;
}

void tst_PasswordChange::databaseErrorRollsBack()
{
    QFETCH(QString, target);
    QFETCH(QString, address);
    QFETCH(QString, error);
    QFETCH(bool, lockedElsewhere);

    if (lockedElsewhere) {
        QVERIFY(m_database->exec(QStringLiteral("BEGIN")));
        QVERIFY(m_database->exec(QStringLiteral("SELECT EMP_NO FROM ZA010MS WHERE EMP_NO = ? FOR UPDATE"),
                                 {Employee}));
    }
    auto unlock = qScopeGuard([&] {
        if (lockedElsewhere)
            m_database->exec(QStringLiteral("ROLLBACK"));
    });
    m_shared.LocalIP = address;
    auto window = makeWindow(target, EmployeePassword, false);
    window->edtPasswordOld()->setText(EmployeePassword);
    window->edtPasswordNew()->setText(QStringLiteral("abcd123!x"));
    window->edtPasswordConfirm()->setText(QStringLiteral("abcd123!x"));
    window->imgOKClick();

    QCOMPARE(m_messages.shown.size(), 2);
    const QString prefix = QStringLiteral("비밀번호를 저장하지 못했습니다.\r\r에러내용 :\r");
    QVERIFY2(m_messages.shown.at(0).text.startsWith(prefix), qPrintable(m_messages.shown.at(0).text));
    const QString shownError = m_messages.shown.at(0).text.mid(prefix.size());
    if (error.isEmpty())
        QVERIFY(!shownError.isEmpty());
    else
        QCOMPARE(shownError, error);
    if (lockedElsewhere)
        QVERIFY2(shownError.contains(QStringLiteral("lock timeout")), qPrintable(shownError));
    // Passed on: the general error report shows the error's message once more.
    QCOMPARE(m_messages.shown.at(1).text, shownError);
    QVERIFY(window->isVisible());
    QVERIFY(!window->MayClose());
    QVERIFY(!m_db->connected());
    QVERIFY(!m_db->inTransaction());
    QCOMPARE(stored(QStringLiteral("PASSWORD")), EmployeePassword);
    QCOMPARE(stored(QStringLiteral("U_IP")), QStringLiteral("127.0.0.1"));

    // The connection was left clean: the same change goes through once the row is free.
    if (lockedElsewhere) {
        unlock.dismiss();
        QVERIFY(m_database->exec(QStringLiteral("ROLLBACK")));
        m_messages.shown.clear();
        window->imgOKClick();
        QCOMPARE(m_messages.texts(), QStringList());
        QCOMPARE(stored(QStringLiteral("PASSWORD")), QStringLiteral("abcd123!x"));
    }
}

void tst_PasswordChange::changeThroughTheChanger()
{
    FakeWindowSystem windows;
    PasswordChange changer(*m_db, m_messages, m_shared, &windows);
    bool filled = false;
    QString windowClass;
    QTimer::singleShot(0, this, [&] {
        auto *window = qobject_cast<Tfrm_AH020 *>(QApplication::activeModalWidget());
        if (!window)
            return;
        filled = true;
        windowClass = windows.classOf(window);
        QCOMPARE(window->TargetEmpNo(), Employee);
        window->edtPasswordOld()->setText(EmployeePassword);
        window->edtPasswordNew()->setText(QStringLiteral("Changer9!"));
        window->edtPasswordConfirm()->setText(QStringLiteral("Changer9!"));
        QTest::mouseClick(window->imgOK(), Qt::LeftButton, {}, QPoint(10, 10));
    });
    // A watchdog: a window left open would otherwise block the test for ever.
    QTimer::singleShot(5000, this, [] {
        if (QWidget *modal = QApplication::activeModalWidget())
            modal->hide();
    });
    changer.changePassword(nullptr, Employee, EmployeePassword, false);

    QVERIFY(filled);
    QCOMPARE(windowClass, QStringLiteral("Tfrm_AH020"));
    QVERIFY(m_messages.shown.isEmpty());
    QCOMPARE(stored(QStringLiteral("PASSWORD")), QStringLiteral("Changer9!"));
    // The window is gone again.
    const QWidgetList topLevels = QApplication::topLevelWidgets();
    for (QWidget *widget : topLevels)
        QVERIFY(!qobject_cast<Tfrm_AH020 *>(widget));
}

namespace {

class TypedFields : public LoginFields
{
public:
    TypedFields(const QString &empNo, const QString &password) : m_empNo(empNo), m_password(password) {}
    QString employeeNumber() const override { return m_empNo; }
    QString password() const override { return m_password; }
    void clearFields() override { m_empNo.clear(); m_password.clear(); }
    void selectPassword() override {}

private:
    QString m_empNo;
    QString m_password;
};

} // namespace

void tst_PasswordChange::newPasswordLogsIn()
{
    // The new employee's password is still the employee number: the login demands a change.
    const QString newEmployee = QStringLiteral("1002");
    LogCapture log;
    ForcedLogoutClient nobodyAsked;
    Authentication authentication(*m_db, m_messages, m_shared, nobodyAsked);
    TypedFields first(newEmployee, newEmployee);
    QCOMPARE(authentication.Authenticate(true, first).value, -1);
    QCOMPARE(authentication.StoredPassword(), newEmployee);
    m_messages.shown.clear();

    auto window = makeWindow(newEmployee, authentication.StoredPassword(), false);
    window->edtPasswordOld()->setText(newEmployee);
    window->edtPasswordNew()->setText(QStringLiteral("Welcome2!"));
    window->edtPasswordConfirm()->setText(QStringLiteral("Welcome2!"));
    window->imgOKClick();
    QVERIFY2(window->MayClose(), qPrintable(m_messages.texts().join(QLatin1Char('|'))));

    TypedFields mistyped(newEmployee, QStringLiteral("Welcome3?"));
    QCOMPARE(authentication.Authenticate(true, mistyped).value, 0);
    TypedFields second(newEmployee, QStringLiteral("Welcome2!"));
    const AuthResult result = authentication.Authenticate(true, second);
    QVERIFY2(result.error.isEmpty(), qPrintable(result.error));
    QCOMPARE(result.value, 1);
    QCOMPARE(m_shared.EmpNo, newEmployee);
    QCOMPARE(stored(QStringLiteral("U_EMP_NO"), newEmployee), newEmployee);

    // The operations log tells the whole story, and no password is in it.
    const QStringList lines = log.lines();
    QVERIFY2(log.linesWith({QStringLiteral("password changed: employee 1002")}).size() == 1,
             qPrintable(lines.join(u'\n')));
    QVERIFY2(log.linesWith({QStringLiteral("login refused: employee 1002 wrong password")}).size() == 1,
             qPrintable(lines.join(u'\n')));
    QVERIFY2(log.linesWith({QStringLiteral("login: employee 1002 record")}).size() == 1,
             qPrintable(lines.join(u'\n')));
    for (const QString &password : {QStringLiteral("Welcome2!"), QStringLiteral("Welcome3?")})
        QVERIFY2(log.linesWith({password}).isEmpty(), qPrintable(lines.join(u'\n')));
}

QTEST_MAIN(tst_PasswordChange)
#include "tst_passwordchange.moc"
