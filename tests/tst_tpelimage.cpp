#include "widgets/tpelimage.h"

#include <QSignalSpy>
#include <QtTest>

#include <memory>

using namespace Qt::StringLiterals;

namespace {

QImage solid(const QColor &color, const QSize &size = QSize(20, 12))
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

const QColor Background(255, 0, 255);
const QColor Normal(200, 0, 0);
const QColor Active(0, 160, 0);
const QColor Disabled(0, 0, 200);
const QColor Replacement(230, 200, 0);

QColor namedColor(const QString &name)
{
    if (name == "normal"_L1)
        return Normal;
    if (name == "active"_L1)
        return Active;
    if (name == "disabled"_L1)
        return Disabled;
    if (name == "replacement"_L1)
        return Replacement;
    return Background;  // "none": the owner's surface shows
}

// Counts the paints of one widget.
class PaintCounter : public QObject
{
public:
    int count = 0;
    bool eventFilter(QObject *, QEvent *event) override
    {
        if (event->type() == QEvent::Paint)
            ++count;
        return false;
    }
};

} // namespace

class tst_TPelImage : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init();
    void cleanup();

    void newControlShowsNothing();
    void pictureDrawnUnscaledAtOrigin();
    void modesAndPointer_data();
    void modesAndPointer();
    void ownedPicturesAreNotShown();
    void hintAndTag();
    void clicks_data();
    void clicks();

private:
    void apply(const QString &step);
    QColor shownOnScreen();

    std::unique_ptr<QWidget> m_owner;
    TPelImage *m_image = nullptr;
    PaintCounter m_paints;
};

void tst_TPelImage::init()
{
    m_owner = std::make_unique<QWidget>();
    m_owner->resize(120, 80);
    m_owner->setAutoFillBackground(true);
    QPalette palette = m_owner->palette();
    palette.setColor(QPalette::Window, Background);
    m_owner->setPalette(palette);
    m_image = new TPelImage(m_owner.get());
    m_image->setGeometry(10, 10, 20, 12);
    m_image->installEventFilter(&m_paints);
    m_owner->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_owner.get()));
    QCoreApplication::processEvents();
    m_paints.count = 0;
}

void tst_TPelImage::cleanup()
{
    m_owner.reset();
    m_image = nullptr;
}

QColor tst_TPelImage::shownOnScreen()
{
    QCoreApplication::processEvents();
    const QImage owner = m_owner->grab().toImage();
    return owner.pixelColor(m_image->geometry().center());
}

void tst_TPelImage::apply(const QString &step)
{
    if (step == "pictures"_L1) {
        m_image->setNormalPicture(solid(Normal));
        m_image->setActivePicture(solid(Active));
        m_image->setDisabledPicture(solid(Disabled));
    } else if (step == "normal on"_L1) {
        m_image->setNormalMode(true);
    } else if (step == "normal off"_L1) {
        m_image->setNormalMode(false);
    } else if (step == "enter"_L1) {
        QEnterEvent enter(QPointF(5, 5), QPointF(15, 15), QPointF(15, 15));
        QCoreApplication::sendEvent(m_image, &enter);
    } else if (step == "leave"_L1) {
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(m_image, &leave);
    } else if (step == "set normal"_L1) {
        m_image->setNormalPicture(solid(Replacement));
    } else if (step == "set active"_L1) {
        m_image->setActivePicture(solid(Replacement));
    } else if (step == "set disabled"_L1) {
        m_image->setDisabledPicture(solid(Replacement));
    } else {
        QFAIL(qPrintable(u"unknown step "_s + step));
    }
}

void tst_TPelImage::newControlShowsNothing()
{
    QVERIFY(m_image->Picture().isNull());
    QVERIFY(!m_image->NormalMode());
    QCOMPARE(shownOnScreen(), Background);

    // Normal and active pictures alone do not show outside normal mode.
    m_image->setNormalPicture(solid(Normal));
    m_image->setActivePicture(solid(Active));
    QCOMPARE(shownOnScreen(), Background);

    m_image->setDisabledPicture(solid(Disabled));
    QCOMPARE(m_image->Picture().pixelColor(0, 0), Disabled);
    QCOMPARE(shownOnScreen(), Disabled);
}

