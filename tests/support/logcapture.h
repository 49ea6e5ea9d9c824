#pragma once
#include <QMutex>
#include <QStringList>
#include <QtGlobal>

// Collects the lines of the operations log ("orsa.*" categories) while it lives, as
// "category: message", and puts the previous message handler back when it goes.
class LogCapture
{
public:
    LogCapture();
    ~LogCapture();
    LogCapture(const LogCapture &) = delete;
    LogCapture &operator=(const LogCapture &) = delete;

    QStringList lines() const;
    // The lines that contain every one of the texts.
    QStringList linesWith(const QStringList &texts) const;

private:
    static void handle(QtMsgType type, const QMessageLogContext &context, const QString &message);

    static LogCapture *s_current;
    QtMessageHandler m_previous = nullptr;
    mutable QMutex m_mutex;
    QStringList m_lines;
};
