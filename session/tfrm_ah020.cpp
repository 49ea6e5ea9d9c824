#include "session/tfrm_ah020.h"

#include "db/sqldialect.h"
#include "db/sqlquery.h"
#include "db/tfrm_zd000.h"
#include "platform/cp949.h"
#include "platform/messages.h"
#include "platform/windowsystem.h"
#include "session/okpicture.h"
#include "shared/sharedvalues.h"
#include "widgets/systemcolors.h"
#include "widgets/tpelimage.h"
#include "widgets/twlabel.h"
#include "shared/logcategories.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPainter>
#include <QScreen>
#include <QValidator>

namespace {

const QString CloseRefused = QStringLiteral("비밀번호를 반드시 변경하셔야 합니다.");
const QString SameAsEmpNo = QStringLiteral("비밀번호와 사용자번호는 서로 달라야 합니다.");
const QString ShortComposition =
    QStringLiteral("9자리 이하의 비밀번호일경우에는 숫자,영문,특수문자가 포함되어야 합니다.");
const QString LongComposition =
    QStringLiteral("10자리 이상 비밀번호일경우에는 숫자,영문이 포함되어야 합니다.");
const QString SaveFailed = QStringLiteral("비밀번호를 저장하지 못했습니다.");
// When the update finds no row the password was not saved, though the server reported no error.
const QString NoRowUpdated = QStringLiteral("변경할 사용자번호를 찾을 수 없습니다.");

const QColor Maroon(128, 0, 0);

// Keeps an edit within a number of code-page-949 bytes, as the suite's edits limit their text:
// what is typed or pasted beyond the limit is dropped, the rest stays.
class Cp949LimitValidator : public QValidator
{
public:
    Cp949LimitValidator(int maxBytes, QObject *parent) : QValidator(parent), m_maxBytes(maxBytes) {}

    State validate(QString &input, int &pos) const override
    {
        // Drop the characters just inserted before the cursor until the text fits.
        while (Cp949::byteLength(input) > m_maxBytes && pos > 0) {
            int length = 1;
            if (pos >= 2 && input.at(pos - 1).isLowSurrogate() && input.at(pos - 2).isHighSurrogate())
                length = 2;
            input.remove(pos - length, length);
            pos -= length;
        }
        if (Cp949::byteLength(input) > m_maxBytes) {
            input = Cp949::truncateToBytes(input, m_maxBytes);
            pos = qMin(pos, int(input.size()));
        }
        return Acceptable;
    }

private:
    int m_maxBytes;
};

QLabel *makeLabel(QWidget *parent, const QString &text, int left, int top, const QColor &color = {})
{
    auto *label = new QLabel(text, parent);
    if (color.isValid()) {
        QPalette palette = label->palette();
        palette.setColor(QPalette::WindowText, color);
        label->setPalette(palette);
    }
    label->adjustSize();
    label->move(left, top);
    return label;
}

QLineEdit *makeEdit(QWidget *parent, const QString &name, int left, int top)
{
    auto *edit = new QLineEdit(parent);
    edit->setObjectName(name);
    edit->setFrame(false);
    edit->setGeometry(left, top, 163, 18);
    edit->setEchoMode(QLineEdit::Password);
    // Every character as "*", whatever the style would draw.
    edit->setStyleSheet(QStringLiteral("QLineEdit { lineedit-password-character: 42; }"));
    // Half-width alphanumeric input: no Hangul composition, no prediction.
    edit->setInputMethodHints(Qt::ImhHiddenText | Qt::ImhLatinOnly | Qt::ImhPreferLatin
                              | Qt::ImhNoPredictiveText | Qt::ImhSensitiveData
                              | Qt::ImhNoAutoUppercase);
    edit->setValidator(new Cp949LimitValidator(Tfrm_AH020::MaxPasswordBytes, edit));
    return edit;
}

} // namespace

namespace PasswordRules {

int byteLength(const QString &password)
{
    return Cp949::byteLength(password);
}

int longestRun(const QString &password)
{
    const QByteArray bytes = Cp949::encode(password);
    int longest = 0;
    int run = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        run = (i > 0 && bytes.at(i) == bytes.at(i - 1)) ? run + 1 : 1;
        longest = qMax(longest, run);
    }
    return longest;
}

} // namespace PasswordRules

