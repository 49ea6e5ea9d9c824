#include "widgets/koreanfonts.h"
#include "widgets/twlabel.h"

#include <QFontDatabase>
#include <QFontInfo>
#include <QLineEdit>
#include <QPainter>
#include <QSignalSpy>
#include <QtTest>

#include <climits>
#include <memory>

using namespace Qt::StringLiterals;

namespace {

// Distinct system colours, so that every pixel tells where it came from.
const QColor Face(212, 208, 200);
const QColor Highlight(255, 255, 255);
const QColor BtnShadow(128, 128, 128);
const QColor DarkShadow(64, 64, 64);
const QColor InfoBk(255, 255, 225);
const QColor Ink(0, 0, 0);
const QColor Owner(255, 0, 255);
const QColor Fill(0, 170, 170);
const QColor Silver(192, 192, 192);
const QColor Navy(0, 0, 128);

QColor named(const QString &name)
{
    static const QHash<QString, QColor> colors = {
        {u"face"_s, Face},         {u"light"_s, Highlight}, {u"shadow"_s, BtnShadow},
        {u"dark"_s, DarkShadow},   {u"fill"_s, Fill},       {u"border"_s, Silver},
        {u"owner"_s, Owner},       {u"info"_s, InfoBk},
    };
    return colors.value(name);
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

QString describe(const QPoint &p)
{
    return QString::number(p.x()) + u',' + QString::number(p.y());
}

} // namespace

class tst_TwLabel : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void init();
    void cleanup();

    void koreanFontsSubstituted_data();
    void koreanFontsSubstituted();
    void defaults();
    void borders_data();
    void borders();
    void textPlacement_data();
    void textPlacement();
    void centreRoundsTowardZero_data();
    void centreRoundsTowardZero();
    void marginsLargerThanSpace_data();
    void marginsLargerThanSpace();
    void cornerMark_data();
    void cornerMark();
    void shadowAndDisabled_data();
    void shadowAndDisabled();
    void transparent_data();
    void transparent();
    void repaintRules_data();
    void repaintRules();
    void borderColourUsedOnceLine();
    void accelerator_data();
    void accelerator();
    void focusControlRemoved();
    void accelChar_data();
    void accelChar();
    void workBitmapLifecycle();

private:
    TwLabel *newLabel(const QRect &geometry);
    QImage rendered(QWidget *widget);
    // Pixels where the text was drawn: the text colour is used by nothing else.
    static QRegion inkOf(const QImage &image, const QColor &ink);
    // Where Qt's own text drawing puts the text in the rectangle, as pixels.
    static QRegion referenceInk(const QSize &size, const QFont &font, const QRect &rect, int flags,
                                const QString &text, const QRect &clip = QRect());

    std::unique_ptr<QWidget> m_owner;
    QFont m_font;
};

void tst_TwLabel::initTestCase()
{
    QPalette palette = QApplication::palette();
    palette.setColor(QPalette::Button, Face);
    palette.setColor(QPalette::Light, Highlight);
    palette.setColor(QPalette::Dark, BtnShadow);
    palette.setColor(QPalette::Shadow, DarkShadow);
    palette.setColor(QPalette::ToolTipBase, InfoBk);
    palette.setColor(QPalette::WindowText, Ink);
    QApplication::setPalette(palette);

    installKoreanFontSubstitutes();
    // The status row's font; without antialiasing every text pixel has the text colour.
    m_font = QFont(u"굴림"_s);
    m_font.setPixelSize(12);
    m_font.setStyleStrategy(QFont::NoAntialias);
}

void tst_TwLabel::init()
{
    m_owner = std::make_unique<QWidget>();
    m_owner->resize(400, 200);
    m_owner->setAutoFillBackground(true);
    QPalette palette = m_owner->palette();
    palette.setColor(QPalette::Window, Owner);
    m_owner->setPalette(palette);
    m_owner->setFont(m_font);
    m_owner->show();
    QVERIFY(QTest::qWaitForWindowExposed(m_owner.get()));
}

void tst_TwLabel::cleanup()
{
    m_owner.reset();
}

TwLabel *tst_TwLabel::newLabel(const QRect &geometry)
{
    auto *label = new TwLabel(m_owner.get());
    label->setGeometry(geometry);
    label->show();
    return label;
}

QImage tst_TwLabel::rendered(QWidget *widget)
{
    QCoreApplication::processEvents();
    return m_owner->grab(widget->geometry()).toImage().convertToFormat(QImage::Format_RGB32);
}

QRegion tst_TwLabel::inkOf(const QImage &image, const QColor &ink)
{
    QRegion region;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (image.pixelColor(x, y) == ink)
                region += QRect(x, y, 1, 1);
    return region;
}

QRegion tst_TwLabel::referenceInk(const QSize &size, const QFont &font, const QRect &rect, int flags,
                                  const QString &text, const QRect &clip)
{
    QImage image(size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        if (!clip.isNull())
            painter.setClipRect(clip);
        painter.setFont(font);
        painter.setPen(Ink);
        painter.drawText(rect, flags, text);
    }
    QRegion region;
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            if (qAlpha(image.pixel(x, y)) != 0)
                region += QRect(x, y, 1, 1);
    return region;
}

void tst_TwLabel::koreanFontsSubstituted_data()
{
    QTest::addColumn<QString>("family");
    QTest::addColumn<QString>("substitute");

    QTest::newRow("gulim") << u"굴림"_s << u"NanumGothic"_s;
    QTest::newRow("gulimche") << u"굴림체"_s << u"NanumGothicCoding"_s;
    QTest::newRow("batang") << u"바탕"_s << u"NanumMyeongjo"_s;
    QTest::newRow("gulim, English name") << u"Gulim"_s << u"NanumGothic"_s;
}

