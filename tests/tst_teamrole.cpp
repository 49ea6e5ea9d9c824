#include "platform/cp949.h"
#include "platform/profilefile.h"
#include "session/tfrm_ah120.h"
#include "shared/sharedvalues.h"
#include "support/fakewindowsystem.h"
#include "widgets/tpelimage.h"
#include "widgets/twlabel.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

namespace {

const QString All = QStringLiteral("[전체]");

// "code|name" per entry, so the rows read as the login left the choices.
QList<RoleChoice> choicesFrom(const QStringList &entries)
{
    QList<RoleChoice> choices;
    for (const QString &entry : entries) {
        const int bar = int(entry.indexOf(QLatin1Char('|')));
        choices.append({entry.mid(bar + 1), entry.left(bar).toInt()});
    }
    return choices;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return QByteArray();
    return file.readAll();
}

bool writeAll(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

// The session of an employee with rights to three projects; ORSA_B runs under a team role.
struct Session
{
    QTemporaryDir dir;
    SharedValues shared;

    Session(int type, const QList<RoleChoice> &choices)
    {
        shared.AppDir = QDir::toNativeSeparators(dir.path()) + QDir::separator();
        shared.ProjectIds = {{QStringLiteral("ORSA_A"), 0}, {QStringLiteral("ORSA_B"), type},
                             {QStringLiteral("ORSA_D"), 1}};
        shared.RoleChoices = {{}, choices, choicesFrom({QStringLiteral("9|다른 사업장")})};
    }

    QString roleFile() const { return dir.filePath(QStringLiteral("ORSA_B.ini")); }
    ProfileFile read() const { return ProfileFile(roleFile()); }
};

QStringList items(const QComboBox *combo)
{
    QStringList list;
    for (int i = 0; i < combo->count(); ++i)
        list.append(combo->itemText(i));
    return list;
}

} // namespace

class tst_TeamRole : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void window();
    void fillRoles_data();
    void fillRoles();
    void save_data();
    void save();
    void otherContentsKept();
    void existingFileInOtherLetterCase();
    void closedWithoutOkWritesNothing();
    void escapeDoesNotClose();
    void writeFailureIsReported();
    void roleFileNotRegularIsRefused_data();
    void roleFileNotRegularIsRefused();
    void placement_data();
    void placement();
};

void tst_TeamRole::window()
{
    Session session(2, {});
    FakeWindowSystem windows;
    Tfrm_AH120 w(nullptr, session.shared, &windows);
    QCOMPARE(w.size(), QSize(300, 75));
    QCOMPARE(w.windowTitle(), QStringLiteral("권한"));
    QVERIFY(w.windowFlags() & Qt::FramelessWindowHint);
    QCOMPARE(windows.classOf(&w), QStringLiteral("Tfrm_AH120"));
    QCOMPARE(w.wlbBack()->geometry(), QRect(0, 0, 300, 75));
    QCOMPARE(w.wlbBack()->alignment(), taLeftJustify);
    QVERIFY(w.wlbBack()->caption().isEmpty());
    QCOMPARE(w.wlbBack()->borderStyle(), mlbsRaised);
    QCOMPARE(w.cbbTeamRole()->geometry(), QRect(75, 15, 212, 20));
    QVERIFY(!w.cbbTeamRole()->isEditable());
    QCOMPARE(w.imgOK()->geometry(), QRect(229, 42, 57, 21));
    QCOMPARE(w.lblTeamRole()->pos(), QPoint(18, 18));

    // Without a window system nothing is named.
    Tfrm_AH120 unnamed(nullptr, session.shared);
    QCOMPARE(windows.classes.size(), 1);
}

