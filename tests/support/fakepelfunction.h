#pragma once
#include "machine/pelfunction.h"

#include <QList>
#include <QString>

// Machine services for tests: a scripted address and a clock that only records what it was
// asked to show.
class FakePelFunction final : public PelFunction
{
public:
    explicit FakePelFunction(const QString &localIp = QStringLiteral("127.0.0.1"))
        : localIp(localIp)
    {
    }

    QString GetLocalIP() override
    {
        ++localIpCalls;
        databaseHostAtLocalIp = databaseHost();
        return localIp;
    }

    void SetPCTime(double dateTime) override { clockSettings.append(dateTime); }

    QString localIp;
    int localIpCalls = 0;
    QString databaseHostAtLocalIp;  // the database host handed in when the address was asked
    QList<double> clockSettings;  // every SetPCTime value, in order
};
