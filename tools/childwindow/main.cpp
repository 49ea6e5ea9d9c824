// A stand-in for a program of the suite, for tests and the demo:
//
//   childwindow --class C --title T [--ignore-close] [--send-restore] [--hidden]
//   childwindow --send-restore
//
// shows one top-level window of window class C with caption T and prints "ready <window id>"
// once it is on screen (with --hidden: once it has been shown and hidden again, so that it
// exists unmapped). A close request ends the
// program ("closed"), unless --ignore-close is given ("close ignored" each time). With
// --send-restore the program sends the shell's window (class "Tfrm_0Main") the restore request
// once its own window is up, and goes on running like a program of the suite that has just
// handed back to the shell; without --class it only sends the request and ends: exit code 0
// when it was sent, 1 when no shell window was found.

#include "platform/toolkitarguments.h"
#include "platform/windowsystem.h"

#include <QApplication>
#include <QCloseEvent>
#include <QCommandLineParser>
#include <QDeadlineTimer>
#include <QLabel>
#include <QThread>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>
#include <QWindow>

#include <cstdio>

namespace {

void say(const QByteArray &line)
{
    std::fputs(line.constData(), stdout);
    std::fputc('\n', stdout);
    std::fflush(stdout);
}

class ChildWindow final : public QWidget
{
public:
    explicit ChildWindow(bool ignoreClose) : m_ignoreClose(ignoreClose) {}

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (m_ignoreClose) {
            say("close ignored");
            event->ignore();
            return;
        }
        say("closed");
        event->accept();
        QCoreApplication::quit();
    }

private:
    bool m_ignoreClose;
};

// Waits until our own window shows up in a scan of the desktop: the scan's round trips also
// make sure the server has the class name before anyone is told that we are ready.
bool waitUntilListed(WindowSystem &windows, WindowId id, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    while (!deadline.hasExpired()) {
        for (const TopLevelWindow &w : windows.topLevelWindows())
            if (w.id == id)
                return true;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
        QThread::msleep(10);
    }
    return false;
}

bool sendRestore(WindowSystem &windows)
{
    const WindowId shell = windows.findWindow(QStringLiteral("Tfrm_0Main"));
    if (shell == 0) {
        say("no shell window");
        return false;
    }
    if (!windows.sendRestoreMessage(shell)) {
        say("restore not sent");
        return false;
    }
    say("restore sent " + QByteArray::number(shell));
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    // Like the programs it stands in for: an X11 client, so that the suite finds its window.
    ToolkitArguments arguments(argc, argv);
    QApplication app(arguments.count(), arguments.values());
    QCommandLineParser parser;
    const QCommandLineOption classOption(QStringLiteral("class"), QStringLiteral("window class"),
                                         QStringLiteral("name"));
    const QCommandLineOption titleOption(QStringLiteral("title"), QStringLiteral("window caption"),
                                         QStringLiteral("text"));
    const QCommandLineOption ignoreCloseOption(QStringLiteral("ignore-close"),
                                               QStringLiteral("refuse every close request"));
    const QCommandLineOption sendRestoreOption(QStringLiteral("send-restore"),
                                               QStringLiteral("send the shell the restore request"));
    const QCommandLineOption hiddenOption(QStringLiteral("hidden"),
                                          QStringLiteral("leave the window unmapped"));
    parser.addOptions({classOption, titleOption, ignoreCloseOption, sendRestoreOption, hiddenOption});
    parser.addHelpOption();
    parser.process(app);

    std::unique_ptr<WindowSystem> windows = WindowSystem::createSystem();
    if (!parser.isSet(classOption)) {
        if (!parser.isSet(sendRestoreOption)) {
            say("error: --class is required");
            return 2;
        }
        return sendRestore(*windows) ? 0 : 1;
    }

    ChildWindow window(parser.isSet(ignoreCloseOption));
    const QString title = parser.value(titleOption);
    window.setWindowTitle(title);
    window.resize(240, 80);
    auto *layout = new QVBoxLayout(&window);
    layout->addWidget(new QLabel(parser.value(classOption) + QStringLiteral("\n") + title, &window));
    windows->setWindowClass(&window, parser.value(classOption));
    // Shown once even with --hidden: the toolkit gives a window its caption on the way to the
    // screen, and a program's hidden window is usually one that was shown before.
    window.show();
    QDeadlineTimer deadline(10000);
    while (!window.windowHandle()->isExposed() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    if (!window.windowHandle()->isExposed()) {
        say("error: window not shown");
        return 2;
    }
    if (parser.isSet(hiddenOption))
        window.hide();
    const WindowId id = window.winId();
    if (!waitUntilListed(*windows, id, 10000)) {
        say("error: window not found on the desktop");
        return 2;
    }
    if (parser.isSet(sendRestoreOption))
        sendRestore(*windows);
    say("ready " + QByteArray::number(id));

    return app.exec();
}
