#include "app/startpagerequest.h"

#include <QAuthenticator>
#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QNetworkRequest>
#include <QTimer>

#include <memory>

QNetworkReply *sendStartPageRequest(QNetworkAccessManager &web, const QUrl &url, int deadlineMs)
{
    if (!url.isValid() || url.isEmpty())
        return nullptr;
    QNetworkReply *reply = web.get(QNetworkRequest(url));
    QObject::connect(reply, &QNetworkReply::finished, reply, &QObject::deleteLater);
    auto received = std::make_shared<qint64>(0);
    QObject::connect(reply, &QNetworkReply::readyRead, reply, [reply, received] {
        *received += reply->readAll().size();
        if (*received > StartPageLimitBytes)
            reply->abort();
    });
    QTimer::singleShot(deadlineMs, reply, [reply] { reply->abort(); });
    // No sign-in with the user's own Windows account, which the network stack would use for
    // NTLM or Negotiate when given no name.
    QObject::connect(&web, &QNetworkAccessManager::authenticationRequired, reply,
                     [reply](QNetworkReply *asking, QAuthenticator *) {
                         if (asking == reply)
                             reply->abort();
                     });
    return reply;
}