void tst_TeamRole::fillRoles_data()
{
    QTest::addColumn<QString>("projectId");
    QTest::addColumn<int>("type");
    QTest::addColumn<QStringList>("choices");
    QTest::addColumn<int>("count");
    QTest::addColumn<QStringList>("items");
    QTest::addColumn<QString>("label");
    QTest::addColumn<bool>("savedAtOnce");

    const QString b = QStringLiteral("ORSA_B");
    QTest::newRow("no choice") << b << 2 << QStringList() << 0 << QStringList() << QString() << false;
    QTest::newRow("one choice saved at once")
        << b << 2 << QStringList{QStringLiteral("12|영업1팀")} << 1
        << QStringList{QStringLiteral("12 - 영업1팀")} << QString() << true;
    QTest::newRow("two choices, all first")
        << b << 1 << QStringList{QStringLiteral("1|본사"), QStringLiteral("2|리조트")} << 2
        << QStringList{All, QStringLiteral("1 - 본사"), QStringLiteral("2 - 리조트")}
        << QStringLiteral("사업장") << false;
    QTest::newRow("team") << b << 2 << QStringList{QStringLiteral("30|객실팀"), QStringLiteral("31|식음팀")}
                          << 2 << QStringList{All, QStringLiteral("30 - 객실팀"), QStringLiteral("31 - 식음팀")}
                          << QStringLiteral("팀") << false;
    QTest::newRow("three outlets in query order")
        << b << 3 << QStringList{QStringLiteral("103|라운지"), QStringLiteral("101|뷔페"), QStringLiteral("-5|바")}
        << 3 << QStringList{All, QStringLiteral("103 - 라운지"), QStringLiteral("101 - 뷔페"), QStringLiteral("-5 - 바")}
        << QStringLiteral("영업장") << false;
    QTest::newRow("unknown type leaves the label empty")
        << b << 7 << QStringList{QStringLiteral("1|가"), QStringLiteral("2|나")} << 2
        << QStringList{All, QStringLiteral("1 - 가"), QStringLiteral("2 - 나")} << QString() << false;
    QTest::newRow("name with a percent sign")
        << b << 2 << QStringList{QStringLiteral("4|%1팀"), QStringLiteral("5|%2팀")} << 2
        << QStringList{All, QStringLiteral("4 - %1팀"), QStringLiteral("5 - %2팀")} << QStringLiteral("팀") << false;
    QTest::newRow("project not configured")
        << QStringLiteral("ORSA_Z") << 2 << QStringList{QStringLiteral("1|가")} << 0 << QStringList()
        << QString() << false;
}

void tst_TeamRole::fillRoles()
{
    QFETCH(QString, projectId);
    QFETCH(int, type);
    QFETCH(QStringList, choices);
    QFETCH(int, count);
    QFETCH(QStringList, items);
    QFETCH(QString, label);
    QFETCH(bool, savedAtOnce);

    Session session(type, choicesFrom(choices));
    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(projectId);
    QCOMPARE(w.FillRoles(), count);
    QCOMPARE(::items(w.cbbTeamRole()), items);
    if (!items.isEmpty())
        QCOMPARE(w.cbbTeamRole()->currentIndex(), 0);
    QCOMPARE(w.lblTeamRole()->text(), label);
    QCOMPARE(w.saved(), savedAtOnce);
    QCOMPARE(QFile::exists(session.roleFile()), savedAtOnce);
    if (savedAtOnce) {
        const RoleChoice only = choicesFrom(choices).first();
        const ProfileFile file = session.read();
        QCOMPARE(file.keys(QStringLiteral("Role")),
                 (QStringList{QStringLiteral("Type"), QStringLiteral("Code"), QStringLiteral("Name")}));
        QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Type")), QString::number(type));
        QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Code")), QString::number(only.code));
        QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Name")), only.name);
    }
}

void tst_TeamRole::save_data()
{
    QTest::addColumn<int>("type");
    QTest::addColumn<int>("select");   // -1: the selection is left as it is
    QTest::addColumn<QString>("how");
    QTest::addColumn<QString>("code");
    QTest::addColumn<QString>("name");

    QTest::newRow("OK without a change") << 2 << -1 << "button" << "0" << All;
    QTest::newRow("Enter without a change") << 3 << -1 << "enter" << "0" << All;
    QTest::newRow("type kept with all") << 1 << 0 << "button" << "0" << All;
    QTest::newRow("first entry") << 2 << 1 << "button" << "30" << QStringLiteral("객실팀");
    QTest::newRow("third item is the second entry") << 2 << 2 << "enter" << "31" << QStringLiteral("식음팀");
    QTest::newRow("last entry, negative code") << 3 << 3 << "button" << "-5" << QStringLiteral("바 라운지");
    // The list dropped down, the entry below the selected one highlighted: one Enter takes it.
    QTest::newRow("Enter in the dropped-down list") << 2 << 1 << "dropped enter" << "31"
                                                    << QStringLiteral("식음팀");
}

