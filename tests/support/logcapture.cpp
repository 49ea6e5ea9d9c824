#include "logcapture.h"

#include <QMutexLocker>

LogCapture *LogCapture::s_current = nullptr;

LogCapture::LogCapture()
{
    s_current = this;
    m_previous = qInstallMessageHandler(&LogCapture::handle);
}

LogCapture::~LogCapture()
{
    qInstallMessageHandler(m_previous);
    s_current = nullptr;
}

void LogCapture::handle(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    LogCapture *capture = s_current;
    if (!capture)
        return;
    const QLatin1String category(context.category ? context.category : "");
    if (category.startsWith(QLatin1String("orsa."))) {
        QMutexLocker locker(&capture->m_mutex);
        capture->m_lines.append(category + QStringLiteral(": ") + message);
    }
    if (capture->m_previous)
        capture->m_previous(type, context, message);
}

QStringList LogCapture::lines() const
{
    QMutexLocker locker(&m_mutex);
    return m_lines;
}

QStringList LogCapture::linesWith(const QStringList &texts) const
{
    QStringList found;
    for (const QString &line : lines()) {
        bool all = true;
        for (const QString &text : texts)
            all = all && line.contains(text);
        if (all)
            found.append(line);
    }
    return found;
}
