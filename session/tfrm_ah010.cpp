#include "session/tfrm_ah010.h"

#include "widgets/clickarea.h"

#include "platform/appfiles.h"
#include "platform/cp949.h"
#include "platform/imagelibrary.h"
#include "platform/mainconfig.h"
#include "platform/messages.h"
#include "platform/windowsystem.h"

#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMetaObject>
#include <QMouseEvent>
#include <QPixmap>
#include <QProxyStyle>
#include <QScreen>
#include <QValidator>
#include <QWindow>


namespace {

// A limit in code-page-949 bytes, as the suite's database columns count them. Whatever is
// typed, pasted or committed by an input method is cut so the text fits; the text that was
// already there is kept.
class ByteLimitValidator : public QValidator
{
public:
    ByteLimitValidator(int maxBytes, QLineEdit *edit) : QValidator(edit), m_maxBytes(maxBytes)
    {
        connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) { m_previous = text; });
    }

    State validate(QString &input, int &pos) const override
    {
        if (Cp949::byteLength(input) <= m_maxBytes)
            return Acceptable;
        // The new text is the old one with something put in just before the cursor.
        const QString &old = m_previous;
        const int after = input.size() - pos;
        int before = 0;
        if (pos >= 0 && after >= 0 && after <= old.size()
            && QStringView(old).right(after) == QStringView(input).mid(pos)) {
            const int limit = qMin(pos, int(old.size()) - after);
            while (before < limit && old.at(before) == input.at(before))
                ++before;
            const QString kept = input.left(before) + input.mid(pos);
            const int room = m_maxBytes - Cp949::byteLength(kept);
            if (room >= 0) {
                const QString inserted = Cp949::truncateToBytes(input.mid(before, pos - before), room);
                input = input.left(before) + inserted + input.mid(pos);
                pos = before + int(inserted.size());
                return Acceptable;
            }
        }
        input = Cp949::truncateToBytes(input, m_maxBytes);
        pos = qMin(pos, int(input.size()));
        return Acceptable;
    }

private:
    int m_maxBytes;
    QString m_previous;
};

// The password field shows each character as "*", whatever the platform's style would use.
class PasswordStyle : public QProxyStyle
{
public:
    int styleHint(StyleHint hint, const QStyleOption *option, const QWidget *widget,
                  QStyleHintReturn *returnData) const override
    {
        if (hint == SH_LineEdit_PasswordCharacter)
            return '*';
        return QProxyStyle::styleHint(hint, option, widget, returnData);
    }
};

const QString LoginSection = QStringLiteral("LOGIN");

// Whether an employee number is blank: only characters up to the space count as blanks, so a
// number of full-width spaces (U+3000), which the Korean input method types, is looked up like
// any other text.
bool blankNumber(const QString &text)
{
    for (const QChar c : text) {
        if (c.unicode() > u' ')
            return false;
    }
    return true;
}

} // namespace

Tfrm_AH010::Tfrm_AH010(QWidget *owner, Authenticator &authenticator,
                       PasswordChanger &passwordChanger, Messages &messages, const QString &appDir,
                       WindowSystem *windows)
    : QDialog(owner, Qt::Dialog | Qt::FramelessWindowHint),
      m_authenticator(authenticator),
      m_passwordChanger(passwordChanger),
      m_messages(messages),
      m_appDir(appDir)
{
    setObjectName(QStringLiteral("frm_AH010"));
    setWindowTitle(QStringLiteral("Login"));
    QFont windowFont(QStringLiteral("굴림체"));
    windowFont.setPixelSize(12);
    setFont(windowFont);
    setBackgroundRole(QPalette::Button);
    setAutoFillBackground(true);
    // The design size and place, kept when there is no picture library.
    setGeometry(455, 238, 193, 97);
    if (windows)
        windows->setWindowClass(this, QStringLiteral("Tfrm_AH010"));
}

Tfrm_AH010::~Tfrm_AH010() = default;

QWidget *Tfrm_AH010::imgClose() const { return m_imgClose; }
QWidget *Tfrm_AH010::imgLogin() const { return m_imgLogin; }
QWidget *Tfrm_AH010::imgPassChange() const { return m_imgPassChange; }

int Tfrm_AH010::exec()
{
    QString error;
    if (!BuildControls(&error)) {
        m_messages.show(error, MessageIcon::Error);
        setResult(Rejected);
        return Rejected;
    }
    m_built = true;
    return QDialog::exec();
}

void Tfrm_AH010::showEvent(QShowEvent *event)
{
    QDialog::showEvent(event);
    watchWindow();
    // The employee types at once: without a window manager nothing else gives the window the
    // keyboard.
    activateWindow();
    if (m_built)
        return;
    QString error;
    if (!BuildControls(&error)) {
        m_messages.show(error, MessageIcon::Error);
        QMetaObject::invokeMethod(this, &QDialog::reject, Qt::QueuedConnection);
        return;
    }
    m_built = true;
}

