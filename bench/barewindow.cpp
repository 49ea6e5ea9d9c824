// The floor of the shell's window figures: a bare Qt window of a given size, named by the same
// window-class mechanism as the shell's windows. Return in it shows a second window (class
// "BenchReact"), so that the reaction to a key sent from outside can be timed the same way as
// the shell's login.
//
//   bench_barewindow --size 360x200

#include "platform/windowsystem.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QKeyEvent>
#include <QWidget>

#include <memory>

namespace {

class BareWindow : public QWidget
{
public:
    explicit BareWindow(WindowSystem &windows) : m_windows(windows) {}

protected:
    void keyPressEvent(QKeyEvent *event) override
    {
        if (event->key() != Qt::Key_Return && event->key() != Qt::Key_Enter)
            return QWidget::keyPressEvent(event);
        if (!m_reaction) {
            m_reaction = std::make_unique<QWidget>();
            m_reaction->resize(size());
            m_windows.setWindowClass(m_reaction.get(), QStringLiteral("BenchReact"));
        }
        // Unmapped first, so that every Return maps it anew.
        m_reaction->hide();
        m_reaction->show();
    }

private:
    WindowSystem &m_windows;
    std::unique_ptr<QWidget> m_reaction;
};

} // namespace

int main(int argc, char *argv[])
{
    QApplication app(argc, argv);
    QCommandLineParser parser;
    parser.addOption({QStringLiteral("size"), QStringLiteral("WxH"), QStringLiteral("size"),
                      QStringLiteral("360x200")});
    parser.process(app);
    const QStringList size = parser.value(QStringLiteral("size")).split(u'x');
    std::unique_ptr<WindowSystem> windows = WindowSystem::createSystem();
    BareWindow window(*windows);
    window.setWindowFlags(Qt::FramelessWindowHint);
    window.resize(size.value(0).toInt(), size.value(1).toInt());
    windows->setWindowClass(&window, QStringLiteral("BenchBare"));
    window.show();
    return app.exec();
}
