#pragma once
#include <QString>

// The path of a file of the suite in the given directory. The suite is installed from Windows,
// where file names are not case-sensitive ("PelUpdate.exe" may lie here as "PELUPDATE.EXE"), so
// each part of the name is taken exactly when it exists and otherwise matched without regard
// to case. Backslashes in the name separate directories, as on Windows. When nothing matches,
// the exact path is returned, so the caller's own "not found" handling applies.
QString findAppFile(const QString &dir, const QString &name);