void tst_TwLabel::koreanFontsSubstituted()
{
    QFETCH(QString, family);
    QFETCH(QString, substitute);

    if (!QFontDatabase::families().contains(substitute))
        QSKIP("the Nanum fonts (fonts-nanum) are not installed");
    QFont font(family);
    font.setPixelSize(12);
    if (!QFontDatabase::families().contains(family))
        QCOMPARE(QFontInfo(font).family(), substitute);
    // The Korean syllables have glyphs.
    QVERIFY(QFontMetrics(font).inFontUcs4(U'한'));
}

void tst_TwLabel::defaults()
{
    TwLabel label;
    QCOMPARE(label.size(), QSize(121, 20));
    QCOMPARE(label.borderStyle(), mlbsRaised);
    QCOMPARE(label.borderWidth(), quint16(1));
    QCOMPARE(label.borderColor(), QColor(Qt::black));
    QCOMPARE(label.alignment(), taCenter);
    QCOMPARE(label.textLayout(), tlCenter);
    for (int i = 0; i < 4; ++i)
        QCOMPARE(label.labelMargin(i), 1);
    QVERIFY(label.showAccelChar());
    QCOMPARE(label.color(), Face);
    QCOMPARE(label.shadowColor(), BtnShadow);
    QCOMPARE(label.chimaColor(), Navy);
    QVERIFY(!label.chima());
    QVERIFY(!label.shadow());
    QVERIFY(!label.transparent());
    QVERIFY(!label.wordWrap());
    QCOMPARE(label.passwordChar(), uchar(0));
    QVERIFY(!label.focusControl());
    QVERIFY(label.caption().isEmpty());

    // Margin indexes out of range mean the bottom margin.
    label.setLabelMargin(9, 7);
    QCOMPARE(label.bottomMargin(), 7);
    label.setLabelMargin(-1, 5);
    QCOMPARE(label.labelMargin(3), 5);
    QCOMPARE(label.labelMargin(42), 5);
    QCOMPARE(label.topMargin(), 1);
}

void tst_TwLabel::borders_data()
{
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("borderWidth");
    // point -> colour name, on a 40 x 20 label with an empty caption
    QTest::addColumn<QList<QPoint>>("points");
    QTest::addColumn<QStringList>("colors");

    const QList<QPoint> edges = {{0, 0},   {39, 0},  {0, 19}, {39, 19}, {20, 0}, {20, 19},
                                 {0, 10},  {39, 10}, {1, 1},  {20, 10}, {38, 18}};
    QTest::newRow("raised") << int(mlbsRaised) << 1 << edges
                            << QStringList{u"light"_s, u"light"_s, u"light"_s, u"shadow"_s,
                                           u"light"_s, u"shadow"_s, u"light"_s, u"shadow"_s,
                                           u"fill"_s, u"fill"_s, u"fill"_s};
    QTest::newRow("sunken") << int(mlbsSunken) << 1 << edges
                            << QStringList{u"shadow"_s, u"light"_s, u"light"_s, u"light"_s,
                                           u"shadow"_s, u"light"_s, u"shadow"_s, u"light"_s,
                                           u"fill"_s, u"fill"_s, u"fill"_s};
    QTest::newRow("deep") << int(mlbsDeep) << 1
                          << (edges + QList<QPoint>{{20, 1}, {1, 10}, {38, 1}, {1, 18}, {2, 2}})
                          << QStringList{u"shadow"_s, u"light"_s, u"light"_s, u"light"_s,
                                         u"shadow"_s, u"light"_s, u"shadow"_s, u"light"_s,
                                         u"dark"_s, u"fill"_s, u"owner"_s,
                                         u"dark"_s, u"dark"_s, u"dark"_s, u"dark"_s, u"fill"_s};
    // The deep border leaves the bottom and right of its inner ring unpainted, so that what
    // lies under the label shows there.
    QTest::newRow("line, width 1") << int(mlbsLine) << 1 << edges
                                   << QStringList{u"border"_s, u"border"_s, u"border"_s, u"border"_s,
                                                  u"border"_s, u"border"_s, u"border"_s, u"border"_s,
                                                  u"fill"_s, u"fill"_s, u"fill"_s};
    QTest::newRow("line, width 3")
        << int(mlbsLine) << 3
        << QList<QPoint>{{0, 0}, {2, 2}, {37, 17}, {3, 3}, {36, 16}, {2, 10}, {37, 10}, {3, 10}, {36, 10}, {20, 2}, {20, 3}}
        << QStringList{u"border"_s, u"border"_s, u"border"_s, u"fill"_s, u"fill"_s, u"border"_s,
                       u"border"_s, u"fill"_s, u"fill"_s, u"border"_s, u"fill"_s};
    QTest::newRow("line, width 0") << int(mlbsLine) << 0 << QList<QPoint>{{0, 0}, {39, 19}, {20, 10}}
                                   << QStringList{u"fill"_s, u"fill"_s, u"fill"_s};
    QTest::newRow("line, wider than the label") << int(mlbsLine) << 15
                                                << QList<QPoint>{{0, 0}, {9, 9}, {20, 10}, {30, 10}}
                                                << QStringList{u"border"_s, u"border"_s, u"border"_s, u"border"_s};
}

void tst_TwLabel::borders()
{
    QFETCH(int, style);
    QFETCH(int, borderWidth);
    QFETCH(QList<QPoint>, points);
    QFETCH(QStringList, colors);

    TwLabel *label = newLabel(QRect(10, 10, 40, 20));
    label->setColor(Fill);
    label->setBorderColor(Silver);
    label->setBorderStyle(TwLabelBorderStyle(style));
    label->setBorderWidth(quint16(borderWidth));
    const QImage image = rendered(label);
    for (int i = 0; i < points.size(); ++i)
        QVERIFY2(image.pixelColor(points.at(i)) == named(colors.at(i)),
                 qPrintable(describe(points.at(i)) + u" should be "_s + colors.at(i)));
    // An empty caption stands for a space: nothing of it is seen.
    QVERIFY(inkOf(image, Ink).isEmpty());
}

