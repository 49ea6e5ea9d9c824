// A stand-in for the suite's updater, for tests and the demo. It writes its arguments, one per
// line in UTF-8 (argv[0] first, as the program was named), to the file named by the
// environment variable ORSA_FAKEUPDATER_LOG, replacing what was there. With
// ORSA_FAKEUPDATER_SECONDS greater than 0 it then shows a window of class
// "TPelUpdateMainForm" for that many seconds (a close request ends it earlier; with
// ORSA_FAKEUPDATER_IGNORE_CLOSE=1 it refuses them); with 0 or unset it ends at once.

#include "platform/toolkitarguments.h"
#include "platform/windowsystem.h"

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QSaveFile>
#include <QTimer>
#include <QWidget>

#include <cstdio>

namespace {

class UpdaterWindow final : public QWidget
{
public:
    explicit UpdaterWindow(bool ignoreClose) : m_ignoreClose(ignoreClose) {}

protected:
    void closeEvent(QCloseEvent *event) override
    {
        if (m_ignoreClose)
            event->ignore();
        else
            event->accept();
    }

private:
    bool m_ignoreClose;
};

} // namespace

int main(int argc, char **argv)
{
    // The arguments exactly as received, before the toolkit takes any of its own from them.
    QByteArray record;
    for (int i = 0; i < argc; ++i) {
        record.append(QString::fromLocal8Bit(argv[i]).toUtf8());
        record.append('\n');
    }
    const QString logPath = QFile::decodeName(qgetenv("ORSA_FAKEUPDATER_LOG"));
    if (!logPath.isEmpty()) {
        QSaveFile log(logPath);
        if (!log.open(QIODevice::WriteOnly) || log.write(record) != record.size() || !log.commit()) {
            std::fprintf(stderr, "fakeupdater: cannot write %s\n", qPrintable(logPath));
            return 2;
        }
    }
    const int seconds = qEnvironmentVariableIntValue("ORSA_FAKEUPDATER_SECONDS");
    if (seconds <= 0)
        return 0;

    // Like the programs it stands in for: an X11 client, so that the suite finds its window.
    ToolkitArguments arguments(argc, argv);
    QApplication app(arguments.count(), arguments.values());
    UpdaterWindow window(qEnvironmentVariableIntValue("ORSA_FAKEUPDATER_IGNORE_CLOSE") == 1);
    window.setWindowTitle(QStringLiteral("PelUpdate"));
    window.resize(300, 100);
    std::unique_ptr<WindowSystem> windows = WindowSystem::createSystem();
    windows->setWindowClass(&window, QStringLiteral("TPelUpdateMainForm"));
    window.show();
    QTimer::singleShot(seconds * 1000, &app, &QCoreApplication::quit);
    QObject::connect(&app, &QApplication::lastWindowClosed, &app, &QCoreApplication::quit);
    return app.exec();
}
