#include "childprograms.h"

#include "platform/messages.h"
#include "platform/windowsystem.h"

#include <QElapsedTimer>
#include <QThread>

namespace {

QString childProgramClass(char letter)
{
    return QStringLiteral("Tfrm") + QLatin1Char(letter) + QStringLiteral("0Main");
}

// The first window of each project-program class, by letter (0 where none), from one scan.
QList<WindowId> firstWindowPerLetter(WindowSystem &windows)
{
    QList<WindowId> first(26, 0);
    const QList<TopLevelWindow> all = windows.topLevelWindows();
    for (const TopLevelWindow &w : all) {
        for (char letter = 'A'; letter <= 'Z'; ++letter) {
            const int index = letter - 'A';
            if (first.at(index) == 0 && sameWindowClass(w.className, childProgramClass(letter))) {
                first[index] = w.id;
                break;
            }
        }
    }
    return first;
}

} // namespace

int CountChildPrograms(WindowSystem &windows)
{
    int count = 0;
    for (WindowId id : firstWindowPerLetter(windows))
        if (id != 0)
            ++count;
    return count;
}

bool CloseChildPrograms(WindowSystem &windows, Messages &messages, bool ask, int updaterTimeoutMs)
{
    // A close request is answered by the updater in its own time; asking again until its
    // window has gone, but not forever: an updater that refuses to close must not hang the
    // shell.
    const QString updaterClass = QStringLiteral("TPelUpdateMainForm");
    QElapsedTimer elapsed;
    elapsed.start();
    for (WindowId updater = windows.findWindow(updaterClass); updater != 0;
         updater = windows.findWindow(updaterClass)) {
        windows.closeWindow(updater);
        if (elapsed.elapsed() >= updaterTimeoutMs)
            break;
        QThread::msleep(20);
    }

    if (CountChildPrograms(windows) == 0)
        return true;
    if (ask) {
        const MessageAnswer answer = messages.show(
            QStringLiteral("실행 중인 프로그램이 있습니다.\r모두 종료하시겠습니까?"),
            MessageIcon::Question, MessageButtons::YesNo, QStringLiteral("Main"));
        if (answer != MessageAnswer::Yes)
            return false;
    }
    for (WindowId id : firstWindowPerLetter(windows))
        windows.closeWindow(id);  // 0 is ignored
    return true;
}