void tst_TwLabel::textPlacement_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("style");
    QTest::addColumn<int>("borderWidth");
    QTest::addColumn<QList<int>>("margins");
    QTest::addColumn<int>("alignment");
    QTest::addColumn<int>("layout");
    QTest::addColumn<bool>("wordWrap");
    QTest::addColumn<int>("passwordChar");
    QTest::addColumn<bool>("accel");
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("drawn");   // what appears, as Qt draws it
    QTest::addColumn<QRect>("area");      // the text area inside border and margins

    const QList<int> one = {1, 1, 1, 1};
    const QList<int> status = {1, 3, 1, 1};
    const QString korean = u"오르사 통합"_s;

    QTest::newRow("status label") << QSize(145, 19) << int(mlbsLine) << 1 << status << int(taCenter)
                                  << int(tlCenter) << false << 0 << true << korean << korean
                                  << QRect(2, 4, 141, 13);
    QTest::newRow("default label") << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter)
                                   << int(tlCenter) << false << 0 << true << u"Abc 가나"_s
                                   << u"Abc 가나"_s << QRect(2, 2, 117, 16);
    QTest::newRow("border width 3") << QSize(80, 26) << int(mlbsLine) << 3 << QList<int>{2, 1, 4, 1}
                                    << int(taLeftJustify) << int(tlTop) << false << 0 << true << u"Wide"_s
                                    << u"Wide"_s << QRect(5, 4, 68, 18);
    QTest::newRow("deep border") << QSize(80, 26) << int(mlbsDeep) << 1 << one << int(taLeftJustify)
                                 << int(tlTop) << false << 0 << true << u"Deep"_s << u"Deep"_s
                                 << QRect(3, 3, 74, 20);
    QTest::newRow("right, bottom") << QSize(90, 30) << int(mlbsSunken) << 1 << QList<int>{1, 1, 5, 2}
                                   << int(taRightJustify) << int(tlBottom) << false << 0 << true << u"End"_s
                                   << u"End"_s << QRect(2, 2, 82, 25);
    QTest::newRow("tab expanded") << QSize(150, 20) << int(mlbsRaised) << 1 << one << int(taLeftJustify)
                                  << int(tlCenter) << false << 0 << true << u"a\tb"_s << u"a\tb"_s
                                  << QRect(2, 2, 146, 16);
    QTest::newRow("text wider than area is cut") << QSize(40, 20) << int(mlbsLine) << 1 << one
                                                 << int(taLeftJustify) << int(tlCenter) << false << 0 << true
                                                 << u"MMMMMMMMMMMM"_s << u"MMMMMMMMMMMM"_s << QRect(2, 2, 36, 16);
    QTest::newRow("single line taller than area, bottom")
        << QSize(60, 12) << int(mlbsLine) << 1 << status << int(taCenter) << int(tlBottom) << false << 0
        << true << u"Hg가"_s << u"Hg가"_s << QRect(2, 4, 56, 6);
    QTest::newRow("single line taller than area, centre")
        << QSize(60, 12) << int(mlbsLine) << 1 << status << int(taCenter) << int(tlCenter) << false << 0
        << true << u"Hg가"_s << u"Hg가"_s << QRect(2, 4, 56, 6);

    QTest::newRow("mask abc") << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter)
                              << int(tlCenter) << false << int('*') << true << u"abc"_s << u"***"_s
                              << QRect(2, 2, 117, 16);
    QTest::newRow("mask two Korean characters") << QSize(121, 20) << int(mlbsRaised) << 1 << one
                                                << int(taCenter) << int(tlCenter) << false << int('*') << true
                                                << u"한글"_s << u"****"_s << QRect(2, 2, 117, 16);
    QTest::newRow("mask mixed") << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taLeftJustify)
                                << int(tlCenter) << false << int('#') << true << u"a한b"_s << u"####"_s
                                << QRect(2, 2, 117, 16);
    QTest::newRow("mask with ! (33)") << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter)
                                      << int(tlCenter) << false << 33 << true << u"ab"_s << u"!!"_s
                                      << QRect(2, 2, 117, 16);
    // Mask characters go through the accelerator rules like any text: two ampersands show one.
    QTest::newRow("mask of ampersands read as accelerator text")
        << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter) << int(tlCenter) << false
        << int('&') << true << u"xy"_s << u"&&"_s << QRect(2, 2, 117, 16);
    QTest::newRow("space does not mask") << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter)
                                         << int(tlCenter) << false << 32 << true << u"abc"_s << u"abc"_s
                                         << QRect(2, 2, 117, 16);
    QTest::newRow("byte 128 does not mask") << QSize(121, 20) << int(mlbsRaised) << 1 << one
                                            << int(taCenter) << int(tlCenter) << false << 128 << true
                                            << u"abc"_s << u"abc"_s << QRect(2, 2, 117, 16);
    QTest::newRow("mask of empty caption is empty")
        << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter) << int(tlCenter) << false
        << int('*') << true << QString() << QString() << QRect(2, 2, 117, 16);

    QTest::newRow("accelerator underlined") << QSize(121, 20) << int(mlbsRaised) << 1 << one
                                            << int(taCenter) << int(tlCenter) << false << 0 << true
                                            << u"&Name"_s << u"&Name"_s << QRect(2, 2, 117, 16);
    QTest::newRow("double ampersand") << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter)
                                      << int(tlCenter) << false << 0 << true << u"R&&D"_s << u"R&&D"_s
                                      << QRect(2, 2, 117, 16);
    QTest::newRow("lone ampersand, accelerators shown")
        << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter) << int(tlCenter) << false << 0
        << true << u"&"_s << u"& "_s << QRect(2, 2, 117, 16);
    QTest::newRow("lone ampersand, accelerators hidden")
        << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter) << int(tlCenter) << false << 0
        << false << u"&"_s << u"&&"_s << QRect(2, 2, 117, 16);
    QTest::newRow("ampersands, accelerators hidden")
        << QSize(121, 20) << int(mlbsRaised) << 1 << one << int(taCenter) << int(tlCenter) << false << 0
        << false << u"R&&D &x"_s << u"R&&&&D &&x"_s << QRect(2, 2, 117, 16);

    const QString sentence = u"긴 문장은 여러 줄로 나뉘어 그려집니다"_s;
    QTest::newRow("wrapped, centre") << QSize(90, 60) << int(mlbsRaised) << 1 << one << int(taCenter)
                                     << int(tlCenter) << true << 0 << true << sentence << sentence
                                     << QRect(2, 2, 86, 56);
    QTest::newRow("wrapped, left top") << QSize(90, 60) << int(mlbsLine) << 2 << QList<int>{3, 1, 1, 1}
                                       << int(taLeftJustify) << int(tlTop) << true << 0 << true << sentence
                                       << sentence << QRect(5, 3, 82, 54);
    QTest::newRow("wrapped, taller than area, bottom")
        << QSize(90, 30) << int(mlbsLine) << 1 << status << int(taCenter) << int(tlBottom) << true << 0
        << true << sentence << sentence << QRect(2, 4, 86, 24);
    QTest::newRow("wrapped, masked") << QSize(60, 40) << int(mlbsRaised) << 1 << one << int(taCenter)
                                     << int(tlCenter) << true << 0x2A << true << u"한글 ab"_s
                                     << u"*******"_s << QRect(2, 2, 56, 36);
}

