#pragma once
#include <QString>

class QFile;

// Opening a file that the shell rewrites in place (a project's role file). Such a file may lie in
// a directory other users can write, so a name that has been replaced by a symbolic link, a
// device or a pipe is never written through: only a regular file under that very name is
// opened, and the name is not resolved through a link at any moment between the check and the
// open.
namespace InPlaceFile {

enum class Opened { Yes, Missing, Refused };

// Opens the existing file at path for reading and writing, unbuffered. Missing: nothing of that
// name exists (a dangling link exists, and is refused). Refused: the reason in error.
Opened openExisting(QFile &file, const QString &path, QString *error);

// Creates the file at path, which must not exist yet, and opens it for reading and writing.
bool createNew(QFile &file, const QString &path, QString *error);

} // namespace InPlaceFile