void Tfrm_AH010::watchWindow()
{
    QWindow *window = windowHandle();
    if (window == m_watchedWindow)
        return;
    if (m_watchedWindow)
        m_watchedWindow->removeEventFilter(this);
    m_watchedWindow = window;
    if (window)
        window->installEventFilter(this);
}

void Tfrm_AH010::hideEvent(QHideEvent *event)
{
    // The next show builds the window afresh from the picture and Main.ini.
    m_built = false;
    m_dragging = false;
    QDialog::hideEvent(event);
}

void Tfrm_AH010::clearControls()
{
    for (QWidget *widget : {static_cast<QWidget *>(m_imgBackground), static_cast<QWidget *>(m_imgClose),
                            static_cast<QWidget *>(m_edtID), static_cast<QWidget *>(m_edtPassword),
                            static_cast<QWidget *>(m_imgLogin), static_cast<QWidget *>(m_imgPassChange)}) {
        delete widget;
    }
    m_imgBackground = nullptr;
    m_imgClose = nullptr;
    m_edtID = nullptr;
    m_edtPassword = nullptr;
    m_imgLogin = nullptr;
    m_imgPassChange = nullptr;
}

bool Tfrm_AH010::BuildControls(QString *error)
{
    clearControls();

    // Read the layout first: a window that cannot log in is not shown at all.
    const QString iniPath = findAppFile(m_appDir, QStringLiteral("Main.ini"));
    LoginConfig config;
    ConfigError configError;
    if (!readLoginConfig(iniPath, config, &configError)) {
        *error = configError.message();
        return false;
    }
    QStringList missing;
    if (!config.id)
        missing.append(QStringLiteral("ID"));
    if (!config.password)
        missing.append(QStringLiteral("PASSWORD"));
    if (!missing.isEmpty()) {
        *error = QStringLiteral("설정 파일 %1의 [%2] 섹션에 %3 값이 없어 로그인할 수 없습니다.")
                     .arg(QDir::toNativeSeparators(iniPath), LoginSection,
                          missing.join(QStringLiteral(", ")));
        return false;
    }

    QString libraryError;
    const QString libraryPath = findAppFile(m_appDir, QStringLiteral("MainImg.dll"));
    if (const auto library = ImageLibrary::load(libraryPath, &libraryError)) {
        const QImage picture = library->bitmap(QStringLiteral("LOGIN"), &libraryError);
        if (picture.isNull()) {
            *error = QStringLiteral("그림 파일 %1에 그림 \"LOGIN\"이(가) 없습니다. %2")
                         .arg(QDir::toNativeSeparators(libraryPath), libraryError);
            return false;
        }
        m_imgBackground = new QLabel(this);
        m_imgBackground->setObjectName(QStringLiteral("imgBackground"));
        m_imgBackground->setPixmap(QPixmap::fromImage(picture));
        m_imgBackground->setGeometry(0, 0, picture.width(), picture.height());
        m_imgBackground->lower();
        resize(picture.size());
        if (const QScreen *screen = QGuiApplication::primaryScreen()) {
            const QRect area = screen->geometry();
            move(area.left() + (area.width() - width()) / 2,
                 area.top() + (area.height() - height()) / 2);
        }
    }

    auto makeClickArea = [this](const QRect &bounds, const QString &name, void (Tfrm_AH010::*handler)()) {
        auto *area = new ClickArea(this);
        area->setObjectName(name);
        area->setGeometry(bounds);
        connect(area, &ClickArea::clicked, this, handler);
        area->show();
        return area;
    };
    auto makeEdit = [this](const QRect &bounds, const QString &name, int maxBytes) {
        auto *edit = new QLineEdit(this);
        edit->setObjectName(name);
        edit->setGeometry(bounds);
        edit->setFrame(false);
        edit->setValidator(new ByteLimitValidator(maxBytes, edit));
        edit->installEventFilter(this);
        edit->show();
        return edit;
    };

    if (config.close)
        m_imgClose = makeClickArea(*config.close, QStringLiteral("imgClose"), &Tfrm_AH010::imgCloseClick);
    m_edtID = makeEdit(*config.id, QStringLiteral("edtID"), IdMaxBytes);
    m_edtPassword = makeEdit(*config.password, QStringLiteral("edtPassword"), PasswordMaxBytes);
    auto *passwordStyle = new PasswordStyle;
    passwordStyle->setParent(m_edtPassword);
    m_edtPassword->setStyle(passwordStyle);
    m_edtPassword->setEchoMode(QLineEdit::Password);
    if (config.login)
        m_imgLogin = makeClickArea(*config.login, QStringLiteral("imgLogin"), &Tfrm_AH010::imgLoginClick);
    if (config.passChange)
        m_imgPassChange = makeClickArea(*config.passChange, QStringLiteral("imgPassChange"),
                                      &Tfrm_AH010::imgPassChangeClick);
    // The hot areas are drawn on the picture, beneath the edits: where one overlaps an edit,
    // the edit takes the click.
    m_edtID->raise();
    m_edtPassword->raise();
    if (m_imgBackground)
        m_imgBackground->show();

    m_edtID->setFocus();
    return true;
}

