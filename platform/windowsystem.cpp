#include "windowsystem.h"

bool sameWindowClass(const QString &a, const QString &b)
{
    return a.compare(b, Qt::CaseInsensitive) == 0;
}

WindowId WindowSystem::findWindow(const QString &className, const QString &caption)
{
    const QList<TopLevelWindow> windows = topLevelWindows();
    for (const TopLevelWindow &w : windows) {
        if (!sameWindowClass(w.className, className))
            continue;
        if (!caption.isEmpty() && w.caption.compare(caption, Qt::CaseInsensitive) != 0)
            continue;
        return w.id;
    }
    return 0;
}