void tst_TwLabel::textPlacement()
{
    QFETCH(QSize, size);
    QFETCH(int, style);
    QFETCH(int, borderWidth);
    QFETCH(QList<int>, margins);
    QFETCH(int, alignment);
    QFETCH(int, layout);
    QFETCH(bool, wordWrap);
    QFETCH(int, passwordChar);
    QFETCH(bool, accel);
    QFETCH(QString, caption);
    QFETCH(QString, drawn);
    QFETCH(QRect, area);

    TwLabel *label = newLabel(QRect(QPoint(20, 20), size));
    label->setBorderStyle(TwLabelBorderStyle(style));
    label->setBorderWidth(quint16(borderWidth));
    label->setBorderColor(Silver);
    label->setColor(InfoBk);
    label->setLeftMargin(margins.at(0));
    label->setTopMargin(margins.at(1));
    label->setRightMargin(margins.at(2));
    label->setBottomMargin(margins.at(3));
    label->setAlignment(TAlignment(alignment));
    label->setTextLayout(TTextLayout(layout));
    label->setWordWrap(wordWrap);
    label->setPasswordChar(uchar(passwordChar));
    label->setShowAccelChar(accel);
    label->setCaption(caption);

    int flags = Qt::AlignTop | Qt::TextExpandTabs | Qt::TextShowMnemonic;
    flags |= alignment == taLeftJustify ? Qt::AlignLeft : alignment == taRightJustify ? Qt::AlignRight : Qt::AlignHCenter;
    flags |= wordWrap ? Qt::TextWordWrap : Qt::TextSingleLine;
    const int textHeight = QFontMetrics(m_font).boundingRect(area, flags, drawn).height();
    QRect textRect = area;
    if (layout == tlCenter)
        textRect.setTop(area.top() + (area.height() - textHeight) / 2);
    else if (layout == tlBottom)
        textRect.setTop(area.bottom() + 1 - textHeight);
    // Wrapped text is cut off at the text area; a single line is not held to it vertically.
    const QRegion expected = referenceInk(size, m_font, textRect, flags, drawn, wordWrap ? area : QRect());

    const QImage image = rendered(label);
    const QRegion ink = inkOf(image, Ink);
    if (!drawn.trimmed().isEmpty())
        QVERIFY(!expected.isEmpty());
    const QRegion wrong = ink.xored(expected);
    QVERIFY2(wrong.isEmpty(), qPrintable(u"text pixels differ, first at "_s + describe(wrong.boundingRect().topLeft())
                                         + u"; text at "_s + describe(ink.boundingRect().topLeft())
                                         + u" expected at "_s + describe(expected.boundingRect().topLeft())));

    // Outside the text only the border and the fill are seen.
    const QColor corner = style == mlbsLine ? Silver : style == mlbsRaised ? Highlight : BtnShadow;
    if (!ink.contains(QPoint(0, 0)))
        QCOMPARE(image.pixelColor(0, 0), corner);
    const QPoint inside = area.topLeft();
    if (!ink.contains(inside))
        QCOMPARE(image.pixelColor(inside), InfoBk);
}

void tst_TwLabel::centreRoundsTowardZero_data()
{
    QTest::addColumn<int>("excess");   // text height minus area height
    QTest::addColumn<int>("shift");    // how far the text moves above the area's top

    QTest::newRow("fits exactly") << 0 << 0;
    QTest::newRow("one pixel too tall") << 1 << 0;
    QTest::newRow("three pixels too tall") << 3 << 1;
    QTest::newRow("four pixels too tall") << 4 << 2;
    QTest::newRow("two pixels to spare") << -2 << -1;
    QTest::newRow("three pixels to spare") << -3 << -1;
}

