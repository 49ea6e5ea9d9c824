#pragma once
#include <QLabel>
#include <QString>
#include <QWidget>

#include <functional>

class Messages;
class WindowSystem;

// A text of the notice that reacts to the mouse: blue and underlined under the pointer.
class NoticeLabel : public QLabel
{
    Q_OBJECT
public:
    explicit NoticeLabel(QWidget *parent = nullptr);

    // The text as the notice holds it ("\r\n" between lines).
    void setCaption(const QString &caption);
    QString caption() const { return m_caption; }

    void lblMouseEnter();
    void lblMouseLeave();

Q_SIGNALS:
    void clicked();

protected:
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    QString m_caption;
};

// What the notice needs to restart its program: the desktop, the message boxes and the
// launcher of the main window.
struct NoticeActions
{
    WindowSystem *windows = nullptr;
    Messages *messages = nullptr;
    std::function<void(const QString &programFile)> launchProgram;
    // How long the running program is given to close.
    int closeTimeoutMs = 5000;
};

// The update notice: a small card in the bottom-right corner of the work area that offers to
// restart a project program whose executable is newer on the update server. The start-up keeps
// one that is never shown; every notice the user sees is a window of its own.
class Tfrm_BH010 : public QWidget
{
    Q_OBJECT
public:
    explicit Tfrm_BH010(QWidget *parent = nullptr);

    QString ProgramTitle;
    QString ProgramName;

    void setActions(NoticeActions actions) { m_actions = std::move(actions); }

    static constexpr int DesignWidth = 270;
    static constexpr int DesignHeight = 65;
    static const QString UpdateCaption;   // the design text of lblUpdate
    static const QString CloseCaption;

    QLabel *imgUpdate() const { return m_imgUpdate; }
    NoticeLabel *lblUpdate() const { return m_lblUpdate; }
    NoticeLabel *lblClose() const { return m_lblClose; }

    void lblCloseClick();
    void lblUpdateClick();

protected:
    void showEvent(QShowEvent *event) override;

private:
    void FormCreate();
    void FormShow();

    NoticeActions m_actions;
    QLabel *m_imgUpdate = nullptr;
    NoticeLabel *m_lblUpdate = nullptr;
    NoticeLabel *m_lblClose = nullptr;
};

// The background card of the notice, drawn to fit its shape.
QImage noticeBackground();
