#pragma once
#include "platform/programstarter.h"
#include "platform/windowsystem.h"

#include <QList>
#include <QPair>
#include <QPointer>
#include <QSet>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <functional>

// A desktop made of a list of windows. Records what the code under test asked of it. A closed
// window disappears from the list unless its id is in ignoresClose, so that a program that
// refuses to close can be played.
class FakeWindowSystem final : public WindowSystem
{
public:
    // Adds a window on top of the others and returns its id.
    WindowId addWindow(const QString &className, const QString &caption = {})
    {
        const WindowId id = m_nextId++;
        windows.prepend({id, className, caption});
        return id;
    }

    bool contains(WindowId id) const
    {
        for (const TopLevelWindow &w : windows)
            if (w.id == id)
                return true;
        return false;
    }

    QList<TopLevelWindow> topLevelWindows() override
    {
        ++scans;
        return windows;
    }

    void closeWindow(WindowId window) override
    {
        if (window == 0)
            return;
        closed.append(window);
        if (ignoresClose.contains(window))
            return;
        for (int i = 0; i < windows.size(); ++i) {
            if (windows.at(i).id == window) {
                windows.removeAt(i);
                break;
            }
        }
    }

    void bringToFront(WindowId window) override
    {
        if (window != 0)
            broughtToFront.append(window);
    }

    void setWindowClass(QWidget *topLevel, const QString &className) override
    {
        classes.append({QPointer<QWidget>(topLevel), className});
    }

    void watchRestoreMessage(QWidget *window, std::function<void()> handler) override
    {
        watchedWindow = window;
        restoreHandler = std::move(handler);
    }

    bool sendRestoreMessage(WindowId target) override
    {
        if (target == 0)
            return false;
        restoreMessagesSent.append(target);
        return true;
    }

    // Plays another program sending the restore request to the watched window.
    bool fireRestore()
    {
        if (!restoreHandler)
            return false;
        restoreHandler();
        return true;
    }

    QString classOf(const QWidget *widget) const
    {
        QString name;
        for (const auto &entry : classes)
            if (entry.first == widget)
                name = entry.second;
        return name;
    }

    QList<TopLevelWindow> windows;        // topmost first
    QSet<WindowId> ignoresClose;
    QList<WindowId> closed;               // every closeWindow call, in order
    QList<WindowId> broughtToFront;
    QList<QPair<QPointer<QWidget>, QString>> classes;
    QList<WindowId> restoreMessagesSent;
    QPointer<QWidget> watchedWindow;
    std::function<void()> restoreHandler;
    int scans = 0;

private:
    WindowId m_nextId = 0x1000;
};

// Records every command line; createProcess answers as told.
class FakeProgramStarter final : public ProgramStarter
{
public:
    bool createProcess(const QString &commandLine, QString *error = nullptr) override
    {
        created.append(commandLine);
        if (onCreate)
            onCreate(commandLine);
        if (!succeeds && error)
            *error = failure;
        return succeeds;
    }

    void winExec(const QString &commandLine) override { executed.append(commandLine); }

    QStringList created;    // createProcess command lines, in order
    QStringList executed;   // winExec command lines, in order
    bool succeeds = true;
    QString failure = QStringLiteral("cannot start the program");
    std::function<void(const QString &)> onCreate;  // e.g. to add the started program's window
};
