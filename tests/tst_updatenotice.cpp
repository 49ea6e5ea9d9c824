// The update notice window: its texts, place and shape, the hover look, and what a click on
// either text does to the running program, the launcher and the notice itself.

#include "update/tfrm_bh010.h"

#include "fakemessages.h"
#include "fakewindowsystem.h"

#include <QGuiApplication>
#include <QPointer>
#include <QScreen>
#include <QtTest>

class tst_UpdateNotice : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void texts_data();
    void texts();
    void placeAndShape();
    void hover();
    void closeText();
    void updateText_data();
    void updateText();
};

void tst_UpdateNotice::texts_data()
{
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("caption");
    QTest::newRow("with title") << QStringLiteral("프런트") << QStringLiteral("orsa_A")
                                << QStringLiteral("orsa_a");
    QTest::newRow("no project") << QString() << QStringLiteral("orsa_C") << QStringLiteral("orsa_c");
}

void tst_UpdateNotice::texts()
{
    QFETCH(QString, title);
    QFETCH(QString, name);
    QFETCH(QString, caption);
    Tfrm_BH010 notice;
    QCOMPARE(notice.windowTitle(), QStringLiteral("Update"));
    QCOMPARE(notice.lblUpdate()->caption(),
             QStringLiteral("프로그램이 변경되었습니다.\r\n지금 업데이트 하려면 이곳을 누르십시오."));
    QCOMPARE(notice.lblClose()->caption(), QStringLiteral("변경하지 않고 닫기"));
    QCOMPARE(notice.font().family(), QStringLiteral("굴림"));
    QCOMPARE(notice.font().pixelSize(), 12);

    notice.ProgramTitle = title;
    notice.ProgramName = name;
    notice.show();
    QCOMPARE(notice.windowTitle(), caption);
    QCOMPARE(notice.lblUpdate()->caption(),
             title + QStringLiteral("프로그램이 변경되었습니다.\r\n지금 업데이트 하려면 이곳을 누르십시오."));
    QCOMPARE(notice.lblUpdate()->text(),
             title + QStringLiteral("프로그램이 변경되었습니다.\n지금 업데이트 하려면 이곳을 누르십시오."));
}

void tst_UpdateNotice::placeAndShape()
{
    Tfrm_BH010 notice;
    const QRect work = QGuiApplication::primaryScreen()->availableGeometry();
    QCOMPARE(notice.pos(), QPoint(work.x() + work.width() - 270 - 5, work.y() + work.height() - 65 - 5));
    QCOMPARE(notice.size(), QSize(272, 67));
    QCOMPARE(notice.imgUpdate()->geometry(), QRect(0, 0, 270, 65));
    QCOMPARE(notice.lblUpdate()->geometry(), QRect(13, 11, 224, 24));
    QCOMPARE(notice.lblClose()->geometry(), QRect(150, 42, 104, 12));
    const QRegion shape = notice.mask();
    QVERIFY(shape.contains(QPoint(10, 10)));
    QVERIFY(shape.contains(QPoint(268, 40)));   // only in the lower-right rectangle
    QVERIFY(shape.contains(QPoint(2, 30)));     // only in the upper-left rectangle
    QVERIFY(!shape.contains(QPoint(0, 0)));     // rounded corner
    QVERIFY(!shape.contains(QPoint(271, 66)));
    QVERIFY(!shape.contains(QPoint(3, 64)));    // outside both
    QVERIFY(!shape.contains(QPoint(269, 2)));

    // Two notices sit on the same spot.
    Tfrm_BH010 second;
    QCOMPARE(second.geometry(), notice.geometry());
}

void tst_UpdateNotice::hover()
{
    Tfrm_BH010 notice;
    for (NoticeLabel *label : {notice.lblUpdate(), notice.lblClose()}) {
        label->lblMouseEnter();
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 255));
        QVERIFY(label->font().underline());
        label->lblMouseLeave();
        QCOMPARE(label->palette().color(QPalette::WindowText), QColor(0, 0, 0));
        QVERIFY(!label->font().underline());
    }
}

