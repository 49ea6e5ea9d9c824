#include "app/tfrmzzc010.h"
#include "machine/pelfunction.h"
#include "platform/imagelibrarywriter.h"

#include <QCoreApplication>
#include <QImage>
#include <QLabel>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtTest>

using Runs = QList<QPair<int, int>>;  // first and last black column of a row

Q_DECLARE_METATYPE(Runs)

namespace {

QImage whiteMask(int width, int height)
{
    QImage mask(width, height, QImage::Format_Mono);
    mask.setColorCount(2);
    mask.setColor(0, qRgb(0, 0, 0));
    mask.setColor(1, qRgb(255, 255, 255));
    mask.fill(1);
    return mask;
}

void paintRuns(QImage &mask, int y, const Runs &runs)
{
    for (const auto &run : runs) {
        for (int x = run.first; x <= run.second; ++x)
            mask.setPixel(x, y, 0);
    }
}

QImage picture(int width, int height)
{
    QImage image(width, height, QImage::Format_RGB32);
    image.fill(qRgb(30, 60, 120));
    return image;
}

} // namespace

class tst_Splash : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void getBit_data();
    void getBit();
    void getMaskBit_data();
    void getMaskBit();
    void maskRegion_data();
    void maskRegion();
    void rowsBelowWindowNeverBelong();
    void maskTakenByBrightness();
    void roundOutlineInEveryFormat_data();
    void roundOutlineInEveryFormat();
    void defaultTitle_data();
    void defaultTitle();
    void window_data();
    void window();
    void labels();

private:
    QString writeLibrary(const QList<QPair<QString, QImage>> &pictures);
    QTemporaryDir m_dir;
    int m_libraries = 0;
};

QString tst_Splash::writeLibrary(const QList<QPair<QString, QImage>> &pictures)
{
    const QString path = m_dir.filePath(QStringLiteral("MainImg%1.dll").arg(++m_libraries));
    QString error;
    if (!writeImageLibrary(path, pictures, &error))
        qWarning("%s", qPrintable(error));
    return path;
}

void tst_Splash::getBit_data()
{
    QTest::addColumn<int>("byte");
    QTest::addColumn<int>("n");
    QTest::addColumn<int>("bit");

    QTest::newRow("most significant set") << 0x80 << 0 << 1;
    QTest::newRow("most significant clear") << 0x7F << 0 << 0;
    QTest::newRow("least significant set") << 0x01 << 7 << 1;
    QTest::newRow("least significant clear") << 0xFE << 7 << 0;
    QTest::newRow("middle bit") << 0x10 << 3 << 1;
    QTest::newRow("next to middle bit") << 0x10 << 4 << 0;
    QTest::newRow("n below range") << 0x00 << -1 << 1;
    QTest::newRow("n above range") << 0x00 << 8 << 1;
}

void tst_Splash::getBit()
{
    QFETCH(int, byte);
    QFETCH(int, n);
    QFETCH(int, bit);
    QCOMPARE(TfrmZZC010::GetBit(quint8(byte), n), bit);
}

void tst_Splash::getMaskBit_data()
{
    QTest::addColumn<int>("x");
    QTest::addColumn<int>("y");
    QTest::addColumn<int>("bit");

    // Bits of a black 16 x 4 mask, read in a window 3 rows high.
    QTest::newRow("top left") << 0 << 0 << 0;
    QTest::newRow("last column") << 15 << 0 << 0;
    QTest::newRow("last row of the window") << 15 << 2 << 0;
    QTest::newRow("left of the mask") << -1 << 0 << 1;
    QTest::newRow("above the mask") << 0 << -1 << 1;
    QTest::newRow("right of the row") << 16 << 0 << 1;
    QTest::newRow("below the window") << 0 << 3 << 1;
    QTest::newRow("beyond the bits") << 0 << 5 << 1;
}

