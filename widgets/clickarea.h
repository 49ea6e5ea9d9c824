#pragma once
#include <QWidget>

// An invisible area of a picture that acts when clicked the way a button does (pressed and
// released over it): the minimise and close spots of the main window, the hot areas of the
// login window.
class ClickArea : public QWidget
{
    Q_OBJECT
public:
    explicit ClickArea(QWidget *parent = nullptr);

Q_SIGNALS:
    void clicked();

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    bool m_pressed = false;
};
