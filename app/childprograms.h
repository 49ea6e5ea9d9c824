#pragma once

class Messages;
class WindowSystem;

// The shell remembers nothing about the programs it started: it learns what runs from the
// window classes of the project programs ("Tfrm" L "0Main" for the letters A to Z), looking
// again every time, because programs of the suite start and end on their own.

// How many of the 26 project-program classes have a window now (0 to 26). One scan of the
// desktop's windows; two windows of one class count once.
int CountChildPrograms(WindowSystem &windows);

// Closes the updater's windows ("TPelUpdateMainForm") and then every project program, after a
// question when ask is on. True when the closing went ahead (nothing ran, or the answer was
// Yes); false when the user said No, and then nothing of the programs is closed. It does not
// wait for the programs to end. An updater that does not close is given up on after
// updaterTimeoutMs.
bool CloseChildPrograms(WindowSystem &windows, Messages &messages, bool ask,
                        int updaterTimeoutMs = 5000);
