// The start page's request against a real HTTP server on the loopback that never stops
// sending: the request still ends, by the cap on what it reads or by its deadline.

#include "app/startpagerequest.h"

#include <QNetworkAccessManager>
#include <QNetworkReply>
#include <QPointer>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTcpSocket>
#include <QTimer>
#include <QtTest>

class tst_StartPageRequest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void endlessAnswerEnds_data();
    void endlessAnswerEnds();
};

void tst_StartPageRequest::endlessAnswerEnds_data()
{
    QTest::addColumn<int>("chunkBytes");  // sent every 20 ms after the header, without end
    QTest::addColumn<int>("deadlineMs");
    QTest::addColumn<int>("waitMs");      // the test's own patience, below the deadline or above

    // Fast: only the cap on what is read can end it within the test's patience.
    QTest::newRow("flood") << 256 * 1024 << 600000 << 30000;
    // Slow: the server never goes silent, and the deadline ends it.
    QTest::newRow("trickle") << 10 << 2000 << 10000;
}

void tst_StartPageRequest::endlessAnswerEnds()
{
    QFETCH(int, chunkBytes);
    QFETCH(int, deadlineMs);
    QFETCH(int, waitMs);

    QTcpServer server;
    QVERIFY(server.listen(QHostAddress(QStringLiteral("127.0.0.1"))));
    QList<QPointer<QTcpSocket>> clients;
    connect(&server, &QTcpServer::newConnection, this, [&] {
        while (QTcpSocket *socket = server.nextPendingConnection()) {
            socket->write("HTTP/1.1 200 OK\r\nContent-Type: text/html\r\n\r\n");
            clients.append(socket);
        }
    });
    QTimer sender;
    const QByteArray chunk(chunkBytes, 'x');
    connect(&sender, &QTimer::timeout, this, [&] {
        for (const QPointer<QTcpSocket> &socket : std::as_const(clients)) {
            if (socket && socket->bytesToWrite() < 4 * chunkBytes)
                socket->write(chunk);
        }
    });
    sender.start(20);

    QNetworkAccessManager web;
    const QUrl url(QStringLiteral("http://127.0.0.1:%1/start").arg(server.serverPort()));
    QPointer<QNetworkReply> reply = sendStartPageRequest(web, url, deadlineMs);
    QVERIFY(reply);
    QSignalSpy finished(reply.data(), &QNetworkReply::finished);
    QVERIFY(finished.wait(waitMs));
    QCOMPARE(reply->error(), QNetworkReply::OperationCanceledError);
    QVERIFY(!clients.isEmpty());
    // It deletes itself once finished.
    QTRY_VERIFY(reply.isNull());
}

QTEST_GUILESS_MAIN(tst_StartPageRequest)
#include "tst_startpagerequest.moc"
