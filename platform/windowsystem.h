#pragma once
#include <QByteArray>
#include <QList>
#include <QString>
#include <QStringList>
#include <QtGlobal>
#include <functional>
#include <memory>

class QProcessEnvironment;
class QWidget;

// A top-level window of any program on this desktop (0 = no window).
using WindowId = quint64;

struct TopLevelWindow
{
    WindowId id = 0;
    QString className;
    QString caption;
};

// The programs of the suite find and drive one another by the class names of their top-level
// windows. This service finds those windows, asks them to close, brings them forward, names
// our own windows, and carries the restore request that other programs send the shell.
class WindowSystem
{
public:
    virtual ~WindowSystem() = default;

    // Every top-level window of the desktop, in one scan, topmost first: mapped or not, and
    // inside a window manager's frames too. Nothing is cached: programs come and go.
    virtual QList<TopLevelWindow> topLevelWindows() = 0;

    // The first window of the class (and, unless empty, the caption). Class names and captions
    // compare without regard to case, as window classes do on Windows. 0 when there is none.
    WindowId findWindow(const QString &className, const QString &caption = {});

    // Asks the window to close, the way a user closing it would; does not wait. 0 is ignored.
    virtual void closeWindow(WindowId window) = 0;
    // Raises and activates the window. 0 is ignored.
    virtual void bringToFront(WindowId window) = 0;

    // Gives one of our own top-level windows the class name other programs look for.
    virtual void setWindowClass(QWidget *topLevel, const QString &className) = 0;

    // Calls the handler when another program sends the restore request to the window.
    virtual void watchRestoreMessage(QWidget *window, std::function<void()> handler) = 0;
    // Sends the restore request to a window; false when it could not be sent.
    virtual bool sendRestoreMessage(WindowId target) = 0;

    // The desktop's window system; on a platform without one (offscreen), a system that finds
    // no windows and does nothing.
    static std::unique_ptr<WindowSystem> createSystem();

    // The toolkit platform a program of the suite must run on for the others to find its
    // windows, given its command line and environment; empty when the toolkit may choose
    // (the user has named a platform, or there is nothing to choose).
    static QByteArray requiredPlatform(const QStringList &arguments,
                                       const QProcessEnvironment &environment);

    // The window message number other programs use for the restore request.
    static constexpr int RestoreShellMessage = 1924;
};

bool sameWindowClass(const QString &a, const QString &b);