void tst_TPelImage::pictureDrawnUnscaledAtOrigin()
{
    m_image->resize(30, 30);
    QImage picture = solid(Normal, QSize(10, 6));
    picture.setPixelColor(9, 5, Active);
    m_image->setDisabledPicture(picture);
    QCoreApplication::processEvents();
    const QImage shown = m_image->grab().toImage();
    QCOMPARE(shown.pixelColor(0, 0), Normal);
    QCOMPARE(shown.pixelColor(9, 5), Active);
    QCOMPARE(shown.pixelColor(8, 4), Normal);
    // Beyond the picture the owner's surface stays.
    const QImage owner = m_owner->grab().toImage();
    QCOMPARE(owner.pixelColor(m_image->x() + 10, m_image->y()), Background);
    QCOMPARE(owner.pixelColor(m_image->x() + 20, m_image->y() + 20), Background);
}

void tst_TPelImage::modesAndPointer_data()
{
    QTest::addColumn<QStringList>("steps");
    QTest::addColumn<QString>("shown");
    QTest::addColumn<int>("immediateRepaints");

    const QString p = u"pictures"_s;
    QTest::newRow("disabled picture shown when set") << QStringList{p} << u"disabled"_s << 0;
    QTest::newRow("normal mode shows normal picture")
        << QStringList{p, u"normal on"_s} << u"normal"_s << 1;
    QTest::newRow("normal mode set to its value again")
        << QStringList{p, u"normal on"_s, u"normal on"_s} << u"normal"_s << 1;
    QTest::newRow("initial mode set to false again") << QStringList{p, u"normal off"_s} << u"disabled"_s << 0;
    QTest::newRow("normal mode switched back off")
        << QStringList{p, u"normal on"_s, u"normal off"_s} << u"disabled"_s << 2;
    QTest::newRow("pointer enters in normal mode")
        << QStringList{p, u"normal on"_s, u"enter"_s} << u"active"_s << 2;
    QTest::newRow("pointer leaves in normal mode")
        << QStringList{p, u"normal on"_s, u"enter"_s, u"leave"_s} << u"normal"_s << 3;
    QTest::newRow("pointer enters outside normal mode")
        << QStringList{p, u"enter"_s} << u"disabled"_s << 1;
    QTest::newRow("pointer leaves outside normal mode")
        << QStringList{p, u"enter"_s, u"leave"_s} << u"disabled"_s << 2;
    QTest::newRow("normal mode while pointer over shows normal")
        << QStringList{p, u"enter"_s, u"normal on"_s} << u"normal"_s << 2;
    QTest::newRow("active picture only at next enter")
        << QStringList{p, u"enter"_s, u"normal on"_s, u"leave"_s, u"enter"_s} << u"active"_s << 4;
    QTest::newRow("mode off while pointer over shows disabled")
        << QStringList{p, u"normal on"_s, u"enter"_s, u"normal off"_s} << u"disabled"_s << 3;
    QTest::newRow("leave after mode off keeps disabled")
        << QStringList{p, u"normal on"_s, u"enter"_s, u"normal off"_s, u"leave"_s} << u"disabled"_s << 4;
    QTest::newRow("active picture set while pointer over")
        << QStringList{p, u"normal on"_s, u"enter"_s, u"set active"_s} << u"active"_s << 2;
    QTest::newRow("active picture set while over, seen at next enter")
        << QStringList{p, u"normal on"_s, u"enter"_s, u"set active"_s, u"leave"_s, u"enter"_s}
        << u"replacement"_s << 4;
    QTest::newRow("normal picture set in normal mode")
        << QStringList{p, u"normal on"_s, u"set normal"_s} << u"replacement"_s << 1;
    QTest::newRow("normal picture set while pointer over")
        << QStringList{p, u"normal on"_s, u"enter"_s, u"set normal"_s} << u"replacement"_s << 2;
    QTest::newRow("normal picture set outside normal mode")
        << QStringList{p, u"set normal"_s} << u"disabled"_s << 0;
    QTest::newRow("disabled picture set in normal mode")
        << QStringList{p, u"normal on"_s, u"set disabled"_s} << u"normal"_s << 1;
    QTest::newRow("disabled picture set outside normal mode")
        << QStringList{p, u"set disabled"_s} << u"replacement"_s << 0;
    QTest::newRow("no pictures, normal mode shows nothing")
        << QStringList{u"normal on"_s, u"enter"_s} << u"none"_s << 2;
}

