#pragma once
#include <QString>

// Where the operations log goes (categories "orsa.*", see shared/logcategories.h). Every message
// still reaches standard error as before, where a desktop session's journal collects it; the
// lines of the shell's own categories go to the system log as well: syslog with ident "orsa" on
// Linux, the event log (source "orsa") on Windows. Installed once, by the entry point.
void installOperationsLog();

namespace OperationsLog {
// Hands one line to the system log; platform code (_unix / _win). Error is true for warnings and
// worse, which the system log marks as such.
void toSystemLog(const QString &category, const QString &message, bool error);
} // namespace OperationsLog
