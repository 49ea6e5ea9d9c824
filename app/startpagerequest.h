#pragma once
#include <QUrl>

class QNetworkAccessManager;
class QNetworkReply;

// The start page is asked for once at start-up and its answer is forgotten: what the page does
// lies outside the shell. The answer's bytes are dropped as they come, and the request ends
// after StartPageDeadlineMs or StartPageLimitBytes, whatever the server does, so that a server
// that never stops sending costs neither memory nor an open connection for long. A server that
// asks for sign-in gets none.
constexpr int StartPageDeadlineMs = 30000;
constexpr qint64 StartPageLimitBytes = 1024 * 1024;

// The reply under way (it deletes itself when finished), or null when the address is empty.
QNetworkReply *sendStartPageRequest(QNetworkAccessManager &web, const QUrl &url,
                                    int deadlineMs = StartPageDeadlineMs);