void tst_TeamRole::save()
{
    QFETCH(int, type);
    QFETCH(int, select);
    QFETCH(QString, how);
    QFETCH(QString, code);
    QFETCH(QString, name);

    Session session(type, choicesFrom({QStringLiteral("30|객실팀"), QStringLiteral("31|식음팀"),
                                       QStringLiteral("-5|바 라운지")}));
    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 3);
    QVERIFY(!QFile::exists(session.roleFile()));
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    if (select >= 0)
        w.cbbTeamRole()->setCurrentIndex(select);
    if (how == QLatin1String("enter")) {
        QTest::keyClick(w.cbbTeamRole(), Qt::Key_Return);
    } else if (how == QLatin1String("dropped enter")) {
        w.cbbTeamRole()->showPopup();
        QTRY_VERIFY(QApplication::activePopupWidget());
        // Keys go where the window system sends them while a list is dropped down.
        QWidget *popup = QApplication::activePopupWidget();
        QWidget *target = popup->focusWidget() ? popup->focusWidget() : popup;
        QTest::keyClick(target, Qt::Key_Down);
        QTest::keyClick(target, Qt::Key_Return);
    } else {
        QTest::mouseClick(w.imgOK(), Qt::LeftButton, {}, QPoint(10, 10));
    }

    QCOMPARE(w.result(), int(QDialog::Accepted));
    QVERIFY(!w.isVisible());
    QVERIFY(w.SaveError().isEmpty());
    const ProfileFile file = session.read();
    QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Type")), QString::number(type));
    QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Code")), code);
    QCOMPARE(file.value(QStringLiteral("Role"), QStringLiteral("Name")), name);
    // Code page 949 on disk, never UTF-8.
    const QByteArray bytes = readAll(session.roleFile());
    QVERIFY(bytes.contains(Cp949::encode(QStringLiteral("Name=") + name)));
    QVERIFY(!bytes.contains(name.toUtf8()));
}

void tst_TeamRole::otherContentsKept()
{
    Session session(2, choicesFrom({QStringLiteral("30|객실팀"), QStringLiteral("31|식음팀")}));
    const QByteArray before = Cp949::encode(QStringLiteral(
        "; 프로젝트 설정\r\n[Print]\r\nPrinter=영업장 프린터\r\n\r\n[Role]\r\nName=이전 팀\r\n"
        "Extra=남김\r\nCode=17\r\n[Last]\r\nKey=값\r\n"));
    QVERIFY(writeAll(session.roleFile(), before));

    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 2);
    w.cbbTeamRole()->setCurrentIndex(2);
    QVERIFY(w.SaveRole());

    const QByteArray after = readAll(session.roleFile());
    // Keys already there keep their place; the new one follows the section's last key.
    const QByteArray expected = Cp949::encode(QStringLiteral(
        "; 프로젝트 설정\r\n[Print]\r\nPrinter=영업장 프린터\r\n\r\n[Role]\r\nName=식음팀\r\n"
        "Extra=남김\r\nCode=31\r\nType=2\r\n[Last]\r\nKey=값\r\n"));
    QCOMPARE(after, expected);
}

void tst_TeamRole::existingFileInOtherLetterCase()
{
    Session session(1, choicesFrom({QStringLiteral("8|콘도")}));
    const QString lower = session.dir.filePath(QStringLiteral("orsa_b.INI"));
    QVERIFY(writeAll(lower, "[Role]\r\nType=1\r\nCode=3\r\nName=x\r\n"));
    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 1);
    QCOMPARE(QDir(session.dir.path()).entryList(QDir::Files), QStringList{QStringLiteral("orsa_b.INI")});
    QCOMPARE(ProfileFile(lower).value(QStringLiteral("Role"), QStringLiteral("Code")), QStringLiteral("8"));
}

void tst_TeamRole::closedWithoutOkWritesNothing()
{
    Session session(2, choicesFrom({QStringLiteral("30|객실팀"), QStringLiteral("31|식음팀")}));
    const QByteArray before = Cp949::encode(QStringLiteral("[Role]\r\nType=2\r\nCode=30\r\nName=객실팀\r\n"));
    QVERIFY(writeAll(session.roleFile(), before));
    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 2);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    w.cbbTeamRole()->setCurrentIndex(0);
    QVERIFY(w.close());
    QCOMPARE(w.result(), int(QDialog::Rejected));
    QVERIFY(!w.saved());
    QCOMPARE(readAll(session.roleFile()), before);
}

