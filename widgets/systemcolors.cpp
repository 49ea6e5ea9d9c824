#include "widgets/systemcolors.h"

#include <QGuiApplication>
#include <QPalette>

namespace {
QColor role(QPalette::ColorRole colorRole)
{
    return QGuiApplication::palette().color(QPalette::Active, colorRole);
}
} // namespace

QColor SystemColor::btnFace() { return role(QPalette::Button); }
QColor SystemColor::btnShadow() { return role(QPalette::Dark); }
QColor SystemColor::btnHighlight() { return role(QPalette::Light); }
QColor SystemColor::darkShadow() { return role(QPalette::Shadow); }
QColor SystemColor::infoBk() { return role(QPalette::ToolTipBase); }
QColor SystemColor::windowText() { return role(QPalette::WindowText); }
