#include "app/netservicenames.h"

#include <QString>

#include <windows.h>

// The Oracle 9.2 client of the workstations reads its names from this one place.
void copyNetServiceNames()
{
    const QString target = QStringLiteral("C:\\oracle\\ora92\\network\\admin\\tnsnames.ora");
    CopyFileW(L".\\tnsnames.ora", reinterpret_cast<const wchar_t *>(target.utf16()), FALSE);
}
