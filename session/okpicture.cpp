#include "session/okpicture.h"

#include "widgets/systemcolors.h"

#include <QFont>
#include <QPainter>

QImage okButtonPicture(const QFont &font, bool active)
{
    QImage image(57, 21, QImage::Format_RGB32);
    image.fill(SystemColor::btnFace());
    QPainter painter(&image);
    const QRect r = image.rect();
    painter.setPen(SystemColor::btnHighlight());
    painter.drawLine(r.topLeft(), r.topRight() - QPoint(1, 0));
    painter.drawLine(r.topLeft(), r.bottomLeft() - QPoint(0, 1));
    painter.setPen(SystemColor::darkShadow());
    painter.drawLine(r.bottomLeft(), r.bottomRight());
    painter.drawLine(r.topRight(), r.bottomRight());
    painter.setPen(SystemColor::btnShadow());
    painter.drawLine(r.bottomLeft() + QPoint(1, -1), r.bottomRight() - QPoint(1, 1));
    painter.drawLine(r.topRight() + QPoint(-1, 1), r.bottomRight() - QPoint(1, 1));
    painter.setFont(font);
    painter.setPen(active ? QColor(0, 0, 128) : SystemColor::windowText());
    painter.drawText(r.adjusted(1, 1, -2, -2), Qt::AlignCenter, QStringLiteral("확인"));
    return image;
}
