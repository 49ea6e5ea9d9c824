// The message boxes as the user sees them: the real QMessageBox behind the messages service,
// answered by the keyboard from inside its own loop.

#include "platform/messages.h"

#include <QApplication>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <algorithm>

namespace {

struct SeenBox
{
    bool seen = false;
    QString title;
    QString text;
    Qt::TextFormat format = Qt::AutoText;
    Qt::TextFormat labelFormat = Qt::AutoText;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QMessageBox::StandardButton defaultButton = QMessageBox::NoButton;
    QStringList buttonTexts;   // left to right as laid out
};

// Waits for the box to come up, notes what it shows and presses the key.
void answerWhenShown(SeenBox *seen, Qt::Key key)
{
    // Owned by the application: a box that never shows leaves no timer behind.
    auto *timer = new QTimer(QCoreApplication::instance());
    timer->setInterval(10);
    QObject::connect(timer, &QTimer::timeout, [timer, seen, key] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box)
            return;
        timer->stop();
        timer->deleteLater();
        seen->seen = true;
        seen->title = box->windowTitle();
        seen->text = box->text();
        seen->format = box->textFormat();
        if (auto *label = box->findChild<QLabel *>(QStringLiteral("qt_msgbox_label")))
            seen->labelFormat = label->textFormat();
        seen->icon = box->icon();
        seen->buttons = box->standardButtons();
        if (QPushButton *button = box->defaultButton())
            seen->defaultButton = box->standardButton(button);
        QList<QAbstractButton *> buttons = box->buttons();
        std::sort(buttons.begin(), buttons.end(), [](QAbstractButton *a, QAbstractButton *b) {
            return a->x() < b->x();
        });
        for (QAbstractButton *button : buttons)
            seen->buttonTexts.append(button->text());
        QTest::keyClick(box, key);
    });
    timer->start();
}

} // namespace

class tst_Messages : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void shown_data();
    void shown();
    void nothingShownWhileTerminationPending();
};

void tst_Messages::shown_data()
{
    QTest::addColumn<QString>("text");
    QTest::addColumn<MessageIcon>("icon");
    QTest::addColumn<MessageButtons>("buttons");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("title");
    QTest::addColumn<QString>("shownText");
    QTest::addColumn<QMessageBox::Icon>("boxIcon");
    QTest::addColumn<QMessageBox::StandardButtons>("boxButtons");
    QTest::addColumn<QMessageBox::StandardButton>("defaultButton");
    QTest::addColumn<MessageAnswer>("answer");
    QTest::addColumn<QStringList>("buttonTexts");

    const QString title = QStringLiteral("오르사 통합시스템");
    const QMessageBox::StandardButtons ok = QMessageBox::Ok;
    const QMessageBox::StandardButtons yesNo = QMessageBox::Yes | QMessageBox::No;
    const QStringList okText{QStringLiteral("확인")};
    const QStringList yesNoTexts{QStringLiteral("예(&Y)"), QStringLiteral("아니요(&N)")};

    QTest::newRow("carriage return breaks the line")
        << QStringLiteral("MainImg.dll 파일이 손상되었습니다.\r다시 설치하십시오.") << MessageIcon::Error
        << MessageButtons::Ok << QString() << int(Qt::Key_Return) << title
        << QStringLiteral("MainImg.dll 파일이 손상되었습니다.\n다시 설치하십시오.")
        << QMessageBox::Critical << ok << QMessageBox::Ok << MessageAnswer::Ok << okText;
    QTest::newRow("blank line of a failure text")
        << QStringLiteral("데이터베이스와 연결할 수 없습니다.\r\r에러내용:\rtimeout") << MessageIcon::Error
        << MessageButtons::Ok << QString() << int(Qt::Key_Return) << title
        << QStringLiteral("데이터베이스와 연결할 수 없습니다.\n\n에러내용:\ntimeout")
        << QMessageBox::Critical << ok << QMessageBox::Ok << MessageAnswer::Ok << okText;
    QTest::newRow("carriage return and line feed are one break")
        << QStringLiteral("a\r\nb") << MessageIcon::Warning << MessageButtons::Ok << QString()
        << int(Qt::Key_Return) << title << QStringLiteral("a\nb") << QMessageBox::Warning << ok
        << QMessageBox::Ok << MessageAnswer::Ok << okText;
    // A database's error text or a Main.ini value may hold anything; it is never markup.
    QTest::newRow("text that looks like markup")
        << QStringLiteral("<b>ORSA_B</b> 실행 파일(<i>x.exe</i>)이 없습니다.\r<br>")
        << MessageIcon::Information << MessageButtons::Ok << QString() << int(Qt::Key_Return)
        << title << QStringLiteral("<b>ORSA_B</b> 실행 파일(<i>x.exe</i>)이 없습니다.\n<br>")
        << QMessageBox::Information << ok << QMessageBox::Ok << MessageAnswer::Ok << okText;
    QTest::newRow("question under Main, Enter")
        << QStringLiteral("실행 중인 프로그램이 있습니다.\r모두 종료하시겠습니까?") << MessageIcon::Question
        << MessageButtons::YesNo << QStringLiteral("Main") << int(Qt::Key_Return)
        << QStringLiteral("Main") << QStringLiteral("실행 중인 프로그램이 있습니다.\n모두 종료하시겠습니까?")
        << QMessageBox::Question << yesNo << QMessageBox::Yes << MessageAnswer::Yes << yesNoTexts;
    QTest::newRow("question under Main, Escape")
        << QStringLiteral("원격제어 요청 프로그램입니다.\r실행하시겠습니까?") << MessageIcon::Question
        << MessageButtons::YesNo << QStringLiteral("Main") << int(Qt::Key_Escape)
        << QStringLiteral("Main") << QStringLiteral("원격제어 요청 프로그램입니다.\n실행하시겠습니까?")
        << QMessageBox::Question << yesNo << QMessageBox::Yes << MessageAnswer::No << yesNoTexts;
    QTest::newRow("question under the title")
        << QStringLiteral("q") << MessageIcon::Question << MessageButtons::YesNo << QString()
        << int(Qt::Key_N) << title << QStringLiteral("q") << QMessageBox::Question << yesNo
        << QMessageBox::Yes << MessageAnswer::No << yesNoTexts;
}