void tst_Splash::getMaskBit()
{
    QFETCH(int, x);
    QFETCH(int, y);
    QFETCH(int, bit);
    const QByteArray black(16 * 4 / 8, '\0');
    // The window is taller than the bits in the last row: that must read as white too.
    const int windowHeight = QByteArray(QTest::currentDataTag()) == "beyond the bits" ? 10 : 3;
    QCOMPARE(TfrmZZC010::GetMaskBit(black, x, y, 16, windowHeight), bit);
}

void tst_Splash::maskRegion_data()
{
    QTest::addColumn<int>("width");
    QTest::addColumn<int>("height");
    QTest::addColumn<int>("row");
    QTest::addColumn<Runs>("runs");
    QTest::addColumn<QList<QRect>>("rects");

    QTest::newRow("one run 10 to 99") << 200 << 3 << 1 << Runs{{10, 99}}
                                      << QList<QRect>{QRect(QPoint(10, 1), QPoint(99, 1))};
    QTest::newRow("two runs") << 200 << 3 << 2 << Runs{{0, 4}, {50, 60}}
                              << QList<QRect>{QRect(0, 2, 5, 1), QRect(50, 2, 11, 1)};
    QTest::newRow("single pixel") << 32 << 1 << 0 << Runs{{7, 7}} << QList<QRect>{QRect(7, 0, 1, 1)};
    // 537 is widened to 544 with white columns, so the run ends at the mask's own last column.
    QTest::newRow("width 537, black to the last column")
        << 537 << 2 << 0 << Runs{{0, 536}} << QList<QRect>{QRect(0, 0, 537, 1)};
    QTest::newRow("width 537, run ending before the last column")
        << 537 << 2 << 1 << Runs{{530, 535}} << QList<QRect>{QRect(530, 1, 6, 1)};
    // A width that is already a multiple of 16 has no white column after the last: the run
    // still belongs to the outline.
    QTest::newRow("width 544, black to the last column")
        << 544 << 2 << 0 << Runs{{500, 543}} << QList<QRect>{QRect(500, 0, 44, 1)};
    QTest::newRow("width 16, whole row black") << 16 << 1 << 0 << Runs{{0, 15}} << QList<QRect>{QRect(0, 0, 16, 1)};
    QTest::newRow("all white") << 537 << 284 << 0 << Runs{} << QList<QRect>{};
    QTest::newRow("empty mask") << 0 << 0 << 0 << Runs{} << QList<QRect>{};
}

void tst_Splash::maskRegion()
{
    QFETCH(int, width);
    QFETCH(int, height);
    QFETCH(int, row);
    QFETCH(Runs, runs);
    QFETCH(QList<QRect>, rects);

    QImage mask = width > 0 ? whiteMask(width, height) : QImage();
    if (!runs.isEmpty())
        paintRuns(mask, row, runs);
    const QRegion region = TfrmZZC010::CreateMaskRegion(mask, 284);

    QRegion expected;
    for (const QRect &r : rects)
        expected += r;
    QCOMPARE(region, expected);
    QCOMPARE(region.isEmpty(), rects.isEmpty());
}

void tst_Splash::rowsBelowWindowNeverBelong()
{
    QImage mask = whiteMask(40, 10);
    for (int y = 0; y < 10; ++y)
        paintRuns(mask, y, {{2, 5}});
    const QRegion region = TfrmZZC010::CreateMaskRegion(mask, 4);
    QCOMPARE(region, QRegion(2, 0, 4, 4));
}

void tst_Splash::maskTakenByBrightness()
{
    // A mask stored in colour rather than one bit per pixel: dark pixels belong to the window.
    QImage mask(20, 2, QImage::Format_RGB32);
    mask.fill(Qt::white);
    for (int x = 3; x < 8; ++x)
        mask.setPixel(x, 1, qRgb(10, 10, 10));
    QCOMPARE(TfrmZZC010::CreateMaskRegion(mask, 284), QRegion(3, 1, 5, 1));
}