void tst_TwLabel::centreRoundsTowardZero()
{
    QFETCH(int, excess);
    QFETCH(int, shift);

    const QString text = u"Hg가"_s;
    const int textHeight = QFontMetrics(m_font).height();
    const int areaHeight = textHeight - excess;
    // Line border of 1 and margins of 1: the area starts at 2 and the label is 4 taller.
    TwLabel *label = newLabel(QRect(10, 10, 60, areaHeight + 4));
    label->setBorderStyle(mlbsLine);
    label->setBorderColor(Silver);
    label->setCaption(text);

    const int flags = Qt::AlignTop | Qt::AlignHCenter | Qt::TextSingleLine | Qt::TextShowMnemonic | Qt::TextExpandTabs;
    const QRect textRect(2, 2 - shift, 56, areaHeight + shift);
    const QRegion expected = referenceInk(label->size(), m_font, textRect, flags, text);
    const QRegion ink = inkOf(rendered(label), Ink);
    QVERIFY(!expected.isEmpty());
    QCOMPARE(ink.boundingRect().top(), expected.boundingRect().top());
    QVERIFY(ink.xored(expected).isEmpty());
}

void tst_TwLabel::marginsLargerThanSpace_data()
{
    QTest::addColumn<QList<int>>("margins");
    QTest::addColumn<QString>("look");  // "plain": border and fill only; "mark": with the corner mark

    QTest::newRow("left and right wider than the inside") << QList<int>{20, 1, 19, 1} << u"plain"_s;
    QTest::newRow("exactly the inside width") << QList<int>{19, 1, 19, 1} << u"plain"_s;
    QTest::newRow("top and bottom taller than the inside") << QList<int>{1, 10, 1, 9} << u"plain"_s;
    QTest::newRow("left margin alone") << QList<int>{100, 1, 1, 1} << u"plain"_s;
    QTest::newRow("largest margins") << QList<int>{INT_MAX, INT_MAX, INT_MAX, INT_MAX} << u"plain"_s;
    QTest::newRow("most negative margins") << QList<int>{INT_MIN, INT_MIN, INT_MIN, INT_MIN} << u"mark"_s;
    // Wraps around to an area far to the left: off the label, but not empty.
    QTest::newRow("far off to the left") << QList<int>{INT_MIN, 1, INT_MAX, 1} << u"mark"_s;
    QTest::newRow("one pixel wide") << QList<int>{19, 1, 18, 1} << u"mark, text may show"_s;
}

void tst_TwLabel::marginsLargerThanSpace()
{
    QFETCH(QList<int>, margins);
    QFETCH(QString, look);

    // 40 x 20 with a raised edge: 38 x 18 inside it.
    TwLabel *label = newLabel(QRect(10, 10, 40, 20));
    label->setColor(Fill);
    label->setChima(true);
    label->setCaption(u"."_s);
    for (int i = 0; i < 4; ++i)
        label->setLabelMargin(i, margins.at(i));
    TwLabel *plain = newLabel(QRect(60, 10, 40, 20));
    plain->setColor(Fill);
    plain->setChima(look.startsWith("mark"_L1));

    const QImage image = rendered(label);
    if (look != "mark, text may show"_L1)
        QCOMPARE(image, rendered(plain));
    QCOMPARE(image.pixelColor(38, 1) == Navy, look.startsWith("mark"_L1));
}

void tst_TwLabel::cornerMark_data()
{
    QTest::addColumn<QSize>("size");
    QTest::addColumn<int>("style");

    QTest::newRow("default, 20 high") << QSize(121, 20) << int(mlbsRaised);
    QTest::newRow("status label") << QSize(145, 19) << int(mlbsLine);
    QTest::newRow("small") << QSize(12, 10) << int(mlbsSunken);
}

void tst_TwLabel::cornerMark()
{
    QFETCH(QSize, size);
    QFETCH(int, style);

    TwLabel *plain = newLabel(QRect(QPoint(0, 0), size));
    plain->setBorderStyle(TwLabelBorderStyle(style));
    plain->setBorderColor(Silver);
    TwLabel *marked = newLabel(QRect(QPoint(0, 40), size));
    marked->setBorderStyle(TwLabelBorderStyle(style));
    marked->setBorderColor(Silver);
    marked->setChima(true);

    QImage expected = rendered(plain);
    const int w = size.width();
    for (int k = 0; k <= 5; ++k)
        for (int x = w - 7 + k; x <= w - 2; ++x)
            expected.setPixelColor(x, 1 + k, Navy);
    for (int j = 0; j <= 6; ++j)
        expected.setPixelColor(w - 8 + j, 1 + j, Qt::black);

    const QImage image = rendered(marked);
    for (int y = 0; y < size.height(); ++y)
        for (int x = 0; x < w; ++x)
            QVERIFY2(image.pixelColor(x, y) == expected.pixelColor(x, y), qPrintable(describe(QPoint(x, y))));
    // The right angle of the triangle, the ends of the diagonal, the untouched border.
    QCOMPARE(image.pixelColor(w - 2, 1), Navy);
    QCOMPARE(image.pixelColor(w - 8, 1), QColor(Qt::black));
    QCOMPARE(image.pixelColor(w - 2, 7), QColor(Qt::black));
    QCOMPARE(image.pixelColor(w - 1, 1), expected.pixelColor(w - 1, 0 + 1));
    QVERIFY(image.pixelColor(w - 1, 0) != Navy);
    QCOMPARE(image.pixelColor(w - 2, 8), rendered(plain).pixelColor(w - 2, 8));

    marked->setChimaColor(QColor(200, 0, 0));
    QCOMPARE(rendered(marked).pixelColor(w - 2, 1), QColor(200, 0, 0));
}