void tst_TPelImage::modesAndPointer()
{
    QFETCH(QStringList, steps);
    QFETCH(QString, shown);
    QFETCH(int, immediateRepaints);

    for (const QString &step : steps)
        apply(step);
    // Paints that happened inside the calls themselves, before the event loop ran.
    QCOMPARE(m_paints.count, immediateRepaints);

    const QColor expected = namedColor(shown);
    if (shown == "none"_L1)
        QVERIFY(m_image->Picture().isNull());
    else
        QCOMPARE(m_image->Picture().pixelColor(0, 0), expected);
    QCOMPARE(shownOnScreen(), expected);
}

void tst_TPelImage::ownedPicturesAreNotShown()
{
    m_image->setNormalPicture(solid(Normal));
    m_image->setDisabledPicture(solid(Disabled));

    // A picture loaded straight into an owned object changes only that object.
    m_image->DisabledPicture() = solid(Replacement);
    QCOMPARE(m_image->DisabledPicture().pixelColor(0, 0), Replacement);
    QCOMPARE(m_image->Picture().pixelColor(0, 0), Disabled);
    QCOMPARE(shownOnScreen(), Disabled);

    // Nor does drawing into the owned object reach the shown copy.
    m_image->DisabledPicture().fill(Active);
    QCOMPARE(m_image->Picture().pixelColor(0, 0), Disabled);

    // The owner then shows it by copying it.
    m_image->setPicture(m_image->DisabledPicture());
    QCOMPARE(shownOnScreen(), Active);

    // A copy, not a share: changing the owned picture again leaves the shown one.
    m_image->DisabledPicture().fill(Normal);
    QCOMPARE(shownOnScreen(), Active);

    // The owned normal picture is what normal mode shows, as loaded.
    m_image->NormalPicture().fill(Replacement);
    m_image->setNormalMode(true);
    QCOMPARE(shownOnScreen(), Replacement);
}

void tst_TPelImage::hintAndTag()
{
    m_image->setHint(u"ORSA_A"_s);
    m_image->setTag(2);
    QCOMPARE(m_image->hint(), u"ORSA_A"_s);
    QCOMPARE(m_image->tag(), 2);
    QVERIFY(m_image->toolTip().isEmpty());
}

void tst_TPelImage::clicks_data()
{
    QTest::addColumn<Qt::MouseButton>("button");
    QTest::addColumn<QPoint>("press");
    QTest::addColumn<QPoint>("release");
    QTest::addColumn<int>("clicks");

    QTest::newRow("left inside") << Qt::LeftButton << QPoint(5, 5) << QPoint(6, 6) << 1;
    QTest::newRow("left, released on the last pixel") << Qt::LeftButton << QPoint(5, 5) << QPoint(19, 11) << 1;
    QTest::newRow("left, released just outside") << Qt::LeftButton << QPoint(5, 5) << QPoint(20, 6) << 0;
    QTest::newRow("left, released above") << Qt::LeftButton << QPoint(5, 5) << QPoint(5, -1) << 0;
    QTest::newRow("right inside") << Qt::RightButton << QPoint(5, 5) << QPoint(5, 5) << 0;
}

void tst_TPelImage::clicks()
{
    QFETCH(Qt::MouseButton, button);
    QFETCH(QPoint, press);
    QFETCH(QPoint, release);
    QFETCH(int, clicks);

    QSignalSpy spy(m_image, &TPelImage::clicked);
    QTest::mousePress(m_image, button, {}, press);
    QTest::mouseRelease(m_image, button, {}, release);
    QCOMPARE(spy.count(), clicks);

    // A release without a press on the button is no click.
    QTest::mouseRelease(m_image, Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(spy.count(), clicks);
}

QTEST_MAIN(tst_TPelImage)
#include "tst_tpelimage.moc"