void tst_Splash::roundOutlineInEveryFormat_data()
{
    QTest::addColumn<int>("format");
    QTest::newRow("mono") << int(QImage::Format_Mono);
    QTest::newRow("mono, least significant bit first") << int(QImage::Format_MonoLSB);
    QTest::newRow("colour") << int(QImage::Format_RGB32);
    QTest::newRow("colour with alpha") << int(QImage::Format_ARGB32_Premultiplied);
}

void tst_Splash::roundOutlineInEveryFormat()
{
    // A ring: rows with one run, rows with two, equal rows that make one band and rows below
    // the window. The outline has to cover exactly the black pixels inside the window.
    QFETCH(int, format);
    const int width = 75, height = 50, windowHeight = 44;
    QImage mask = whiteMask(width, height);
    for (int y = 0; y < height; ++y) {
        for (int x = 0; x < width; ++x) {
            const double dx = (x - 37) / 36.0, dy = (y - 22) / 20.0;
            const double r = dx * dx + dy * dy;
            if ((r <= 1.0 && r >= 0.2) || (y >= 43 && x >= 10 && x < 20))
                mask.setPixel(x, y, 0);
        }
    }
    QRegion expected;
    for (int y = 0; y < windowHeight; ++y) {
        for (int x = 0; x < width; ++x) {
            if (mask.pixelIndex(x, y) != 0)
                continue;
            int end = x;
            while (end < width && mask.pixelIndex(end, y) == 0)
                ++end;
            expected += QRect(x, y, end - x, 1);
            x = end;
        }
    }
    QVERIFY(expected.rectCount() > 20);

    const QImage converted = mask.convertToFormat(QImage::Format(format));
    const QRegion region = TfrmZZC010::CreateMaskRegion(converted, windowHeight);
    // The same pixels, whatever bands either side is stored in.
    QCOMPARE(region.xored(expected), QRegion());
    QCOMPARE(region.boundingRect(), expected.boundingRect());
}

void tst_Splash::defaultTitle_data()
{
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("title");

    QTest::newRow("upper case with extension") << QStringLiteral("/opt/orsa/ORSA.EXE") << QStringLiteral("Orsa");
    QTest::newRow("lower case, no extension") << QStringLiteral("/usr/bin/orsa") << QStringLiteral("orsa");
    QTest::newRow("cut at the first dot") << QStringLiteral("/x/MAIN.TEST.EXE") << QStringLiteral("Main");
    QTest::newRow("first character kept as it is") << QStringLiteral("/x/oRSA.exe") << QStringLiteral("orsa");
    QTest::newRow("Korean name") << QStringLiteral("/x/오르사.exe") << QStringLiteral("오르사");
    QTest::newRow("name starting with a dot") << QStringLiteral("/x/.orsa") << QString();
}

void tst_Splash::defaultTitle()
{
    QFETCH(QString, path);
    QFETCH(QString, title);
    QCOMPARE(TfrmZZC010::defaultApplicationTitle(path), title);
}

void tst_Splash::window_data()
{
    QTest::addColumn<QString>("library");   // what the picture library holds
    QTest::addColumn<bool>("visible");
    QTest::addColumn<QString>("errorNames"); // a word the load error must contain

    QTest::newRow("shaped") << QStringLiteral("both") << true << QString();
    QTest::newRow("all-white mask") << QStringLiteral("white") << false << QString();
    QTest::newRow("no library") << QStringLiteral("none") << false << QString();
    QTest::newRow("no mask") << QStringLiteral("nomask") << false << QStringLiteral("SMASK");
    QTest::newRow("no picture") << QStringLiteral("nopicture") << false << QStringLiteral("SPLASH");
}