Tfrm_AH020::Tfrm_AH020(QWidget *owner, Tfrm_ZD000 &database, Messages &messages,
                       const SharedValues &shared, WindowSystem *windows)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint), m_database(database),
      m_messages(messages), m_shared(shared)
{
    setObjectName(QStringLiteral("frm_AH020"));
    setWindowTitle(QStringLiteral("비밀번호 변경"));
    setFixedSize(305, 211);
    QFont windowFont(QStringLiteral("굴림체"));
    windowFont.setPixelSize(12);
    setFont(windowFont);

    // The background and frame; everything else lies on it.
    m_wlbBack = new TwLabel(this);
    m_wlbBack->setObjectName(QStringLiteral("wlbBack"));
    m_wlbBack->setGeometry(0, 0, 305, 249);
    m_wlbBack->setAlignment(taLeftJustify);
    m_wlbBack->setCaption(QString());

    m_label1 = makeLabel(this, QStringLiteral("비밀번호 생성규칙"), 24, 19, Maroon);
    m_label3 = makeLabel(this, QStringLiteral("1. 8자리 이상은 영문,숫자,특수문자 조합"), 40, 38, Maroon);
    m_label4 = makeLabel(this, QStringLiteral("2. 10자리 이상은 영문,숫자 조합"), 40, 54, Maroon);
    m_lblPasswordOld = makeLabel(this, QStringLiteral("이전 비밀번호"), 24, 87);
    m_lblPasswordNew = makeLabel(this, QStringLiteral("신규 비밀번호"), 24, 117);
    m_lblPasswordConfirm = makeLabel(this, QStringLiteral("비밀번호 확인"), 24, 147);
    m_label1->setObjectName(QStringLiteral("Label1"));
    m_label3->setObjectName(QStringLiteral("Label3"));
    m_label4->setObjectName(QStringLiteral("Label4"));
    m_lblPasswordOld->setObjectName(QStringLiteral("lblPasswordOld"));
    m_lblPasswordNew->setObjectName(QStringLiteral("lblPasswordNew"));
    m_lblPasswordConfirm->setObjectName(QStringLiteral("lblPasswordConfirm"));

    m_edtPasswordOld = makeEdit(this, QStringLiteral("edtPasswordOld"), 114, 84);
    m_edtPasswordNew = makeEdit(this, QStringLiteral("edtPasswordNew"), 114, 114);
    m_edtPasswordConfirm = makeEdit(this, QStringLiteral("edtPasswordConfirm"), 114, 144);
    setTabOrder(m_edtPasswordOld, m_edtPasswordNew);
    setTabOrder(m_edtPasswordNew, m_edtPasswordConfirm);
    for (QLineEdit *edit : {m_edtPasswordOld, m_edtPasswordNew, m_edtPasswordConfirm})
        edit->installEventFilter(this);

    m_imgOK = new TPelImage(this);
    m_imgOK->setObjectName(QStringLiteral("imgOK"));
    m_imgOK->setGeometry(220, 173, 57, 21);
    m_imgOK->setNormalPicture(okButtonPicture(windowFont, false));
    m_imgOK->setActivePicture(okButtonPicture(windowFont, true));
    m_imgOK->setDisabledPicture(okButtonPicture(windowFont, false));
    m_imgOK->setNormalMode(true);
    m_imgOK->setCursor(Qt::PointingHandCursor);
    connect(m_imgOK, &TPelImage::clicked, this, &Tfrm_AH020::imgOKClick);

    m_edtPasswordOld->setFocus();
    if (windows)
        windows->setWindowClass(this, QStringLiteral("Tfrm_AH020"));
}

Tfrm_AH020::~Tfrm_AH020() = default;

void Tfrm_AH020::showEvent(QShowEvent *event)
{
    // Centred over the owner (the login window), or over the screen without one.
    QRect area;
    if (QWidget *owner = parentWidget())
        area = owner->window()->frameGeometry();
    else if (QScreen *screen = QGuiApplication::primaryScreen())
        area = screen->availableGeometry();
    if (area.isValid()) {
        QRect frame = frameGeometry();
        frame.moveCenter(area.center());
        move(frame.topLeft());
    }
    QDialog::showEvent(event);
    m_edtPasswordOld->setFocus();
}

void Tfrm_AH020::showError(const QString &text)
{
    m_messages.show(text, MessageIcon::Error, MessageButtons::Ok);
}

void Tfrm_AH020::retypeNewPassword()
{
    m_edtPasswordConfirm->clear();
    m_edtPasswordNew->setFocus();
}

void Tfrm_AH020::saveFailed(const QString &error)
{
    m_database.qryQuery().close();
    m_database.rollback();
    showError(databaseFailureMessage(SaveFailed, error));
    // The toolkit's general error report: the error's own message once more.
    showError(error);
}

