#include "widgets/tpelimage.h"

#include <QMouseEvent>
#include <QPainter>

TPelImage::TPelImage(QWidget *owner)
    : QWidget(owner)
{
    // The size of a picture control before the owner places it.
    resize(105, 105);
}

TPelImage::~TPelImage() = default;

void TPelImage::setNormalMode(bool normalMode)
{
    if (normalMode == m_normalMode)
        return;
    m_normalMode = normalMode;
    showPicture(m_normalMode ? m_normalPicture : m_disabledPicture);
    repaint();
}

void TPelImage::setNormalPicture(const QImage &picture)
{
    m_normalPicture = picture;
    if (m_normalMode)
        showPicture(m_normalPicture);
}

void TPelImage::setActivePicture(const QImage &picture)
{
    // Only kept for the next time the pointer enters; what is on show stays.
    m_activePicture = picture;
}

void TPelImage::setDisabledPicture(const QImage &picture)
{
    m_disabledPicture = picture;
    if (!m_normalMode)
        showPicture(m_disabledPicture);
}

void TPelImage::setPicture(const QImage &picture)
{
    showPicture(picture);
}

QSize TPelImage::sizeHint() const
{
    return m_picture.isNull() ? QWidget::sizeHint() : m_picture.deviceIndependentSize().toSize();
}

void TPelImage::showPicture(const QImage &picture)
{
    m_picture = picture;
    update();
}

void TPelImage::paintEvent(QPaintEvent *)
{
    if (m_picture.isNull())
        return;
    QPainter painter(this);
    painter.drawImage(QPoint(0, 0), m_picture);
}

void TPelImage::enterEvent(QEnterEvent *event)
{
    if (m_normalMode)
        showPicture(m_activePicture);
    repaint();
    QWidget::enterEvent(event);
}

void TPelImage::leaveEvent(QEvent *event)
{
    if (m_normalMode)
        showPicture(m_normalPicture);
    repaint();
    QWidget::leaveEvent(event);
}

void TPelImage::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QWidget::mousePressEvent(event);
}

void TPelImage::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QWidget::mouseReleaseEvent(event);
}
