#pragma once
// The main window's installation and services for tests: Main.ini and MainImg.dll in a
// directory of their own, fakes for the platform services, a scripted login.

#include "app/tfrm_0main.h"

#include "db/tfrm_zd000.h"
#include "fakemessages.h"
#include "fakepelfunction.h"
#include "fakewindowsystem.h"
#include "platform/cp949.h"
#include "platform/imagelibrarywriter.h"
#include "session/tfrm_ah120.h"
#include "shared/sharedvalues.h"

#include <QFile>
#include <QTemporaryDir>
#include <QTest>

#include <functional>
#include <memory>

namespace {

QImage solid(int width, int height, const QColor &colour)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(colour);
    return image;
}

// The installation beside the executable: Main.ini and MainImg.dll in a directory of its own.
struct Installation
{
    QTemporaryDir dir;
    QSize background{640, 160};
    QString mainSection = QStringLiteral(
        "TITLE=오르사 통합시스템\r\nDATABASE=orsa\r\nDRIVER=POSTGRESQL\r\nIMAGE_WIDTH=96\r\n"
        "IMAGE_HEIGHT=40\r\nMINIMIZE=596,6,16,16\r\nCLOSE=616,6,16,16\r\n");
    QString projects = QStringLiteral(
        "프런트=ORSA_A;204,32\r\n객실관리=ORSA_B;308,32\r\n예약=\r\n회계=ORSA_D;516,32\r\n");
    QStringList leftOut;   // pictures not written
    bool writeLibrary = true;

    QString path() const { return dir.path() + QLatin1Char('/'); }

    void write()
    {
        QFile ini(dir.filePath(QStringLiteral("Main.ini")));
        QVERIFY(ini.open(QIODevice::WriteOnly));
        ini.write(Cp949::encode(QStringLiteral("[MAIN]\r\n") + mainSection
                                + QStringLiteral("[PROJECTS]\r\n") + projects));
        ini.close();
        if (!writeLibrary)
            return;
        QList<QPair<QString, QImage>> pictures;
        pictures.append({QStringLiteral("MAIN"), solid(background.width(), background.height(), Qt::darkCyan)});
        for (const char *id : {"ORSA_A", "ORSA_B", "ORSA_C", "ORSA_D"}) {
            const QString name = QString::fromLatin1(id);
            pictures.append({name, solid(96, 40, Qt::blue)});
            pictures.append({name + QLatin1Char('A'), solid(96, 40, Qt::yellow)});
            pictures.append({name + QLatin1Char('D'), solid(96, 40, Qt::gray)});
        }
        for (int i = pictures.size() - 1; i >= 0; --i) {
            if (leftOut.contains(pictures.at(i).first))
                pictures.removeAt(i);
        }
        QString error;
        QVERIFY2(writeImageLibrary(dir.filePath(QStringLiteral("MainImg.dll")), pictures, &error),
                 qPrintable(error));
    }
};

struct Harness
{
    FakeMessages messages;
    FakePelFunction machine{QStringLiteral("127.0.0.1")};
    FakeWindowSystem fakeWindows;
    // The desktop the window works with: the fake one unless a test hands in the real one.
    WindowSystem *windows = &fakeWindows;
    FakeProgramStarter programs;
    SharedValues shared;
    Tfrm_ZD000 db{messages};
    QList<int> logouts;
    bool logoutReachesDatabase = true;
    int loginsShown = 0;
    // Played by the login window: what a successful login leaves in the session values.
    std::function<bool(QWidget *)> login;
    bool fakeDatabase = true;
    QStringList arguments{QStringLiteral("orsa_demo")};
    QDateTime now = QDateTime(QDate(2006, 3, 1), QTime(15, 7));
    QRect screen{0, 0, 1024, 768};
    QUrl startPage;
    std::unique_ptr<Tfrm_0Main> window;
    // The team-role windows the main window made, and the owner it gave them.
    int teamRolesCreated = 0;
    QWidget *teamRoleOwner = nullptr;

    MainWindowServices services(const QString &dir)
    {
        MainWindowServices s(messages, db, machine, *windows, programs, shared);
        s.recordLogout = [this](int kind, QString *error) {
            logouts.append(kind);
            if (!logoutReachesDatabase && error)
                *error = QStringLiteral("no database");
            return logoutReachesDatabase;
        };
        s.runLogin = [this](QWidget *owner) {
            ++loginsShown;
            return login ? login(owner) : false;
        };
        s.createTeamRole = [this](QWidget *owner) {
            ++teamRolesCreated;
            teamRoleOwner = owner;
            return std::make_unique<Tfrm_AH120>(owner, shared, windows);
        };
        if (fakeDatabase) {
            s.initDatabase = [](QString *environment) {
                *environment = QStringLiteral("데모 환경");
                return true;
            };
        }
        s.arguments = arguments;
        s.executableDir = dir;
        s.peerPort = 0;
        s.startPage = startPage;
        s.now = [this] { return now; };
        s.screenGeometry = [this] { return screen; };
        return s;
    }

    Tfrm_0Main *create(const QString &dir)
    {
        window = std::make_unique<Tfrm_0Main>(services(dir));
        window->FormCreate();
        return window.get();
    }

    // A login that grants the rights and team roles, in the order of the PROJECTS keys.
    void loginAs(const QString &empNo, const QString &empName, const QList<int> &rights,
                 const QList<QList<RoleChoice>> &roles = {})
    {
        login = [this, empNo, empName, rights, roles](QWidget *) {
            shared.EmpNo = empNo;
            shared.EmpName = empName;
            for (int i = 0; i < shared.ProjectIds.size() && i < rights.size(); ++i)
                shared.ProjectIds[i].right = rights.at(i);
            for (int i = 0; i < shared.RoleChoices.size() && i < roles.size(); ++i)
                shared.RoleChoices[i] = roles.at(i);
            return true;
        };
    }
};

} // namespace