void tst_TwLabel::shadowAndDisabled_data()
{
    QTest::addColumn<bool>("enabled");
    QTest::addColumn<bool>("shadow");
    QTest::addColumn<bool>("wordWrap");
    QTest::addColumn<QString>("behind");  // the colour one pixel right and down of the text

    QTest::newRow("enabled") << true << false << false << u""_s;
    QTest::newRow("enabled with shadow") << true << true << false << u"red"_s;
    QTest::newRow("disabled") << false << false << false << u"light"_s;
    QTest::newRow("disabled with shadow") << false << true << false << u"light"_s;
    QTest::newRow("wrapped, enabled with shadow") << true << true << true << u"red"_s;
    QTest::newRow("wrapped, disabled with shadow") << false << true << true << u"light"_s;
}

void tst_TwLabel::shadowAndDisabled()
{
    QFETCH(bool, enabled);
    QFETCH(bool, shadow);
    QFETCH(bool, wordWrap);
    QFETCH(QString, behind);

    const QColor red(220, 0, 0);
    const QString text = u"가A"_s;
    TwLabel *label = newLabel(QRect(10, 10, 121, 20));
    label->setColor(Fill);
    label->setShadow(shadow);
    label->setShadowColor(red);
    label->setWordWrap(wordWrap);
    label->setCaption(text);
    label->setEnabled(enabled);

    int flags = Qt::AlignTop | Qt::AlignHCenter | Qt::TextShowMnemonic | Qt::TextExpandTabs;
    flags |= wordWrap ? Qt::TextWordWrap : Qt::TextSingleLine;
    const QRect area(2, 2, 117, 16);
    QRect textRect = area;
    textRect.setTop(area.top() + (area.height() - QFontMetrics(m_font).boundingRect(area, flags, text).height()) / 2);
    const QRegion glyphs = referenceInk(label->size(), m_font, textRect, flags, text);
    const QRegion offset = glyphs.translated(1, 1) - glyphs;
    QVERIFY(!glyphs.isEmpty());

    const QImage image = rendered(label);
    const QColor front = enabled ? Ink : BtnShadow;
    const QColor back = behind == "red"_L1 ? red : behind == "light"_L1 ? Highlight : Fill;
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QPoint p(x, y);
            if (!area.contains(p))
                continue;
            const QColor want = glyphs.contains(p) ? front : offset.contains(p) ? back : Fill;
            QVERIFY2(image.pixelColor(p) == want, qPrintable(describe(p)));
        }
    }
}

void tst_TwLabel::transparent_data()
{
    QTest::addColumn<bool>("wordWrap");

    QTest::newRow("single line") << false;
    QTest::newRow("wrapped") << true;
}

void tst_TwLabel::transparent()
{
    QFETCH(bool, wordWrap);

    // Another wrapped label fills the shared bitmap with its own look first.
    TwLabel *other = newLabel(QRect(200, 10, 150, 60));
    other->setWordWrap(true);
    other->setColor(Fill);
    other->setCaption(u"가나다라마바사 아자차카타파하 가나다라마바사"_s);
    QVERIFY(inkOf(rendered(other), Ink).isEmpty() == false);

    TwLabel *label = newLabel(QRect(10, 10, 121, 40));
    label->setTransparent(true);
    label->setWordWrap(wordWrap);
    label->setCaption(u"투명"_s);
    const QImage image = rendered(label);

    QCOMPARE(image.pixelColor(0, 0), Highlight);
    QCOMPARE(image.pixelColor(3, 3), Owner);
    QCOMPARE(image.pixelColor(117, 36), Owner);
    const QRegion ink = inkOf(image, Ink);
    QVERIFY(!ink.isEmpty());
    for (int y = 1; y < 39; ++y)
        for (int x = 1; x < 120; ++x)
            if (!ink.contains(QPoint(x, y)))
                QVERIFY2(image.pixelColor(x, y) == Owner, qPrintable(describe(QPoint(x, y))));
}

void tst_TwLabel::repaintRules_data()
{
    QTest::addColumn<QString>("property");
    QTest::addColumn<bool>("sameValue");
    QTest::addColumn<bool>("repaints");

    const auto row = [](const char *name, const QString &property, bool same, bool repaints) {
        QTest::newRow(name) << property << same << repaints;
    };
    row("caption changed", u"caption"_s, false, true);
    row("caption unchanged", u"caption"_s, true, false);
    row("colour changed", u"color"_s, false, true);
    row("colour unchanged", u"color"_s, true, false);
    row("font colour changed", u"fontColor"_s, false, true);
    row("alignment changed", u"alignment"_s, false, true);
    row("alignment unchanged", u"alignment"_s, true, false);
    row("layout changed", u"layout"_s, false, true);
    row("border style changed", u"borderStyle"_s, false, true);
    row("border style unchanged", u"borderStyle"_s, true, false);
    row("border colour, raised style", u"borderColor raised"_s, false, false);
    row("border colour, line style", u"borderColor line"_s, false, true);
    row("border colour unchanged, line style", u"borderColor line"_s, true, false);
    row("border width, raised style", u"borderWidth raised"_s, false, false);
    row("border width, line style", u"borderWidth line"_s, false, true);
    row("shadow colour, shadow off", u"shadowColor off"_s, false, false);
    row("shadow colour, shadow on", u"shadowColor on"_s, false, true);
    row("shadow switched", u"shadow"_s, false, true);
    row("top margin changed", u"topMargin"_s, false, true);
    row("top margin unchanged", u"topMargin"_s, true, false);
    row("margin by index beyond bottom", u"margin 7"_s, false, true);
    row("password char changed", u"passwordChar"_s, false, true);
    row("corner mark switched", u"chima"_s, false, true);
    row("corner mark colour", u"chimaColor"_s, false, true);
    row("accelerators switched", u"showAccelChar"_s, false, true);
    row("transparency switched", u"transparent"_s, false, true);
    row("word wrap switched", u"wordWrap"_s, false, true);
    row("word wrap unchanged", u"wordWrap"_s, true, false);
    row("focus control", u"focusControl"_s, false, false);
    row("enabled switched", u"enabled"_s, false, true);
}