void Tfrm_AH020::imgOKClick()
{
    const QString oldText = m_edtPasswordOld->text();
    const QString newText = m_edtPasswordNew->text();
    const QString confirmText = m_edtPasswordConfirm->text();
    const QString quotedOld = QLatin1Char('\'') + m_lblPasswordOld->text() + QLatin1Char('\'');
    const QString quotedNew = QLatin1Char('\'') + m_lblPasswordNew->text() + QLatin1Char('\'');
    const QString quotedConfirm = QLatin1Char('\'') + m_lblPasswordConfirm->text() + QLatin1Char('\'');

    if (oldText.isEmpty()) {
        m_edtPasswordOld->setFocus();
        return;
    }
    if (newText.isEmpty()) {
        m_edtPasswordNew->setFocus();
        return;
    }
    if (confirmText.isEmpty()) {
        m_edtPasswordConfirm->setFocus();
        return;
    }
    if (oldText != m_currentPassword) {
        showError(quotedOld + QStringLiteral("를 잘못 입력하셨습니다."));
        m_edtPasswordOld->setFocus();
        return;
    }
    if (newText != confirmText) {
        showError(quotedNew + QStringLiteral("와 ") + quotedConfirm + QStringLiteral("이 서로 다릅니다."));
        m_edtPasswordConfirm->setFocus();
        return;
    }
    // The account's own number: the login takes a password equal to it for a reset one.
    QString rejection;
    if (newText == m_targetEmpNo)
        rejection = SameAsEmpNo;
    else if (oldText == newText)
        rejection = quotedOld + QStringLiteral("와 ") + quotedNew + QStringLiteral("와 다르게 입력하셔야 합니다.");
    else if (PasswordRules::byteLength(newText) < PasswordRules::MinimumBytes)
        rejection = quotedNew + QStringLiteral("는 최소 8자리 이상 입력하셔야 합니다.");
    else if (PasswordRules::longestRun(newText) > PasswordRules::LongestRun)
        rejection = quotedNew + QStringLiteral("에 같은 글자를 4번 이상 반복 입력할 수 없습니다.");
    if (!rejection.isEmpty()) {
        showError(rejection);
        retypeNewPassword();
        return;
    }

    if (!m_database.ConnectDB())
        return;

    QString error;
    SqlQuery &query = m_database.qryQuery();
    if (!m_database.inTransaction() && !m_database.startTransaction(3, &error)) {
        saveFailed(error);
        m_database.DisconnectDB();
        return;
    }

    query.setStatement(StatementId::PasswordComposition);
    query.bind(QStringLiteral("P1"), newText);
    if (!query.open(&error)) {
        saveFailed(error);
        m_database.DisconnectDB();
        return;
    }
    int total = 0, digits = 0, specials = 0, others = 0;
    if (query.next()) {
        total = query.value(0).toInt();
        digits = query.value(1).toInt();
        specials = query.value(2).toInt();
        others = query.value(3).toInt();
    }
    query.close();
    if (total < 10)
        rejection = (digits != 0 && specials != 0 && others != 0) ? QString() : ShortComposition;
    else
        rejection = (digits != 0 && others != 0) ? QString() : LongComposition;
    if (!rejection.isEmpty()) {
        // Nothing has been written; the transaction does not outlive the operation.
        m_database.rollback();
        showError(rejection);
        retypeNewPassword();
        m_database.DisconnectDB();
        return;
    }

    query.setStatement(StatementId::PasswordUpdate);
    query.bind(QStringLiteral("P0"), newText);
    query.bind(QStringLiteral("P1"), m_targetEmpNo);
    query.bind(QStringLiteral("P2"), m_shared.LocalIP);
    int rows = 0;
    if (!query.exec(&error, &rows)) {
        saveFailed(error);
        m_database.DisconnectDB();
        return;
    }
    if (rows == 0) {
        saveFailed(NoRowUpdated);
        m_database.DisconnectDB();
        return;
    }
    if (!m_database.commit(&error)) {
        saveFailed(error);
        m_database.DisconnectDB();
        return;
    }
    m_database.DisconnectDB();
    qCInfo(lcSession).noquote() << "password changed: employee" << m_targetEmpNo;
    m_mayClose = true;
    accept();
}

bool Tfrm_AH020::FormCloseQuery()
{
    if (m_mayClose)
        return true;
    showError(CloseRefused);
    return false;
}

void Tfrm_AH020::reject()
{
    if (FormCloseQuery())
        QDialog::reject();
}

void Tfrm_AH020::closeEvent(QCloseEvent *event)
{
    if (!isVisible()) {
        event->accept();
        return;
    }
    if (FormCloseQuery()) {
        QDialog::reject();
        event->accept();
    } else {
        event->ignore();
    }
}

bool Tfrm_AH020::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress
        && (watched == m_edtPasswordOld || watched == m_edtPasswordNew
            || watched == m_edtPasswordConfirm)) {
        if (edtPasswordOldKeyPress(watched, static_cast<QKeyEvent *>(event)->key()))
            return true;
    }
    return QDialog::eventFilter(watched, event);
}

// The one key handler of the three edits; true when the key is swallowed.
bool Tfrm_AH020::edtPasswordOldKeyPress(QObject *edit, int key)
{
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (edit == m_edtPasswordConfirm)
            imgOKClick();
        else
            focusNextChild();
        return true;
    case Qt::Key_Escape:
        close();
        return true;
    default:
        return false;
    }
}
