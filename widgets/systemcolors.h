#pragma once
#include <QColor>

// The system colours of the suite's windows, taken from the application palette when asked.
namespace SystemColor {
QColor btnFace();       // background of buttons and dialogs
QColor btnShadow();     // the shadow side of a 3-D edge
QColor btnHighlight();  // the lit side of a 3-D edge
QColor darkShadow();    // the darkest shadow of a 3-D edge
QColor infoBk();        // background of tool tips
QColor windowText();    // text of windows
} // namespace SystemColor
