#pragma once
#include <QDialog>
#include <QString>

class Messages;
class QLabel;
class QLineEdit;
class TPelImage;
class Tfrm_ZD000;
class TwLabel;
class WindowSystem;
struct SharedValues;

// The password change window. The login opens it modally, either forced (a new, reset or
// expired password: it cannot be left before a new password is saved) or voluntary (it may be
// closed at any time). It checks the old password against the one the login decoded, checks
// the new one against the password rules, one of them counted by the database server, and
// saves it through the server's encoding function with who changed it, when and where.
class Tfrm_AH020 : public QDialog
{
    Q_OBJECT

public:
    // Longest text of each edit, in bytes of code page 949.
    static constexpr int MaxPasswordBytes = 20;

    // With a window system, the window carries its class name "Tfrm_AH020" for other programs.
    Tfrm_AH020(QWidget *owner, Tfrm_ZD000 &database, Messages &messages,
               const SharedValues &shared, WindowSystem *windows = nullptr);
    ~Tfrm_AH020() override;

    // The employee number whose password is changed, as typed on the login window.
    QString TargetEmpNo() const { return m_targetEmpNo; }
    void setTargetEmpNo(const QString &empNo) { m_targetEmpNo = empNo; }
    // The account's current password as the login decoded it.
    QString CurrentPassword() const { return m_currentPassword; }
    void setCurrentPassword(const QString &password) { m_currentPassword = password; }
    // true: the window may be closed without saving. A successful save sets it.
    bool MayClose() const { return m_mayClose; }
    void setMayClose(bool mayClose) { m_mayClose = mayClose; }

    // The checks and the save of the OK button.
    void imgOKClick();
    // Closing is allowed exactly when MayClose; otherwise the user is told to change the
    // password and the window stays.
    bool FormCloseQuery();

    QLineEdit *edtPasswordOld() const { return m_edtPasswordOld; }
    QLineEdit *edtPasswordNew() const { return m_edtPasswordNew; }
    QLineEdit *edtPasswordConfirm() const { return m_edtPasswordConfirm; }
    TPelImage *imgOK() const { return m_imgOK; }
    TwLabel *wlbBack() const { return m_wlbBack; }

    void reject() override;

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void closeEvent(QCloseEvent *event) override;
    void showEvent(QShowEvent *event) override;

private:
    // After a rejected new password: the confirmation is typed again, the new one is kept.
    void retypeNewPassword();
    void showError(const QString &text);
    // A database error of the save: rolled back, told, and passed on like every error that
    // a handler does not catch.
    void saveFailed(const QString &error);
    bool edtPasswordOldKeyPress(QObject *edit, int key);

    Tfrm_ZD000 &m_database;
    Messages &m_messages;
    const SharedValues &m_shared;
    QString m_targetEmpNo;
    QString m_currentPassword;
    bool m_mayClose = false;

    TwLabel *m_wlbBack = nullptr;
    QLabel *m_label1 = nullptr;
    QLabel *m_label3 = nullptr;
    QLabel *m_label4 = nullptr;
    QLabel *m_lblPasswordOld = nullptr;
    QLabel *m_lblPasswordNew = nullptr;
    QLabel *m_lblPasswordConfirm = nullptr;
    QLineEdit *m_edtPasswordOld = nullptr;
    QLineEdit *m_edtPasswordNew = nullptr;
    QLineEdit *m_edtPasswordConfirm = nullptr;
    TPelImage *m_imgOK = nullptr;
};

// The rules of a new password that the window checks itself, in code-page-949 bytes.
namespace PasswordRules {
constexpr int MinimumBytes = 8;
constexpr int LongestRun = 3;  // equal bytes in a row that are still allowed
int byteLength(const QString &password);
// The longest run of one byte repeated in a row in the code-page-949 text.
int longestRun(const QString &password);
} // namespace PasswordRules
