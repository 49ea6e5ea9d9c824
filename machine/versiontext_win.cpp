#include "machine/pelfunction.h"

#include <QByteArray>

#include <windows.h>

// The file version of the executable's own version resource (app/orsa.rc), so that the text
// the shell shows is the one Explorer shows; "" when the executable has none.
QString GetVersionText()
{
    wchar_t path[MAX_PATH];
    const DWORD length = ::GetModuleFileNameW(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return QString();
    DWORD handle = 0;
    const DWORD size = ::GetFileVersionInfoSizeW(path, &handle);
    if (size == 0)
        return QString();
    QByteArray buffer(qsizetype(size), '\0');
    if (!::GetFileVersionInfoW(path, 0, size, buffer.data()))
        return QString();
    void *value = nullptr;
    UINT valueSize = 0;
    if (!::VerQueryValueW(buffer.constData(), L"\\", &value, &valueSize) || !value
        || valueSize < sizeof(VS_FIXEDFILEINFO))
        return QString();
    const auto *info = static_cast<const VS_FIXEDFILEINFO *>(value);
    return QStringLiteral("%1.%2.%3.%4")
        .arg(HIWORD(info->dwFileVersionMS))
        .arg(LOWORD(info->dwFileVersionMS))
        .arg(HIWORD(info->dwFileVersionLS))
        .arg(LOWORD(info->dwFileVersionLS));
}