void tst_UpdateNotice::closeText()
{
    FakeWindowSystem windows;
    windows.addWindow(QStringLiteral("TfrmA0Main"));
    QStringList launched;
    QPointer<Tfrm_BH010> notice = new Tfrm_BH010;
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->setActions({&windows, nullptr, [&](const QString &f) { launched << f; }, 200});
    notice->ProgramName = QStringLiteral("orsa_A");
    notice->show();
    QTest::mouseClick(notice->lblClose(), Qt::LeftButton, {}, QPoint(5, 5));
    QTRY_VERIFY(notice.isNull());
    QVERIFY(launched.isEmpty());
    QVERIFY(windows.closed.isEmpty());
}

void tst_UpdateNotice::updateText_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QStringList>("running");   // window classes on the desktop
    QTest::addColumn<bool>("refuses");          // the program ignores the close request
    QTest::addColumn<int>("closes");            // index into running of the window asked to close; -1 none
    QTest::addColumn<QString>("launched");      // empty: nothing launched
    QTest::addColumn<QString>("message");

    const QStringList ab{QStringLiteral("TfrmB0Main"), QStringLiteral("TfrmA0Main")};
    QTest::newRow("running program closes, then restarts")
        << "orsa_A" << "프런트" << ab << false << 1 << "orsa_A.exe" << QString();
    QTest::newRow("lower-case letter names the same class")
        << "orsa_b" << "객실관리" << ab << false << 0 << "orsa_b.exe" << QString();
    QTest::newRow("not running: launched at once")
        << "orsa_C" << "" << ab << false << -1 << "orsa_C.exe" << QString();
    QTest::newRow("refuses to close")
        << "orsa_A" << "프런트" << ab << true << 1 << QString()
        << QStringLiteral("실행 중인 프로그램을 종료할 수 없습니다.\r프런트를(을) 직접 종료하고 다시 실행하십시오.");
    QTest::newRow("refuses, no project title")
        << "orsa_A" << "" << ab << true << 1 << QString()
        << QStringLiteral("실행 중인 프로그램을 종료할 수 없습니다.\r를(을) 직접 종료하고 다시 실행하십시오.");
    QTest::newRow("not a project name: nothing closed")
        << "orsa_AB" << "" << ab << true << -1 << "orsa_AB.exe" << QString();
}

void tst_UpdateNotice::updateText()
{
    QFETCH(QString, name);
    QFETCH(QString, title);
    QFETCH(QStringList, running);
    QFETCH(bool, refuses);
    QFETCH(int, closes);
    QFETCH(QString, launched);
    QFETCH(QString, message);

    FakeWindowSystem windows;
    QList<WindowId> ids;
    for (const QString &className : running) {
        ids.append(windows.addWindow(className));
        if (refuses)
            windows.ignoresClose.insert(ids.last());
    }
    FakeMessages messages;
    QStringList launches;
    QPointer<Tfrm_BH010> notice = new Tfrm_BH010;
    notice->setAttribute(Qt::WA_DeleteOnClose);
    notice->setActions({&windows, &messages, [&](const QString &f) { launches << f; }, 200});
    notice->ProgramTitle = title;
    notice->ProgramName = name;
    notice->show();
    QTest::mouseClick(notice->lblUpdate(), Qt::LeftButton, {}, QPoint(5, 5));

    QCOMPARE(windows.closed, closes < 0 ? QList<WindowId>() : QList<WindowId>{ids.at(closes)});
    QCOMPARE(launches, launched.isEmpty() ? QStringList() : QStringList{launched});
    if (message.isEmpty()) {
        QVERIFY(messages.shown.isEmpty());
    } else {
        QCOMPARE(messages.shown.size(), 1);
        QCOMPARE(messages.shown.first().text, message);
        QCOMPARE(messages.shown.first().icon, MessageIcon::Error);
        QCOMPARE(messages.shown.first().caption, name.toLower());
    }
    QTRY_VERIFY(notice.isNull());
}

QTEST_MAIN(tst_UpdateNotice)
#include "tst_updatenotice.moc"
