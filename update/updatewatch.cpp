#include "update/updatewatch.h"

#include "platform/appfiles.h"
#include "platform/windowsystem.h"

#include <QAuthenticator>
#include <QFileInfo>
#include <QNetworkAccessManager>
#include <QNetworkProxy>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTime>
#include <QTimer>

#include <algorithm>

namespace {

const QString NoticeClass = QStringLiteral("Tfrm_BH010");

// A server that goes silent is given up after this long without a byte; it counts as "not
// newer".
constexpr int RequestTimeoutMs = 60000;

QDateTime wholeMinute(const QDateTime &time)
{
    const QDateTime local = time.toLocalTime();
    const QTime t = local.time();
    return QDateTime(local.date(), QTime(t.hour(), t.minute()), Qt::LocalTime);
}

} // namespace

bool serverCopyIsNewer(const QDateTime &serverTime, const QDateTime &localTime)
{
    if (!serverTime.isValid() || !localTime.isValid())
        return false;
    return wholeMinute(serverTime) > wholeMinute(localTime);
}

UpdateWatch::UpdateWatch(WindowSystem &windows, UpdateWatchHost host, QObject *parent)
    : QObject(parent), m_windows(windows), m_host(std::move(host))
{
}

UpdateWatch::~UpdateWatch()
{
    cancelCheck();
}

void UpdateWatch::cancelCheck()
{
    const QList<QNetworkReply *> pending = m_pending;
    m_pending.clear();
    m_entries.clear();
    for (QNetworkReply *reply : pending) {
        reply->disconnect(this);
        reply->abort();
        reply->deleteLater();
    }
}

void UpdateWatch::tmrTimerTimer()
{
    if (m_updateUrl.isEmpty())
        return;
    if (m_tag < TicksBetweenChecks) {
        ++m_tag;
        return;
    }
    runCheck();
    m_tag = 0;
}

void UpdateWatch::runCheck()
{
    // A check still waiting for its answers is not started twice.
    if (m_updateUrl.isEmpty() || checkPending())
        return;

    m_entries.clear();
    const QList<TopLevelWindow> windows = m_windows.topLevelWindows();
    const QList<QPair<QString, QString>> projects =
        m_host.projects ? m_host.projects() : QList<QPair<QString, QString>>();
    for (char letter = 'A'; letter <= 'Z'; ++letter) {
        const QString className =
            QStringLiteral("Tfrm") + QLatin1Char(letter) + QStringLiteral("0Main");
        bool running = false;
        for (const TopLevelWindow &w : windows) {
            if (sameWindowClass(w.className, className)) {
                running = true;
                break;
            }
        }
        if (!running)
            continue;
        Entry entry;
        entry.name = QStringLiteral("orsa_") + QLatin1Char(letter);
        for (const auto &project : projects) {
            if (project.first.toLower() == entry.name.toLower()) {
                entry.title = project.second;
                break;
            }
        }
        m_entries.append(entry);
    }
    if (m_entries.isEmpty()) {
        Q_EMIT checkFinished();
        return;
    }

    if (!m_http) {
        m_http = new QNetworkAccessManager(this);
        m_http->setProxy(QNetworkProxy::NoProxy);
        // The check is anonymous. A server that asks for NTLM or Negotiate sign-in gets no
        // answer: given no name, the network stack would sign in with the user's own Windows
        // account; the request ends instead and counts as "not newer".
        connect(m_http, &QNetworkAccessManager::authenticationRequired, this,
                [](QNetworkReply *reply, QAuthenticator *) { reply->abort(); });
    }
    for (int i = 0; i < m_entries.size(); ++i) {
        const QString fileName = m_entries.at(i).name + QStringLiteral(".exe");
        QNetworkRequest request(QUrl(m_updateUrl + fileName.toLower()));
        request.setRawHeader("Accept", "text/html, */*");
        request.setRawHeader("User-Agent", "Mozilla/3.0 (compatible; Indy Library)");
        request.setRawHeader("Content-Type", "text/html");
        request.setAttribute(QNetworkRequest::RedirectPolicyAttribute,
                             QNetworkRequest::ManualRedirectPolicy);
        request.setTransferTimeout(RequestTimeoutMs);
        QNetworkReply *reply = m_http->head(request);
        m_pending.append(reply);
        // A server that keeps sending (an endless header, a byte now and then) never lets the
        // silence limit strike: every request ends by this time whatever the server does, so
        // that a check never stays pending into the next one.
        QTimer::singleShot(m_requestDeadlineMs, reply, [reply] { reply->abort(); });
        connect(reply, &QNetworkReply::finished, this,
                [this, reply, i] { requestFinished(reply, i); });
    }
}

void UpdateWatch::requestFinished(QNetworkReply *reply, int index)
{
    if (!m_pending.removeOne(reply))
        return;
    reply->deleteLater();

    const int status = reply->attribute(QNetworkRequest::HttpStatusCodeAttribute).toInt();
    // Anything but a plain success, redirects included, counts as "not newer".
    if (reply->error() == QNetworkReply::NoError && status >= 200 && status < 300
        && index < m_entries.size()) {
        const QDateTime serverTime = reply->header(QNetworkRequest::LastModifiedHeader).toDateTime();
        const QFileInfo local(findAppFile(m_appDir, m_entries.at(index).name + QStringLiteral(".exe")));
        if (serverTime.isValid() && local.isFile())
            m_entries[index].newer = serverCopyIsNewer(serverTime, local.lastModified());
    }
    if (m_pending.isEmpty())
        finishCheck();
}

void UpdateWatch::finishCheck()
{
    const QList<Entry> entries = m_entries;
    m_entries.clear();
    // The answers may come long after the programs were found: a program that has ended
    // meanwhile (closed by its user, or by another login) gets no notice.
    QList<TopLevelWindow> windows;
    bool scanned = false;
    for (const Entry &entry : entries) {
        if (!entry.newer)
            continue;
        if (!scanned) {
            windows = m_windows.topLevelWindows();
            scanned = true;
        }
        const QString className =
            QStringLiteral("Tfrm") + entry.name.right(1).toUpper() + QStringLiteral("0Main");
        const bool running = std::any_of(windows.cbegin(), windows.cend(), [&](const TopLevelWindow &w) {
            return sameWindowClass(w.className, className);
        });
        if (!running)
            continue;
        const QString caption = entry.name.toLower();
        const bool open = m_host.noticeOpen ? m_host.noticeOpen(caption)
                                            : m_windows.findWindow(NoticeClass, caption) != 0;
        if (open)
            continue;
        if (m_host.showUpdateNotice)
            m_host.showUpdateNotice(entry.title, entry.name);
    }
    Q_EMIT checkFinished();
}
