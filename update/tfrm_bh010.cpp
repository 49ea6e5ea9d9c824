#include "update/tfrm_bh010.h"

#include <QGuiApplication>
#include <QPainterPath>
#include <QRegion>
#include <QScreen>

namespace {

QRegion roundedRegion(int left, int top, int right, int bottom)
{
    // The corner ellipses are 6 x 6 pixels; right and bottom lie outside the shape.
    QPainterPath path;
    path.addRoundedRect(QRectF(left, top, right - left, bottom - top), 3, 3);
    return QRegion(path.toFillPolygon().toPolygon());
}

} // namespace

Tfrm_BH010::Tfrm_BH010(QWidget *parent)
    : QWidget(parent, Qt::Window | Qt::FramelessWindowHint | Qt::WindowStaysOnTopHint)
{
    setWindowTitle(QStringLiteral("Update"));
    QFont font(QStringLiteral("굴림"));
    font.setPixelSize(12);
    setFont(font);
    resize(DesignWidth, DesignHeight);
    FormCreate();
}

void Tfrm_BH010::FormCreate()
{
    const QScreen *screen = QGuiApplication::primaryScreen();
    const QRect workArea = screen ? screen->availableGeometry() : QRect(0, 0, 1024, 768);
    move(workArea.x() + workArea.width() - DesignWidth - 5,
         workArea.y() + workArea.height() - DesignHeight - 5);
    resize(DesignWidth + 2, DesignHeight + 2);
    setMask(roundedRegion(6, 6, width() - 1, height() - 1)
            | roundedRegion(0, 0, width() - 5, height() - 5));
}