void tst_TwLabel::repaintRules()
{
    QFETCH(QString, property);
    QFETCH(bool, sameValue);
    QFETCH(bool, repaints);

    TwLabel *label = newLabel(QRect(10, 10, 121, 20));
    label->setCaption(u"text"_s);
    if (property == "borderColor line"_L1 || property == "borderWidth line"_L1)
        label->setBorderStyle(mlbsLine);
    if (property == "shadowColor on"_L1)
        label->setShadow(true);
    auto edit = std::make_unique<QLineEdit>(m_owner.get());
    QCoreApplication::processEvents();
    PaintCounter paints;
    label->installEventFilter(&paints);

    const QString caption = sameValue ? u"text"_s : u"other"_s;
    if (property == "caption"_L1)
        label->setCaption(caption);
    else if (property == "color"_L1)
        label->setColor(sameValue ? label->color() : QColor(1, 2, 3));
    else if (property == "fontColor"_L1)
        label->setFontColor(sameValue ? label->fontColor() : QColor(1, 2, 3));
    else if (property == "alignment"_L1)
        label->setAlignment(sameValue ? taCenter : taRightJustify);
    else if (property == "layout"_L1)
        label->setTextLayout(sameValue ? tlCenter : tlTop);
    else if (property == "borderStyle"_L1)
        label->setBorderStyle(sameValue ? mlbsRaised : mlbsDeep);
    else if (property.startsWith("borderColor"_L1))
        label->setBorderColor(sameValue ? label->borderColor() : QColor(9, 9, 9));
    else if (property.startsWith("borderWidth"_L1))
        label->setBorderWidth(sameValue ? 1 : 2);
    else if (property.startsWith("shadowColor"_L1))
        label->setShadowColor(QColor(9, 9, 9));
    else if (property == "shadow"_L1)
        label->setShadow(true);
    else if (property == "topMargin"_L1)
        label->setTopMargin(sameValue ? 1 : 4);
    else if (property == "margin 7"_L1)
        label->setLabelMargin(7, 3);
    else if (property == "passwordChar"_L1)
        label->setPasswordChar('*');
    else if (property == "chima"_L1)
        label->setChima(true);
    else if (property == "chimaColor"_L1)
        label->setChimaColor(Qt::red);
    else if (property == "showAccelChar"_L1)
        label->setShowAccelChar(false);
    else if (property == "transparent"_L1)
        label->setTransparent(true);
    else if (property == "wordWrap"_L1)
        label->setWordWrap(!sameValue);
    else if (property == "focusControl"_L1)
        label->setFocusControl(edit.get());
    else if (property == "enabled"_L1)
        label->setEnabled(false);
    else
        QFAIL("unknown property");

    if (repaints) {
        QTRY_VERIFY(paints.count > 0);
    } else {
        QTest::qWait(30);
        QCOMPARE(paints.count, 0);
    }
    label->removeEventFilter(&paints);
}

void tst_TwLabel::borderColourUsedOnceLine()
{
    TwLabel *label = newLabel(QRect(10, 10, 40, 20));
    QCOMPARE(rendered(label).pixelColor(0, 0), Highlight);
    label->setBorderColor(QColor(200, 0, 0));
    QCOMPARE(label->borderColor(), QColor(200, 0, 0));
    QCOMPARE(rendered(label).pixelColor(0, 0), Highlight);
    label->setBorderStyle(mlbsLine);
    const QImage image = rendered(label);
    QCOMPARE(image.pixelColor(0, 0), QColor(200, 0, 0));
    QCOMPARE(image.pixelColor(39, 19), QColor(200, 0, 0));
}

void tst_TwLabel::accelerator_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("condition");
    QTest::addColumn<bool>("focused");

    QTest::newRow("accelerator") << u"&Name"_s << int(Qt::Key_N) << QString() << true;
    QTest::newRow("other key") << u"&Name"_s << int(Qt::Key_A) << QString() << false;
    QTest::newRow("lower-case accelerator") << u"e&mployee"_s << int(Qt::Key_M) << QString() << true;
    QTest::newRow("last single ampersand") << u"A&&B&C"_s << int(Qt::Key_C) << QString() << true;
    QTest::newRow("doubled ampersand is no accelerator") << u"A&&B&C"_s << int(Qt::Key_B) << QString() << false;
    QTest::newRow("earlier accelerator") << u"&Id &Pw"_s << int(Qt::Key_I) << QString() << false;
    QTest::newRow("later accelerator") << u"&Id &Pw"_s << int(Qt::Key_P) << QString() << true;
    QTest::newRow("digit") << u"항목 &1"_s << int(Qt::Key_1) << QString() << true;
    QTest::newRow("label disabled") << u"&Name"_s << int(Qt::Key_N) << u"disabled"_s << false;
    QTest::newRow("accelerators hidden") << u"&Name"_s << int(Qt::Key_N) << u"no accel"_s << false;
    QTest::newRow("masked") << u"&Name"_s << int(Qt::Key_N) << u"masked"_s << false;
    QTest::newRow("mask byte out of range") << u"&Name"_s << int(Qt::Key_N) << u"mask 200"_s << true;
    QTest::newRow("no focus control") << u"&Name"_s << int(Qt::Key_N) << u"no control"_s << false;
    QTest::newRow("focus control disabled") << u"&Name"_s << int(Qt::Key_N) << u"control disabled"_s << false;
    QTest::newRow("focus control hidden") << u"&Name"_s << int(Qt::Key_N) << u"control hidden"_s << false;
    QTest::newRow("caption changed later") << u"&Name"_s << int(Qt::Key_X) << u"caption &X"_s << true;
    QTest::newRow("re-enabled") << u"&Name"_s << int(Qt::Key_N) << u"re-enabled"_s << true;
}

