#pragma once
#include <QImage>

class QFont;

// The OK picture of the dialogs' confirm button (57 x 21): a raised button face with its
// caption, lit while the pointer is over it.
QImage okButtonPicture(const QFont &font, bool active);
