#pragma once
#include <QDateTime>
#include <QList>
#include <QObject>
#include <QPair>
#include <QString>
#include <QStringList>

#include <functional>

class QNetworkAccessManager;
class QNetworkReply;
class WindowSystem;

// What the watch needs of the main window, handed in as callbacks.
struct UpdateWatchHost
{
    // The project buttons in order, empty slots left out: each one's PROJECT_ID and display name.
    std::function<QList<QPair<QString, QString>>()> projects;
    // Opens a notice for the program (title may be empty).
    std::function<void(const QString &title, const QString &programName)> showUpdateNotice;
    // True when a notice with this caption is already open. Empty: looked up on the desktop by
    // the notice's window class.
    std::function<bool(const QString &caption)> noticeOpen;
};

// Whether the server's copy is newer: both times cut to whole local minutes, the server's later.
// A null server time (no Last-Modified) is never newer.
bool serverCopyIsNewer(const QDateTime &serverTime, const QDateTime &localTime);

// The update watch of the shell: counts the ticks of the main window's timer and, every 601st
// tick, asks the update server about the executable of every running project program. The
// questions are HEAD requests sent without waiting; when all are answered, every program whose
// copy on the server is newer gets a notice, unless one is open for it already.
class UpdateWatch : public QObject
{
    Q_OBJECT
public:
    UpdateWatch(WindowSystem &windows, UpdateWatchHost host, QObject *parent = nullptr);
    ~UpdateWatch() override;

    // The server directory, ending in "/"; empty turns the watch off.
    void setUpdateUrl(const QString &url) { m_updateUrl = url; }
    QString updateUrl() const { return m_updateUrl; }
    // The directory of the local executables.
    void setAppDir(const QString &dir) { m_appDir = dir; }

    // One tick of the timer.
    void tmrTimerTimer();
    // The tick counter (the timer's tag).
    int tag() const { return m_tag; }
    void setTag(int tag) { m_tag = tag; }

    // Starts a check now: finds the running programs and sends the requests.
    void runCheck();
    bool checkPending() const { return !m_pending.isEmpty(); }
    // Drops the check under way: its answers are not waited for and open no notice.
    void cancelCheck();

    static constexpr int TicksBetweenChecks = 600;
    // Every request of a check ends after this long at the latest, answered or not.
    static constexpr int RequestDeadlineMs = 20000;
    void setRequestDeadlineMs(int ms) { m_requestDeadlineMs = ms; }

Q_SIGNALS:
    // A check has ended: every request answered or failed and the notices opened.
    void checkFinished();

private:
    struct Entry
    {
        QString name;
        QString title;
        bool newer = false;
    };
    void requestFinished(QNetworkReply *reply, int index);
    void finishCheck();

    WindowSystem &m_windows;
    UpdateWatchHost m_host;
    QNetworkAccessManager *m_http = nullptr;
    QString m_updateUrl;
    QString m_appDir;
    int m_tag = 0;
    int m_requestDeadlineMs = RequestDeadlineMs;
    QList<Entry> m_entries;
    QList<QNetworkReply *> m_pending;
};