void tst_TwLabel::accelerator()
{
    QFETCH(QString, caption);
    QFETCH(int, key);
    QFETCH(QString, condition);
    QFETCH(bool, focused);

    auto *other = new QLineEdit(m_owner.get());
    other->setGeometry(10, 100, 100, 20);
    auto *target = new QLineEdit(m_owner.get());
    target->setGeometry(10, 130, 100, 20);
    other->show();
    target->show();
    TwLabel *label = newLabel(QRect(10, 10, 121, 20));
    label->setCaption(caption);
    if (condition != "no control"_L1)
        label->setFocusControl(target);
    if (condition == "disabled"_L1 || condition == "re-enabled"_L1)
        label->setEnabled(false);
    if (condition == "re-enabled"_L1)
        label->setEnabled(true);
    if (condition == "no accel"_L1)
        label->setShowAccelChar(false);
    if (condition == "masked"_L1)
        label->setPasswordChar('*');
    if (condition == "mask 200"_L1)
        label->setPasswordChar(200);
    if (condition == "control disabled"_L1)
        target->setEnabled(false);
    if (condition == "control hidden"_L1)
        target->hide();
    if (condition == "caption &X"_L1)
        label->setCaption(u"&X"_s);

    m_owner->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_owner.get()));
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());

    QTest::keyClick(m_owner.get(), Qt::Key(key), Qt::AltModifier);
    QCoreApplication::processEvents();
    QCOMPARE(target->hasFocus(), focused);
    QCOMPARE(other->hasFocus(), !focused);
}

void tst_TwLabel::focusControlRemoved()
{
    TwLabel *label = newLabel(QRect(10, 10, 121, 20));
    label->setCaption(u"&Name"_s);
    auto *target = new QLineEdit(m_owner.get());
    label->setFocusControl(target);
    QCOMPARE(label->focusControl(), target);
    delete target;
    QVERIFY(!label->focusControl());

    // A new control after the removal works again.
    auto *next = new QLineEdit(m_owner.get());
    next->show();
    label->setFocusControl(next);
    m_owner->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(m_owner.get()));
    QTest::keyClick(m_owner.get(), Qt::Key_N, Qt::AltModifier);
    QTRY_VERIFY(next->hasFocus());

    // Setting an empty control stops it.
    label->setFocusControl(nullptr);
    auto *other = new QLineEdit(m_owner.get());
    other->show();
    other->setFocus();
    QTRY_VERIFY(other->hasFocus());
    QTest::keyClick(m_owner.get(), Qt::Key_N, Qt::AltModifier);
    QCoreApplication::processEvents();
    QVERIFY(other->hasFocus());
}

void tst_TwLabel::accelChar_data()
{
    QTest::addColumn<QString>("caption");
    QTest::addColumn<QString>("accel");

    QTest::newRow("none") << u"Name"_s << QString();
    QTest::newRow("first") << u"&Name"_s << u"N"_s;
    QTest::newRow("last single wins") << u"&A &B"_s << u"B"_s;
    QTest::newRow("doubled only") << u"R&&D"_s << QString();
    QTest::newRow("doubled then single") << u"R&&D&x"_s << u"x"_s;
    QTest::newRow("trailing ampersand") << u"ab&"_s << QString();
    QTest::newRow("trailing after accelerator") << u"&ab&"_s << u"a"_s;
    QTest::newRow("three ampersands") << u"&&&z"_s << u"z"_s;
    QTest::newRow("Korean") << u"&한글"_s << u"한"_s;
}

void tst_TwLabel::accelChar()
{
    QFETCH(QString, caption);
    QFETCH(QString, accel);

    const QChar c = TwCustomLabel::accelChar(caption);
    QCOMPARE(c.isNull() ? QString() : QString(c), accel);
}

void tst_TwLabel::workBitmapLifecycle()
{
    m_owner.reset();
    QVERIFY(!TwCustomLabel::workBitmapSize().isValid());

    init();
    TwLabel *wide = newLabel(QRect(0, 0, 100, 40));
    wide->setWordWrap(true);
    wide->setCaption(u"가나다"_s);
    rendered(wide);
    const QSize first = TwCustomLabel::workBitmapSize();
    QVERIFY(first.width() >= 96 && first.height() >= 36);

    // A smaller label does not shrink it; a wider one widens it and keeps its height.
    TwLabel *small = newLabel(QRect(0, 50, 30, 20));
    small->setWordWrap(true);
    rendered(small);
    QCOMPARE(TwCustomLabel::workBitmapSize(), first);
    TwLabel *wider = newLabel(QRect(0, 80, 300, 10));
    wider->setWordWrap(true);
    rendered(wider);
    QVERIFY(TwCustomLabel::workBitmapSize().width() >= 296);
    QCOMPARE(TwCustomLabel::workBitmapSize().height(), first.height());

    // Single-line labels never use it.
    delete wide;
    delete small;
    delete wider;
    QVERIFY(!TwCustomLabel::workBitmapSize().isValid());
    TwLabel *single = newLabel(QRect(0, 0, 200, 50));
    single->setCaption(u"한 줄"_s);
    rendered(single);
    QCOMPARE(TwCustomLabel::workBitmapSize(), QSize(0, 0));
}

QTEST_MAIN(tst_TwLabel)
#include "tst_twlabel.moc"
