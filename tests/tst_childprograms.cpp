// Counting and closing the project programs on a desktop of fake windows: the order of the
// steps and what is asked, closed and left alone.

#include "app/childprograms.h"

#include "fakemessages.h"
#include "fakewindowsystem.h"

#include <QElapsedTimer>
#include <QtTest>

class tst_ChildPrograms : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void count_data();
    void count();
    void close_data();
    void close();
    void updaterThatRefusesIsGivenUp();
};

void tst_ChildPrograms::count_data()
{
    QTest::addColumn<QStringList>("classes");
    QTest::addColumn<int>("count");
    QTest::newRow("nothing") << QStringList() << 0;
    QTest::newRow("one") << QStringList{QStringLiteral("TfrmB0Main")} << 1;
    QTest::newRow("same class twice counts once")
        << QStringList{QStringLiteral("TfrmB0Main"), QStringLiteral("TfrmB0Main")} << 1;
    QTest::newRow("first and last letter")
        << QStringList{QStringLiteral("TfrmA0Main"), QStringLiteral("TfrmZ0Main")} << 2;
    QTest::newRow("other programs do not count")
        << QStringList{QStringLiteral("Tfrm_0Main"), QStringLiteral("TPelUpdateMainForm"),
                       QStringLiteral("Tfrm_BH010"), QStringLiteral("TfrmAB0Main"),
                       QStringLiteral("Tfrm10Main"), QStringLiteral("TfrmB0MainX")}
        << 0;
    QTest::newRow("class names compare without case")
        << QStringList{QStringLiteral("tfrmc0main"), QStringLiteral("TFRMC0MAIN")} << 1;
}

void tst_ChildPrograms::count()
{
    QFETCH(QStringList, classes);
    QFETCH(int, count);
    FakeWindowSystem windows;
    for (const QString &c : classes)
        windows.addWindow(c, QStringLiteral("caption"));
    QCOMPARE(CountChildPrograms(windows), count);
    QCOMPARE(windows.scans, 1);
}

void tst_ChildPrograms::close_data()
{
    QTest::addColumn<QStringList>("classes");   // added bottom to top
    QTest::addColumn<bool>("ask");
    QTest::addColumn<QList<MessageAnswer>>("answers");
    QTest::addColumn<bool>("result");
    QTest::addColumn<int>("questions");
    QTest::addColumn<QStringList>("closedClasses");  // in the order of the close requests

    const QString a = QStringLiteral("TfrmA0Main"), b = QStringLiteral("TfrmB0Main");
    const QString u = QStringLiteral("TPelUpdateMainForm");
    using L = QList<MessageAnswer>;
    QTest::newRow("nothing runs: no question") << QStringList() << true << L() << true << 0
                                               << QStringList();
    QTest::newRow("only the updater: closed, no question")
        << QStringList{u} << true << L() << true << 0 << QStringList{u};
    QTest::newRow("asked, Yes closes by letter")
        << QStringList{b, a} << true << L{MessageAnswer::Yes} << true << 1 << QStringList{a, b};
    QTest::newRow("asked, No closes nothing")
        << QStringList{b, a} << true << L{MessageAnswer::No} << false << 1 << QStringList();
    QTest::newRow("asked, cancelled closes nothing")
        << QStringList{a} << true << L{MessageAnswer::Cancelled} << false << 1 << QStringList();
    QTest::newRow("not asked")
        << QStringList{a, b} << false << L() << true << 0 << QStringList{a, b};
    QTest::newRow("updater first, even when the answer is No")
        << QStringList{a, u} << true << L{MessageAnswer::No} << false << 1 << QStringList{u};
    QTest::newRow("two windows of one class: the first found is closed")
        << QStringList{a, a} << false << L() << true << 0 << QStringList{a};
}

void tst_ChildPrograms::close()
{
    QFETCH(QStringList, classes);
    QFETCH(bool, ask);
    QFETCH(QList<MessageAnswer>, answers);
    QFETCH(bool, result);
    QFETCH(int, questions);
    QFETCH(QStringList, closedClasses);

    FakeWindowSystem windows;
    QHash<WindowId, QString> classOf;
    for (const QString &c : classes)
        classOf.insert(windows.addWindow(c, c), c);
    const WindowId topmost = windows.windows.isEmpty() ? 0 : windows.windows.first().id;
    FakeMessages messages;
    messages.setApplicationTitle(QStringLiteral("오르사 통합시스템"));
    messages.answers = answers;

    QCOMPARE(CloseChildPrograms(windows, messages, ask, 1000), result);
    QCOMPARE(messages.shown.size(), questions);
    if (questions) {
        const FakeMessages::Shown &q = messages.shown.first();
        QCOMPARE(q.text, QStringLiteral("실행 중인 프로그램이 있습니다.\r모두 종료하시겠습니까?"));
        QCOMPARE(q.icon, MessageIcon::Question);
        QCOMPARE(q.buttons, MessageButtons::YesNo);
        QCOMPARE(q.caption, QStringLiteral("Main"));
    }
    QStringList closed;
    for (WindowId id : std::as_const(windows.closed))
        closed.append(classOf.value(id));
    QCOMPARE(closed, closedClasses);
    if (classes.size() == 2 && classes.first() == classes.last() && !closed.isEmpty())
        QCOMPARE(windows.closed.first(), topmost);
}

void tst_ChildPrograms::updaterThatRefusesIsGivenUp()
{
    FakeWindowSystem windows;
    const WindowId program = windows.addWindow(QStringLiteral("TfrmA0Main"));
    const WindowId updater = windows.addWindow(QStringLiteral("TPelUpdateMainForm"));
    windows.ignoresClose.insert(updater);
    FakeMessages messages;

    QElapsedTimer timer;
    timer.start();
    QVERIFY(CloseChildPrograms(windows, messages, false, 300));
    QVERIFY(timer.elapsed() >= 300);
    QVERIFY(timer.elapsed() < 3000);
    QVERIFY(windows.closed.count(updater) >= 2);   // asked again and again meanwhile
    QVERIFY(windows.closed.count(updater) < 100);  // but not in a busy loop
    QCOMPARE(windows.closed.last(), program);  // then the program was closed
}

QTEST_MAIN(tst_ChildPrograms)
#include "tst_childprograms.moc"