void tst_TeamRole::escapeDoesNotClose()
{
    Session session(2, choicesFrom({QStringLiteral("30|객실팀"), QStringLiteral("31|식음팀")}));
    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 2);
    w.show();
    QVERIFY(QTest::qWaitForWindowExposed(&w));
    QTest::keyClick(&w, Qt::Key_Escape);
    QTest::keyClick(w.cbbTeamRole(), Qt::Key_Escape);
    QVERIFY(w.isVisible());
    QVERIFY(!QFile::exists(session.roleFile()));
}

void tst_TeamRole::writeFailureIsReported()
{
    Session session(2, choicesFrom({QStringLiteral("30|객실팀")}));
    // A directory where the role file should be: nothing can be written there.
    QVERIFY(QDir(session.dir.path()).mkdir(QStringLiteral("ORSA_B.ini")));
    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 1);
    QVERIFY(!w.saved());
    QVERIFY(!w.SaveError().isEmpty());
}

void tst_TeamRole::roleFileNotRegularIsRefused_data()
{
    QTest::addColumn<QString>("kind");
    QTest::newRow("link to another file") << QStringLiteral("link");
    QTest::newRow("dangling link") << QStringLiteral("dangling");
    QTest::newRow("named pipe") << QStringLiteral("pipe");
}

// A role file in a directory others can write may be replaced by a link to a file of whoever
// starts the project next: nothing is written through it, and the save is reported as failed.
void tst_TeamRole::roleFileNotRegularIsRefused()
{
    QFETCH(QString, kind);
    Session session(2, choicesFrom({QStringLiteral("30|객실팀")}));
    QTemporaryDir elsewhere;
    const QString target = elsewhere.filePath(QStringLiteral("victim.txt"));
    const QByteArray before = "not a profile file\n";
    if (kind == QLatin1String("link"))
        QVERIFY(writeAll(target, before));
    if (kind == QLatin1String("pipe"))
        QCOMPARE(::mkfifo(QFile::encodeName(session.roleFile()).constData(), 0600), 0);
    else
        QVERIFY(QFile::link(target, session.roleFile()));

    Tfrm_AH120 w(nullptr, session.shared);
    w.setProjectId(QStringLiteral("ORSA_B"));
    QCOMPARE(w.FillRoles(), 1);
    QVERIFY(!w.saved());
    QVERIFY(!w.SaveError().isEmpty());
    if (kind == QLatin1String("link"))
        QCOMPARE(readAll(target), before);
    else
        QVERIFY(!QFile::exists(target));
}

void tst_TeamRole::placement_data()
{
    QTest::addColumn<QRect>("owner");
    QTest::addColumn<QRect>("button");
    QTest::addColumn<QPoint>("place");

    const QRect owner(192, 304, 640, 160);
    QTest::newRow("under the button") << owner << QRect(204, 32, 96, 40) << QPoint(192 + 204, 304 + 74);
    QTest::newRow("right edge exactly on the owner's") << owner << QRect(340, 32, 96, 40)
                                                       << QPoint(192 + 340, 304 + 74);
    QTest::newRow("one pixel beyond") << owner << QRect(341, 32, 96, 40) << QPoint(192 + 335, 304 + 74);
    QTest::newRow("button near the right edge") << owner << QRect(516, 32, 96, 40)
                                                << QPoint(192 + 640 - 300 - 5, 304 + 74);
    QTest::newRow("owner at the origin, taller button") << QRect(0, 0, 640, 160) << QRect(0, 10, 96, 60)
                                                        << QPoint(0, 72);
    QTest::newRow("owner narrower than the window") << QRect(10, 0, 200, 100) << QRect(0, 0, 96, 40)
                                                    << QPoint(10 + 200 - 305, 42);
    QTest::newRow("button at the far end of the 32-bit range")
        << owner << QRect(2147483000, 32, 96, 40) << QPoint(192 + 640 - 300 - 5, 304 + 74);
}

void tst_TeamRole::placement()
{
    QFETCH(QRect, owner);
    QFETCH(QRect, button);
    QFETCH(QPoint, place);
    const QPoint p = Tfrm_AH120::placeUnder(owner, button, QSize(300, 75));
    QCOMPARE(p, place);
    if (owner.width() >= 305)
        QVERIFY(p.x() + 300 <= owner.left() + owner.width());
}

QTEST_MAIN(tst_TeamRole)
#include "tst_teamrole.moc"
