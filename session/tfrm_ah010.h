#pragma once
#include "session/sessioninterfaces.h"

#include <QDialog>
#include <QPoint>
#include <QPointer>
#include <QString>

class Messages;
class WindowSystem;
class QLineEdit;
class QLabel;
class QWindow;
class ClickArea;

// The login window: a borderless picture with the employee-number and password fields and the
// hot areas for closing, logging in and changing the password, all placed by section LOGIN of
// Main.ini over the picture "LOGIN" of MainImg.dll. It is built anew on every show and ends
// with Accepted only after a successful login.
class Tfrm_AH010 : public QDialog, public LoginFields
{
    Q_OBJECT

public:
    enum class HitTest { Client, Caption };

    // appDir: the directory of Main.ini and MainImg.dll. windows, when given, names the
    // window "Tfrm_AH010" for the other programs of the suite.
    Tfrm_AH010(QWidget *owner, Authenticator &authenticator, PasswordChanger &passwordChanger,
               Messages &messages, const QString &appDir, WindowSystem *windows = nullptr);
    ~Tfrm_AH010() override;

    // Builds the window and runs it modally. A window that cannot be built (a value of section
    // LOGIN that does not convert, a missing ID or PASSWORD, a missing picture) shows why and
    // answers Rejected without appearing.
    int exec() override;

    // LoginFields
    QString employeeNumber() const override;
    QString password() const override;
    void clearFields() override;
    void selectPassword() override;

    // Whether a press at pos (window coordinates) stays with a control or moves the window:
    // only a point strictly inside a hot area or an edit keeps the click.
    HitTest hitTest(const QPoint &pos) const;

    void imgLoginClick();
    void imgPassChangeClick();
    void imgCloseClick();

    QLineEdit *edtID() const { return m_edtID; }
    QLineEdit *edtPassword() const { return m_edtPassword; }
    QWidget *imgClose() const;
    QWidget *imgLogin() const;
    QWidget *imgPassChange() const;
    QLabel *imgBackground() const { return m_imgBackground; }

    // The byte limits of the two fields, counted in code page 949.
    static constexpr int IdMaxBytes = 10;
    static constexpr int PasswordMaxBytes = 20;

protected:
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool BuildControls(QString *error);
    void clearControls();
    void watchWindow();
    bool edtKeyDown(QLineEdit *edit, int key);
    void startDrag(const QPoint &globalPos);

    Authenticator &m_authenticator;
    PasswordChanger &m_passwordChanger;
    Messages &m_messages;
    QString m_appDir;

    QLabel *m_imgBackground = nullptr;
    ClickArea *m_imgClose = nullptr;
    QLineEdit *m_edtID = nullptr;
    QLineEdit *m_edtPassword = nullptr;
    ClickArea *m_imgLogin = nullptr;
    ClickArea *m_imgPassChange = nullptr;

    QPointer<QWindow> m_watchedWindow;
    bool m_built = false;
    // A move by hand where the window system cannot move the window itself.
    bool m_dragging = false;
    QPoint m_dragStartGlobal;
    QPoint m_dragStartPos;
};