void tst_Messages::shown()
{
    QFETCH(QString, text);
    QFETCH(MessageIcon, icon);
    QFETCH(MessageButtons, buttons);
    QFETCH(QString, caption);
    QFETCH(int, key);
    QFETCH(QString, title);
    QFETCH(QString, shownText);
    QFETCH(QMessageBox::Icon, boxIcon);
    QFETCH(QMessageBox::StandardButtons, boxButtons);
    QFETCH(QMessageBox::StandardButton, defaultButton);
    QFETCH(MessageAnswer, answer);
    QFETCH(QStringList, buttonTexts);

    std::unique_ptr<Messages> messages = Messages::createSystem();
    messages->setApplicationTitle(QStringLiteral("오르사 통합시스템"));
    SeenBox seen;
    answerWhenShown(&seen, Qt::Key(key));
    const MessageAnswer given = messages->show(text, icon, buttons, caption);

    QVERIFY(seen.seen);
    QCOMPARE(seen.title, title);
    QCOMPARE(seen.text, shownText);
    QCOMPARE(seen.format, Qt::PlainText);
    QCOMPARE(seen.labelFormat, Qt::PlainText);
    QCOMPARE(seen.icon, boxIcon);
    QCOMPARE(seen.buttons, boxButtons);
    QCOMPARE(seen.defaultButton, defaultButton);
    QCOMPARE(seen.buttonTexts, buttonTexts);
    QCOMPARE(given, answer);
}

void tst_Messages::nothingShownWhileTerminationPending()
{
    std::unique_ptr<Messages> messages = Messages::createSystem();
    messages->requestTermination();
    SeenBox seen;
    answerWhenShown(&seen, Qt::Key_Return);
    const MessageAnswer given =
        messages->show(QStringLiteral("a\rb"), MessageIcon::Question, MessageButtons::YesNo);
    QCOMPARE(given, MessageAnswer::Cancelled);
    // Give a box that should not be there every chance to come up.
    QTest::qWait(100);
    QVERIFY(!seen.seen);
    QVERIFY(!QApplication::activeModalWidget());
}

QTEST_MAIN(tst_Messages)
#include "tst_messages.moc"
