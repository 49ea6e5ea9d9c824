#pragma once
#include <QDialog>
#include <QPoint>
#include <QRect>
#include <QSize>
#include <QString>

class QAbstractItemView;
class QComboBox;
class QLabel;
class TPelImage;
class TwLabel;
class WindowSystem;
struct SharedValues;

// The team-role window: before a project that runs under a team role starts, the employee
// picks one of the role codes granted for it (or all of them), and the choice goes into the
// project's role file beside the executable, AppDir + PROJECT_ID + ".ini", section [Role].
// The project program reads the role from there; its command line carries none.
class Tfrm_AH120 : public QDialog
{
    Q_OBJECT

public:
    static constexpr int ClientWidth = 300;
    static constexpr int ClientHeight = 75;

    // With a window system, the window carries its class name "Tfrm_AH120" for other programs.
    Tfrm_AH120(QWidget *owner, const SharedValues &shared, WindowSystem *windows = nullptr);
    ~Tfrm_AH120() override;

    // Where the window goes for a project button: just under the button, its left edge with
    // the button's, but never beyond the owner's right edge (then 5 pixels inside it). All in
    // screen coordinates except the button, which is in the owner's.
    static QPoint placeUnder(const QRect &owner, const QRect &button, const QSize &window);

    QString ProjectId() const { return m_projectId; }
    void setProjectId(const QString &projectId) { m_projectId = projectId; }
    int ProjectIndex() const { return m_projectIndex; }

    // Offers the project's granted roles; the number of them (the "all" entry not counted).
    // With exactly one the choice is saved at once and the window need not be shown.
    int FillRoles();
    // Writes the current choice into the role file; false, with the reason in SaveError(),
    // when the file could not be written.
    bool SaveRole();
    void imgOKClick();

    // The path of the role file (an existing one whose name differs only in letter case is
    // the one used: the suite is installed from Windows).
    QString roleFilePath() const;
    // Why the last save failed; empty when it succeeded or nothing was saved.
    QString SaveError() const { return m_saveError; }
    bool saved() const { return m_saved; }

    TwLabel *wlbBack() const { return m_wlbBack; }
    QLabel *lblTeamRole() const { return m_lblTeamRole; }
    QComboBox *cbbTeamRole() const { return m_cbbTeamRole; }
    TPelImage *imgOK() const { return m_imgOK; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;
    void keyPressEvent(QKeyEvent *event) override;

private:
    int teamRoleType() const;

    const SharedValues &m_shared;
    QString m_projectId;
    int m_projectIndex = -1;
    QString m_saveError;
    bool m_saved = false;

    TwLabel *m_wlbBack = nullptr;
    QLabel *m_lblTeamRole = nullptr;
    QComboBox *m_cbbTeamRole = nullptr;
    QAbstractItemView *m_cbbTeamRoleList = nullptr;  // the dropped-down list of m_cbbTeamRole
    TPelImage *m_imgOK = nullptr;
};
