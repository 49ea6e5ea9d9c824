#include "db/initdatabase.h"

#include "db/sqlquery.h"
#include "db/tfrm_zd000.h"
#include "machine/pelfunction.h"
#include "platform/messages.h"

#include <QDateTime>

namespace {

// A read that failed ends the start-up with a message naming it, rather than leaving a shell
// that runs without a set clock or environment.
bool fail(Tfrm_ZD000 &db, Messages &messages, const QString &sentence, const QString &error)
{
    db.DisconnectDB();
    messages.show(databaseFailureMessage(sentence, error), MessageIcon::Error);
    messages.requestTermination();
    return false;
}

}  // namespace

bool InitDatabase(Tfrm_ZD000 &db, PelFunction &machine, Messages &messages,
                  const QString &databaseName, const QString &account, QString *environmentName)
{
    if (environmentName)
        environmentName->clear();

    if (databaseName.isEmpty()) {
        messages.show(QStringLiteral("접속할 데이터베이스 지정이 되어있지 않습니다.\r"
                                     "Main.ini 파일 환경 설정을 확인하십시오."),
                      MessageIcon::Error);
        messages.requestTermination();
        return false;
    }

    // The account's name is also its password.
    db.setConnectionParameters(databaseName, account, account);
    if (!db.ConnectDB()) {
        messages.requestTermination();
        return false;
    }

    SqlQuery &query = db.qryQuery();
    QString error;

    // Both reads go out together where the driver allows: one wait for the server, not two.
    query.setStatement(StatementId::ServerTime);
    query.sendAhead();
    query.setStatement(StatementId::EnvironmentName);
    query.bind(QStringLiteral("P0"), account);
    query.sendAhead();

    query.setStatement(StatementId::ServerTime);
    if (!query.open(&error))
        return fail(db, messages, QStringLiteral("데이터베이스 서버의 시각을 읽지 못했습니다."), error);
    const QDateTime serverTime = query.next() ? query.value(0).toDateTime() : QDateTime();
    query.close();
    if (!serverTime.isValid()) {
        return fail(db, messages, QStringLiteral("데이터베이스 서버의 시각을 읽지 못했습니다."),
                    QStringLiteral("The server returned no date and time."));
    }
    // Before any login, so that every record and every program starts on the server's time.
    machine.SetPCTime(toPelDateTime(serverTime));

    if (account.toLower() == QStringLiteral("ortest")) {
        messages.show(QStringLiteral("테스트 환경에 접속되었습니다.\r"
                                     "앞으로 작업하는 내용은 실제로 반영되지 않습니다.\r"
                                     "환경 설정이 정확한지 전산팀에 문의하십시오."),
                      MessageIcon::Warning);
    }

    query.setStatement(StatementId::EnvironmentName);
    query.bind(QStringLiteral("P0"), account);
    if (!query.open(&error))
        return fail(db, messages, QStringLiteral("데이터베이스 환경 이름을 읽지 못했습니다."), error);
    const QString name = query.next() ? query.text(0) : QString();
    query.close();
    if (environmentName)
        *environmentName = name;

    db.DisconnectDB();
    return true;
}
