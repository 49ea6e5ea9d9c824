#pragma once

// The windows of the suite name the Windows Korean fonts "굴림", "굴림체" and "바탕". Where
// they are not installed, the Nanum fonts take their place (proportional, fixed-pitch and
// serif in that order). Call once after the application object exists, before any window
// is built.
void installKoreanFontSubstitutes();