QString Tfrm_AH010::employeeNumber() const
{
    return m_edtID ? m_edtID->text() : QString();
}

QString Tfrm_AH010::password() const
{
    return m_edtPassword ? m_edtPassword->text() : QString();
}

void Tfrm_AH010::clearFields()
{
    if (m_edtID)
        m_edtID->clear();
    if (m_edtPassword)
        m_edtPassword->clear();
}

void Tfrm_AH010::selectPassword()
{
    if (m_edtPassword)
        m_edtPassword->selectAll();
}

void Tfrm_AH010::imgLoginClick()
{
    if (!m_edtID || !m_edtPassword)
        return;
    if (blankNumber(m_edtID->text())) {
        m_edtID->setFocus();
        return;
    }
    // A password of blanks is a password.
    if (m_edtPassword->text().isEmpty()) {
        m_edtPassword->setFocus();
        return;
    }
    const AuthResult result = m_authenticator.Authenticate(true, *this);
    if (!result.error.isEmpty()) {
        m_messages.show(result.error, MessageIcon::Error);
        return;
    }
    switch (result.value) {
    case 1:
        accept();
        break;
    case -1:
        m_passwordChanger.changePassword(this, m_edtID->text(), m_authenticator.StoredPassword(), false);
        m_edtPassword->clear();
        m_edtPassword->setFocus();
        break;
    default:
        m_edtID->setFocus();
        break;
    }
}

void Tfrm_AH010::imgPassChangeClick()
{
    if (!m_edtID || !m_edtPassword)
        return;
    if (blankNumber(m_edtID->text())) {
        m_edtID->setFocus();
        return;
    }
    // Only the look-up and its messages count here; the change window opens whatever it found.
    const AuthResult result = m_authenticator.Authenticate(false, *this);
    if (!result.error.isEmpty()) {
        m_messages.show(result.error, MessageIcon::Error);
        return;
    }
    m_passwordChanger.changePassword(this, m_edtID->text(), m_authenticator.StoredPassword(), true);
    m_edtPassword->clear();
    m_edtPassword->setFocus();
}

void Tfrm_AH010::imgCloseClick()
{
    reject();
}

void Tfrm_AH010::keyPressEvent(QKeyEvent *event)
{
    // The window has no cancel button: Escape does not close it, only the close area does.
    if (event->key() == Qt::Key_Escape) {
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

bool Tfrm_AH010::edtKeyDown(QLineEdit *edit, int key)
{
    const bool inId = edit == m_edtID;
    switch (key) {
    case Qt::Key_Return:
    case Qt::Key_Enter:
        if (inId)
            m_edtPassword->setFocus();
        else
            imgLoginClick();
        return true;
    case Qt::Key_Up:
    case Qt::Key_Down:
        (inId ? m_edtPassword : m_edtID)->setFocus();
        return true;
    default:
        return false;
    }
}

Tfrm_AH010::HitTest Tfrm_AH010::hitTest(const QPoint &pos) const
{
    const QWidget *controls[] = {m_imgLogin, m_imgPassChange, m_imgClose, m_edtID, m_edtPassword};
    for (const QWidget *control : controls) {
        if (!control)
            continue;
        const QRect r = control->geometry();
        if (r.left() < pos.x() && pos.x() < r.left() + r.width() && r.top() < pos.y()
            && pos.y() < r.top() + r.height())
            return HitTest::Client;
    }
    return HitTest::Caption;
}

void Tfrm_AH010::startDrag(const QPoint &globalPos)
{
    if (QWindow *window = windowHandle()) {
        if (window->startSystemMove())
            return;
    }
    m_dragging = true;
    m_dragStartGlobal = globalPos;
    m_dragStartPos = pos();
}

bool Tfrm_AH010::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == m_edtID || watched == m_edtPassword) {
        if (event->type() == QEvent::KeyPress
            && edtKeyDown(static_cast<QLineEdit *>(watched), static_cast<QKeyEvent *>(event)->key()))
            return true;
        return QDialog::eventFilter(watched, event);
    }
    if (watched != m_watchedWindow || !m_watchedWindow)
        return QDialog::eventFilter(watched, event);

    // The press is decided on the window before any control sees it, so a press that moves the
    // window neither focuses an edit nor starts a click.
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonDblClick: {
        auto *mouse = static_cast<QMouseEvent *>(event);
        if (hitTest(mouse->position().toPoint()) == HitTest::Client)
            break;
        if (mouse->button() == Qt::LeftButton && event->type() == QEvent::MouseButtonPress)
            startDrag(mouse->globalPosition().toPoint());
        return true;
    }
    case QEvent::MouseMove:
        if (m_dragging) {
            auto *mouse = static_cast<QMouseEvent *>(event);
            move(m_dragStartPos + mouse->globalPosition().toPoint() - m_dragStartGlobal);
            return true;
        }
        break;
    case QEvent::MouseButtonRelease:
        if (m_dragging) {
            m_dragging = false;
            return true;
        }
        break;
    default:
        break;
    }
    return QDialog::eventFilter(watched, event);
}

