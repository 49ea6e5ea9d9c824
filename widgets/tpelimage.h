#pragma once
#include <QImage>
#include <QString>
#include <QWidget>

// The picture button of the project row. It holds three pictures and shows one of them: in
// normal mode the normal picture, or the active one while the pointer is over the button;
// outside normal mode the disabled picture, whatever the pointer does.
//
// The shown picture is a copy of one of the three, drawn at the top-left corner without
// scaling. The three owned pictures are handed out by reference, so the owner may load an
// image straight into one of them; that does not change the shown picture until the owner
// copies the right one into it (setPicture) or a setter shows it.
//
// The button does not act on clicks itself: the owner connects or disconnects clicked() and
// sets the cursor whenever it changes the mode.
class TPelImage : public QWidget
{
    Q_OBJECT

public:
    explicit TPelImage(QWidget *owner = nullptr);
    ~TPelImage() override;

    bool NormalMode() const { return m_normalMode; }
    void setNormalMode(bool normalMode);

    QImage &NormalPicture() { return m_normalPicture; }
    const QImage &NormalPicture() const { return m_normalPicture; }
    void setNormalPicture(const QImage &picture);

    QImage &ActivePicture() { return m_activePicture; }
    const QImage &ActivePicture() const { return m_activePicture; }
    void setActivePicture(const QImage &picture);

    QImage &DisabledPicture() { return m_disabledPicture; }
    const QImage &DisabledPicture() const { return m_disabledPicture; }
    void setDisabledPicture(const QImage &picture);

    // The picture on show. Changing it asks for a repaint in the normal course of events.
    const QImage &Picture() const { return m_picture; }
    void setPicture(const QImage &picture);

    // Free values for the owner: the main window keeps the project id in the hint and the
    // project's right in the tag. The hint is not shown as a tool tip.
    QString hint() const { return m_hint; }
    void setHint(const QString &hint) { m_hint = hint; }
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    QSize sizeHint() const override;

Q_SIGNALS:
    // A left-button press on the button followed by its release inside it.
    void clicked();

protected:
    void paintEvent(QPaintEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    void showPicture(const QImage &picture);

    bool m_normalMode = false;
    QImage m_normalPicture;
    QImage m_activePicture;
    QImage m_disabledPicture;
    QImage m_picture;
    QString m_hint;
    int m_tag = 0;
    bool m_pressed = false;
};
