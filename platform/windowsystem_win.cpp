#include "windowsystem.h"

#include <QAbstractNativeEventFilter>
#include <QCoreApplication>
#include <QEvent>
#include <QHash>
#include <QPointer>
#include <QSet>
#include <QWidget>

#include <windows.h>

namespace {

struct Watch
{
    QPointer<QWidget> widget;
    std::function<void()> handler;
};

// Qt registers its own window classes, so the class that other programs look for is carried
// by a hidden top-level stand-in window of that class, one per named widget. It hands what it
// receives to the widget: a close request, the restore request, and an activation (the way a
// second start brings the shell forward).
class ClassStandIns final : public QObject, public QAbstractNativeEventFilter
{
public:
    static ClassStandIns &instance()
    {
        static ClassStandIns standIns;
        return standIns;
    }

    void setClass(QWidget *widget, const QString &className)
    {
        remove(widget);
        const QByteArray name = className.toLocal8Bit();
        if (!m_registered.contains(name)) {
            WNDCLASSEXA wc;
            ZeroMemory(&wc, sizeof(wc));
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = &ClassStandIns::windowProc;
            wc.hInstance = ::GetModuleHandleA(nullptr);
            wc.lpszClassName = name.constData();
            if (!::RegisterClassExA(&wc) && ::GetLastError() != ERROR_CLASS_ALREADY_EXISTS)
                return;
            m_registered.insert(name);
        }
        HWND hwnd = ::CreateWindowExA(WS_EX_TOOLWINDOW, name.constData(),
                                      widget->windowTitle().toLocal8Bit().constData(), WS_POPUP,
                                      0, 0, 0, 0, nullptr, nullptr, ::GetModuleHandleA(nullptr),
                                      nullptr);
        if (!hwnd)
            return;
        m_standIns.insert(widget, hwnd);
        m_widgets.insert(hwnd, QPointer<QWidget>(widget));
        widget->installEventFilter(this);
        QObject::connect(widget, &QObject::destroyed, this, [this, widget] { remove(widget); });
        if (!m_filterInstalled && QCoreApplication::instance()) {
            QCoreApplication::instance()->installNativeEventFilter(this);
            m_filterInstalled = true;
        }
    }

    void watch(QWidget *widget, std::function<void()> handler)
    {
        m_watches.append({QPointer<QWidget>(widget), std::move(handler)});
        if (!m_filterInstalled && QCoreApplication::instance()) {
            QCoreApplication::instance()->installNativeEventFilter(this);
            m_filterInstalled = true;
        }
    }

    // The restore request reaches either the stand-in or the widget's own window.
    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *) override
    {
        if (eventType != "windows_generic_MSG" || !message)
            return false;
        const MSG *msg = static_cast<const MSG *>(message);
        if (msg->message != UINT(WindowSystem::RestoreShellMessage))
            return false;
        QWidget *widget = m_widgets.value(msg->hwnd).data();
        if (!widget) {
            for (const Watch &w : std::as_const(m_watches))
                if (w.widget && HWND(w.widget->internalWinId()) == msg->hwnd)
                    widget = w.widget.data();
        }
        return widget && restore(widget);
    }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() == QEvent::WindowTitleChange) {
            auto *widget = static_cast<QWidget *>(watched);
            if (HWND hwnd = m_standIns.value(widget))
                ::SetWindowTextA(hwnd, widget->windowTitle().toLocal8Bit().constData());
        }
        return false;
    }

private:
    bool restore(QWidget *widget)
    {
        bool handled = false;
        for (const Watch &w : std::as_const(m_watches)) {
            if (w.widget == widget) {
                QMetaObject::invokeMethod(widget, w.handler, Qt::QueuedConnection);
                handled = true;
            }
        }
        return handled;
    }

    void remove(QWidget *widget)
    {
        if (HWND hwnd = m_standIns.take(widget)) {
            m_widgets.remove(hwnd);
            ::DestroyWindow(hwnd);
        }
    }

    static LRESULT CALLBACK windowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam)
    {
        ClassStandIns &self = instance();
        QWidget *widget = self.m_widgets.value(hwnd).data();
        if (widget) {
            switch (message) {
            case WM_CLOSE:
                QMetaObject::invokeMethod(widget, "close", Qt::QueuedConnection);
                return 0;
            case WM_ACTIVATE:
                if (LOWORD(wParam) != WA_INACTIVE) {
                    widget->activateWindow();
                    widget->raise();
                }
                break;
            default:
                if (message == UINT(WindowSystem::RestoreShellMessage)) {
                    self.restore(widget);
                    return 0;
                }
                break;
            }
        }
        return ::DefWindowProcA(hwnd, message, wParam, lParam);
    }

    QHash<QWidget *, HWND> m_standIns;
    QHash<HWND, QPointer<QWidget>> m_widgets;
    QSet<QByteArray> m_registered;
    QList<Watch> m_watches;
    bool m_filterInstalled = false;
};

BOOL CALLBACK collectWindow(HWND hwnd, LPARAM data)
{
    auto *list = reinterpret_cast<QList<TopLevelWindow> *>(data);
    char className[256] = {};
    ::GetClassNameA(hwnd, className, sizeof(className));
    char caption[512] = {};
    ::GetWindowTextA(hwnd, caption, sizeof(caption));
    TopLevelWindow window;
    window.id = WindowId(reinterpret_cast<quintptr>(hwnd));
    window.className = QString::fromLocal8Bit(className);
    window.caption = QString::fromLocal8Bit(caption);
    list->append(window);
    return TRUE;
}

HWND toHwnd(WindowId id)
{
    return reinterpret_cast<HWND>(static_cast<quintptr>(id));
}

class Win32WindowSystem final : public WindowSystem
{
public:
    // EnumWindows lists every top-level window, hidden ones too, topmost first.
    QList<TopLevelWindow> topLevelWindows() override
    {
        QList<TopLevelWindow> list;
        ::EnumWindows(&collectWindow, reinterpret_cast<LPARAM>(&list));
        return list;
    }

    // Synchronous as a close by the user, but a program that has stopped answering cannot
    // hold the shell for more than a few seconds.
    void closeWindow(WindowId window) override
    {
        if (window == 0)
            return;
        DWORD_PTR ignored = 0;
        ::SendMessageTimeoutA(toHwnd(window), WM_CLOSE, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG, 5000,
                              &ignored);
    }

    void bringToFront(WindowId window) override
    {
        if (window != 0)
            ::SetForegroundWindow(toHwnd(window));
    }

    void setWindowClass(QWidget *topLevel, const QString &className) override
    {
        if (topLevel)
            ClassStandIns::instance().setClass(topLevel, className);
    }

    void watchRestoreMessage(QWidget *window, std::function<void()> handler) override
    {
        if (window && handler)
            ClassStandIns::instance().watch(window, std::move(handler));
    }

    bool sendRestoreMessage(WindowId target) override
    {
        return target != 0
               && ::PostMessageA(toHwnd(target), UINT(RestoreShellMessage), 0, 0) != FALSE;
    }
};

} // namespace

std::unique_ptr<WindowSystem> WindowSystem::createSystem()
{
    return std::make_unique<Win32WindowSystem>();
}

// Windows has one window system; the toolkit's own platform is the right one.
QByteArray WindowSystem::requiredPlatform(const QStringList &, const QProcessEnvironment &)
{
    return {};
}