void tst_Splash::window()
{
    QFETCH(QString, library);
    QFETCH(bool, visible);
    QFETCH(QString, errorNames);

    QImage mask = whiteMask(537, 284);
    for (int y = 20; y < 264; ++y)
        paintRuns(mask, y, {{20, 516}});
    QString path;
    if (library == QLatin1String("both"))
        path = writeLibrary({{QStringLiteral("SPLASH"), picture(537, 284)}, {QStringLiteral("SMASK"), mask}});
    else if (library == QLatin1String("white"))
        path = writeLibrary({{QStringLiteral("SPLASH"), picture(537, 284)},
                             {QStringLiteral("SMASK"), whiteMask(537, 284)}});
    else if (library == QLatin1String("nomask"))
        path = writeLibrary({{QStringLiteral("SPLASH"), picture(537, 284)}});
    else if (library == QLatin1String("nopicture"))
        path = writeLibrary({{QStringLiteral("SMASK"), mask}});
    else
        path = m_dir.filePath(QStringLiteral("missing.dll"));

    TfrmZZC010 splash(nullptr, path);
    splash.show();
    QCOMPARE(splash.isVisible(), visible);
    QCOMPARE(splash.shapeRegion().isEmpty(), !visible);
    if (visible) {
        QCOMPARE(splash.shapeRegion(), QRegion(20, 20, 497, 244));
        QVERIFY(!splash.imgImage()->pixmap().isNull());
        QCOMPARE(splash.loadError(), QString());
    } else if (library != QLatin1String("white")) {
        QVERIFY2(!splash.loadError().isEmpty(), "a missing picture or library is told");
        QVERIFY2(splash.loadError().contains(errorNames), qPrintable(splash.loadError()));
    }
    // The title and the version are there even when nothing can be shown.
    QVERIFY(!splash.lblVersion()->text().isEmpty());
    QCOMPARE(splash.lblProjectName()->text(),
             TfrmZZC010::defaultApplicationTitle(QCoreApplication::applicationFilePath()));
    splash.hide();
    QVERIFY(!splash.isVisible());
}

void tst_Splash::labels()
{
    TfrmZZC010 splash(nullptr, m_dir.filePath(QStringLiteral("missing.dll")));
    QLabel *title = splash.lblProjectName();
    QLabel *shadow = splash.lblProjectNameShadow();

    // This test program is called tst_splash: its title is the name as it stands.
    QCOMPARE(title->text(), QStringLiteral("tst_splash"));
    QCOMPARE(shadow->text(), title->text());
    QCOMPARE(shadow->geometry().topLeft() - title->geometry().topLeft(), QPoint(1, 1));
    QCOMPARE(title->size(), QSize(213, 24));
    QCOMPARE(title->font().pixelSize(), 24);
    QCOMPARE(title->font().family(), QStringLiteral("바탕"));
    QCOMPARE(title->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(shadow->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QCOMPARE(title->palette().color(QPalette::WindowText), QColor(0xFF, 0xFF, 0x00));
    QCOMPARE(shadow->palette().color(QPalette::WindowText), QColor(0x80, 0x80, 0x00));
    // The shadow lies under the title.
    const QObjectList children = splash.children();
    QVERIFY(children.indexOf(shadow) < children.indexOf(title));

    QCOMPARE(splash.lblVersion()->text(), GetVersionText());
    QVERIFY(QRegularExpression(QStringLiteral("^\\d+\\.\\d+\\.\\d+\\.\\d+$"))
                .match(splash.lblVersion()->text()).hasMatch());
    QCOMPARE(splash.lblVersion()->alignment() & Qt::AlignHorizontal_Mask, Qt::AlignRight);
    QVERIFY(splash.lblVersion()->font().bold());

    QVERIFY(!splash.lblCopyright()->text().isEmpty());
    QVERIFY(!splash.lblCopyright()->text().contains(QLatin1Char('\n')));
    QCOMPARE(splash.size(), QSize(537, 284));
}

QTEST_MAIN(tst_Splash)
#include "tst_splash.moc"
