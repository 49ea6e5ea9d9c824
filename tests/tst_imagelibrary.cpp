#include "platform/imagelibrary.h"
#include "platform/imagelibrarywriter.h"
#include "platform/peresources.h"
#include "platform/profilefile.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QtTest>

#include <functional>
#include <iterator>

using Mutation = std::function<void(QByteArray &)>;
Q_DECLARE_METATYPE(Mutation)
using PictureList = QList<QPair<QString, QImage>>;

namespace {

void add16(QByteArray &b, quint32 v)
{
    b.append(char(v & 0xff));
    b.append(char((v >> 8) & 0xff));
}

void add32(QByteArray &b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

quint32 get16(const QByteArray &b, qint64 at)
{
    return quint8(b.at(at)) | (quint32(quint8(b.at(at + 1))) << 8);
}

quint32 get32(const QByteArray &b, qint64 at)
{
    return get16(b, at) | (get16(b, at + 2) << 16);
}

void set16(QByteArray &b, qint64 at, quint32 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char((v >> 8) & 0xff);
}

void set32(QByteArray &b, qint64 at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

// A packed bitmap made byte by byte, independent of the writer, with the image it must give.
struct TestBitmap
{
    QByteArray dib;
    QImage expected;   // Format_Mono for 1-bit bitmaps, Format_ARGB32 otherwise
};

QByteArray infoHeader(int headerSize, int w, int h, int bpp, quint32 compression, quint32 coloursUsed)
{
    QByteArray b;
    add32(b, quint32(headerSize));
    if (headerSize == 12) {
        add16(b, quint32(w));
        add16(b, quint32(h));
        add16(b, 1);
        add16(b, quint32(bpp));
        return b;
    }
    add32(b, quint32(w));
    add32(b, quint32(h));
    add16(b, 1);
    add16(b, quint32(bpp));
    add32(b, compression);
    add32(b, 0);
    add32(b, 2835);
    add32(b, 2835);
    add32(b, coloursUsed);
    add32(b, 0);
    return b;
}

int strideOf(int w, int bpp)
{
    return (w * bpp + 31) / 32 * 4;
}

// Rows are given top row first; the bitmap stores them bottom-up unless topDown.
QByteArray rows(const QList<QByteArray> &topFirst, bool topDown)
{
    QByteArray b;
    for (int i = 0; i < topFirst.size(); ++i)
        b.append(topFirst.at(topDown ? i : topFirst.size() - 1 - i));
    return b;
}

TestBitmap palettedBitmap(int bpp, int w, int h, const QList<QRgb> &palette, bool topDown,
                          bool coreHeader = false, bool shortPalette = false)
{
    TestBitmap t;
    const int count = palette.size();
    t.dib = infoHeader(coreHeader ? 12 : 40, w, topDown ? -h : h, bpp, 0,
                       shortPalette ? quint32(count) : 0);
    const int entries = shortPalette ? count : (1 << bpp);
    for (int i = 0; i < entries; ++i) {
        const QRgb c = i < count ? palette.at(i) : qRgb(0x11, 0x22, 0x33);
        t.dib.append(char(qBlue(c)));
        t.dib.append(char(qGreen(c)));
        t.dib.append(char(qRed(c)));
        if (!coreHeader)
            t.dib.append(char(0x7f));   // reserved byte, must not matter
    }
    if (bpp == 1) {
        t.expected = QImage(w, h, QImage::Format_Mono);
        t.expected.setColorTable({palette.at(0), palette.at(1)});
    } else {
        t.expected = QImage(w, h, QImage::Format_ARGB32);
    }
    QList<QByteArray> lines;
    for (int y = 0; y < h; ++y) {
        QByteArray line(strideOf(w, bpp), '\0');
        for (int x = 0; x < w; ++x) {
            const int index = (x * 3 + y * 5 + x * y) % count;
            const int bit = x * bpp;
            line[bit / 8] = char(quint8(line.at(bit / 8)) | (index << (8 - bpp - bit % 8)));
            if (bpp == 1)
                t.expected.setPixel(x, y, uint(index));
            else
                t.expected.setPixel(x, y, palette.at(index));
        }
        lines.append(line);
    }
    t.dib.append(rows(lines, topDown));
    return t;
}

QRgb patternColour(int x, int y)
{
    return qRgb((x * 37 + 11) % 256, (y * 53 + 7) % 256, (x * y * 3) % 256);
}

TestBitmap trueColourBitmap(int bpp, int w, int h, bool topDown, int extraPalette = 0)
{
    TestBitmap t;
    t.dib = infoHeader(40, w, topDown ? -h : h, bpp, 0, quint32(extraPalette));
    for (int i = 0; i < extraPalette; ++i)
        add32(t.dib, 0x00ff00ff);   // a palette the pixels do not use
    t.expected = QImage(w, h, QImage::Format_ARGB32);
    QList<QByteArray> lines;
    for (int y = 0; y < h; ++y) {
        QByteArray line;
        for (int x = 0; x < w; ++x) {
            const QRgb c = patternColour(x, y);
            line.append(char(qBlue(c)));
            line.append(char(qGreen(c)));
            line.append(char(qRed(c)));
            if (bpp == 32)
                line.append(char(0x5a));   // not an alpha value without an alpha mask
            t.expected.setPixel(x, y, c);
        }
        line.append(QByteArray(strideOf(w, bpp) - line.size(), '\0'));
        lines.append(line);
    }
    t.dib.append(rows(lines, topDown));
    return t;
}

struct ChannelValues
{
    QList<quint32> raw;
    QList<int> expected;
};

// A bit-field bitmap whose channels cycle through raw values with known 8-bit results.
TestBitmap bitfieldBitmap(int bpp, const quint32 (&masks)[4], quint32 compression, int headerSize,
                          const ChannelValues &colour, const ChannelValues &alpha, int w, int h,
                          const ChannelValues *green = nullptr)
{
    TestBitmap t;
    t.dib = infoHeader(headerSize == 124 ? 124 : 40, w, h, bpp, compression, 0);
    if (headerSize == 124) {
        t.dib.append(QByteArray(124 - 40, '\0'));
        for (int i = 0; i < 4; ++i)
            set32(t.dib, 40 + 4 * i, masks[i]);
    } else if (compression == 3 || compression == 6) {
        for (int i = 0; i < (compression == 6 ? 4 : 3); ++i)
            add32(t.dib, masks[i]);
    }
    auto shiftOf = [](quint32 mask) {
        int s = 0;
        while (mask && !((mask >> s) & 1))
            ++s;
        return s;
    };
    t.expected = QImage(w, h, QImage::Format_ARGB32);
    QList<QByteArray> lines;
    const int n = colour.raw.size();
    for (int y = 0; y < h; ++y) {
        QByteArray line;
        for (int x = 0; x < w; ++x) {
            const int r = x % n, g = y % n, b = (x + y) % n, a = (x * 2 + y) % alpha.raw.size();
            // a channel without a mask reads as 0
            const int index[4] = {r, g, b, a};
            const ChannelValues *values[4] = {&colour, green ? green : &colour, &colour, &alpha};
            quint32 pixel = 0;
            int result[4] = {0, 0, 0, 255};
            for (int i = 0; i < 4; ++i) {
                if (!masks[i])
                    continue;
                pixel |= values[i]->raw.at(index[i]) << shiftOf(masks[i]);
                result[i] = values[i]->expected.at(index[i]);
            }
            if (bpp == 16)
                add16(line, pixel);
            else
                add32(line, pixel);
            t.expected.setPixel(x, y, qRgba(result[0], result[1], result[2], result[3]));
        }
        line.append(QByteArray(strideOf(w, bpp) - line.size(), '\0'));
        lines.append(line);
    }
    t.dib.append(rows(lines, false));
    return t;
}

QList<QRgb> somePalette(int count)
{
    QList<QRgb> p;
    for (int i = 0; i < count; ++i)
        p.append(qRgb((i * 71 + 13) % 256, (i * 29 + 101) % 256, (i * 113 + 57) % 256));
    return p;
}

// Every kind of bitmap the reader takes, by name.
QList<QPair<QString, TestBitmap>> bitmapCases()
{
    const ChannelValues five{{0, 31, 16, 8, 1, 30}, {0, 255, 132, 66, 8, 247}};
    const ChannelValues six{{0, 63, 32, 1, 62}, {0, 255, 130, 4, 251}};
    const ChannelValues sixShort{{63, 0, 32, 1, 62, 11}, {255, 0, 130, 4, 251, 44}};
    const ChannelValues eight{{0, 255, 128, 1, 254}, {0, 255, 128, 1, 254}};
    const ChannelValues four{{0, 15, 8, 1}, {0, 255, 136, 17}};
    const ChannelValues none{{0}, {255}};
    const quint32 rgb555[4] = {0x7c00, 0x03e0, 0x001f, 0};
    const quint32 rgb565[4] = {0xf800, 0x07e0, 0x001f, 0};
    const quint32 argb4444[4] = {0x0f00, 0x00f0, 0x000f, 0xf000};
    const quint32 bgr32[4] = {0x000000ff, 0x0000ff00, 0x00ff0000, 0};
    const quint32 argb32[4] = {0x00ff0000, 0x0000ff00, 0x000000ff, 0xff000000};

    QList<QPair<QString, TestBitmap>> c;
    c.append({QStringLiteral("Mask1"), palettedBitmap(1, 37, 9, {qRgb(0, 0, 0), qRgb(255, 255, 255)}, false)});
    c.append({QStringLiteral("Mono1_Colours"), palettedBitmap(1, 16, 3, {qRgb(0x1b, 0x2f, 0x4e), qRgb(0xf2, 0xb5, 0x44)}, false)});
    c.append({QStringLiteral("Mono1_TopDown"), palettedBitmap(1, 9, 4, {qRgb(255, 255, 255), qRgb(0, 0, 0)}, true)});
    c.append({QStringLiteral("Pal4_Odd"), palettedBitmap(4, 13, 5, somePalette(16), false)});
    c.append({QStringLiteral("Pal4_Short"), palettedBitmap(4, 6, 4, somePalette(5), false, false, true)});
    c.append({QStringLiteral("Pal8"), palettedBitmap(8, 7, 6, somePalette(256), false)});
    c.append({QStringLiteral("Pal8_TopDown"), palettedBitmap(8, 5, 3, somePalette(40), true, false, true)});
    c.append({QStringLiteral("Core8"), palettedBitmap(8, 6, 2, somePalette(256), false, true)});
    c.append({QStringLiteral("Rgb16_555"), bitfieldBitmap(16, rgb555, 0, 40, five, none, 7, 6)});
    c.append({QStringLiteral("Fields16_565"), bitfieldBitmap(16, rgb565, 3, 40, five, none, 6, 5, &sixShort)});
    c.append({QStringLiteral("Fields16_Green6"), bitfieldBitmap(16, {0, 0x07e0, 0, 0}, 3, 40, six, none, 5, 5)});
    c.append({QStringLiteral("Alpha16_4444"), bitfieldBitmap(16, argb4444, 6, 40, four, four, 5, 4)});
    c.append({QStringLiteral("True24"), trueColourBitmap(24, 5, 4, false)});
    c.append({QStringLiteral("True24_TopDown"), trueColourBitmap(24, 3, 3, true)});
    c.append({QStringLiteral("True24_Palette"), trueColourBitmap(24, 4, 2, false, 3)});
    c.append({QStringLiteral("True32"), trueColourBitmap(32, 5, 3, false)});
    c.append({QStringLiteral("Fields32_Bgr"), bitfieldBitmap(32, bgr32, 3, 40, eight, none, 5, 5)});
    c.append({QStringLiteral("V5_Alpha32"), bitfieldBitmap(32, argb32, 3, 124, eight, eight, 5, 5)});
    return c;
}

QString firstDifference(const QImage &actual, const QImage &expected)
{
    if (actual.isNull())
        return QStringLiteral("no image");
    if (actual.size() != expected.size())
        return QStringLiteral("size %1x%2, expected %3x%4")
            .arg(actual.width()).arg(actual.height()).arg(expected.width()).arg(expected.height());
    if (expected.format() == QImage::Format_Mono && actual.format() != QImage::Format_Mono)
        return QStringLiteral("format %1, expected Format_Mono").arg(int(actual.format()));
    for (int y = 0; y < expected.height(); ++y) {
        for (int x = 0; x < expected.width(); ++x) {
            if (expected.format() == QImage::Format_Mono && actual.pixelIndex(x, y) != expected.pixelIndex(x, y))
                return QStringLiteral("bit at %1,%2 is %3, expected %4")
                    .arg(x).arg(y).arg(actual.pixelIndex(x, y)).arg(expected.pixelIndex(x, y));
            const QRgb a = actual.pixel(x, y);
            const QRgb e = expected.pixel(x, y);
            if (a != e)
                return QStringLiteral("pixel %1,%2 is %3, expected %4")
                    .arg(x).arg(y).arg(a, 8, 16, QLatin1Char('0')).arg(e, 8, 16, QLatin1Char('0'));
        }
    }
    return {};
}

QByteArray bmpFile(const QByteArray &dib)
{
    // the pixels start after the header, the masks of a 40-byte header and the palette
    const quint32 headerSize = get32(dib, 0);
    quint32 bpp, compression = 0, used = 0, entry = 4;
    if (headerSize == 12) {
        bpp = get16(dib, 10);
        entry = 3;
    } else {
        bpp = get16(dib, 14);
        compression = get32(dib, 16);
        used = get32(dib, 32);
    }
    quint32 offset = 14 + headerSize;
    if (headerSize == 40 && compression == 3)
        offset += 12;
    if (headerSize == 40 && compression == 6)
        offset += 16;
    offset += entry * (used ? used : (bpp <= 8 ? (1u << bpp) : 0));
    QByteArray b("BM");
    add32(b, quint32(14 + dib.size()));
    add32(b, 0);
    add32(b, offset);
    return b + dib;
}

QString tool(const char *name)
{
    return QStandardPaths::findExecutable(QString::fromLatin1(name));
}

bool run(const QString &program, const QStringList &args, const QString &dir, QString *output)
{
    QProcess p;
    p.setWorkingDirectory(dir);
    p.setProcessChannelMode(QProcess::MergedChannels);
    p.start(program, args);
    if (!p.waitForFinished(60000)) {
        *output = program + QStringLiteral(": did not finish");
        return false;
    }
    *output = QString::fromLocal8Bit(p.readAll());
    return p.exitStatus() == QProcess::NormalExit && p.exitCode() == 0;
}

QString mkimglibPath()
{
    return QStringLiteral(ORSA_BINARY_DIR "/tools/mkimglib/mkimglib");
}

struct ToolRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

ToolRun runMkimglib(const QStringList &args)
{
    QProcess p;
    p.start(mkimglibPath(), args);
    ToolRun r;
    if (!p.waitForFinished(30000))
        return r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// Offsets of the pieces of a library written by our writer, found by reading it.
struct Layout
{
    qint64 pe = 0;
    qint64 optional = 0;
    qint64 resourceDirectoryEntry = 0;   // RVA and size of the resource tree
    qint64 section = 0;                  // section table entry
    qint64 root = 0;
    qint64 typeDirectory = 0;
    qint64 firstName = 0;                // name string of the first picture
    qint64 firstLanguageDirectory = 0;
    qint64 firstDataEntry = 0;
    qint64 firstPayload = 0;
};

Layout layoutOf(const QByteArray &f)
{
    Layout l;
    l.pe = get32(f, 0x3c);
    l.optional = l.pe + 24;
    l.resourceDirectoryEntry = l.optional + (get16(f, l.optional) == 0x20b ? 112 : 96) + 16;
    l.section = l.optional + get16(f, l.pe + 20);
    l.root = get32(f, l.section + 20);
    const qint64 sectionRva = get32(f, l.section + 12);
    l.typeDirectory = l.root + (get32(f, l.root + 20) & 0x7fffffff);
    l.firstName = l.root + (get32(f, l.typeDirectory + 16) & 0x7fffffff);
    l.firstLanguageDirectory = l.root + (get32(f, l.typeDirectory + 20) & 0x7fffffff);
    l.firstDataEntry = l.root + get32(f, l.firstLanguageDirectory + 20);
    l.firstPayload = l.root + get32(f, l.firstDataEntry) - sectionRva;
    return l;
}

} // namespace

class tst_ImageLibrary : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void initTestCase();
    void decodesEveryDepth_data();
    void decodesEveryDepth();
    void writerRoundTrip_data();
    void writerRoundTrip();
    void namesIgnoreCase_data();
    void namesIgnoreCase();
    void writerRefuses_data();
    void writerRefuses();
    void imageWithoutResources();
    void loadFromFile();
    void hostileFiles_data();
    void hostileFiles();
    void mutatedFiles();
    void mkimglibRoundTrip();
    void mkimglibErrors_data();
    void mkimglibErrors();
    void demoLibrary();

private:
    QTemporaryDir m_dir;
    QMap<QString, QByteArray> m_libraries;   // by kind: windres32, windres64, writer32, writer64
    QString m_windresSkip;
};

void tst_ImageLibrary::initTestCase()
{
    QVERIFY(m_dir.isValid());
    const auto cases = bitmapCases();
    QList<QPair<QString, QByteArray>> dibs;
    QString rc;
    for (const auto &[name, bitmap] : cases) {
        dibs.append({name, bitmap.dib});
        QFile file(m_dir.filePath(name + QStringLiteral(".bmp")));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write(bmpFile(bitmap.dib));
        rc += QStringLiteral("%1 BITMAP \"%1.bmp\"\n").arg(name);
    }
    QString error;
    m_libraries.insert(QStringLiteral("writer32"), buildResourceLibrary(dibs, &error, PeKind::Pe32));
    QVERIFY2(error.isEmpty(), qPrintable(error));
    m_libraries.insert(QStringLiteral("writer64"), buildResourceLibrary(dibs, &error, PeKind::Pe32Plus));

    QFile rcFile(m_dir.filePath(QStringLiteral("pictures.rc")));
    QVERIFY(rcFile.open(QIODevice::WriteOnly));
    rcFile.write(rc.toLatin1());
    rcFile.close();
    for (const char *prefix : {"i686-w64-mingw32", "x86_64-w64-mingw32"}) {
        const QString windres = tool(QByteArray(QByteArray(prefix) + "-windres").constData());
        const QString ld = tool(QByteArray(QByteArray(prefix) + "-ld").constData());
        if (windres.isEmpty() || ld.isEmpty()) {
            m_windresSkip = QStringLiteral("%1-windres or -ld missing (package binutils-mingw-w64)")
                                .arg(QLatin1String(prefix));
            continue;
        }
        const QString object = QLatin1String(prefix) + QStringLiteral(".o");
        const QString dll = QLatin1String(prefix) + QStringLiteral(".dll");
        QString output;
        QVERIFY2(run(windres, {QStringLiteral("--preprocessor=cat"), QStringLiteral("pictures.rc"),
                               QStringLiteral("-O"), QStringLiteral("coff"), QStringLiteral("-o"), object},
                     m_dir.path(), &output), qPrintable(output));
        QVERIFY2(run(ld, {QStringLiteral("--dll"), QStringLiteral("-e"), QStringLiteral("0"), QStringLiteral("-s"),
                          QStringLiteral("--no-insert-timestamp"), QStringLiteral("--subsystem"),
                          QStringLiteral("windows"), object, QStringLiteral("-o"), dll},
                     m_dir.path(), &output), qPrintable(output));
        QFile file(m_dir.filePath(dll));
        QVERIFY(file.open(QIODevice::ReadOnly));
        m_libraries.insert(QString::fromLatin1(prefix).startsWith(QLatin1String("i686"))
                               ? QStringLiteral("windres32") : QStringLiteral("windres64"),
                           file.readAll());
    }
}

void tst_ImageLibrary::decodesEveryDepth_data()
{
    QTest::addColumn<QString>("library");
    QTest::addColumn<QString>("name");
    QTest::addColumn<QImage>("expected");
    QTest::addColumn<QByteArray>("bmp");
    for (const char *library : {"windres32", "windres64", "writer32", "writer64"}) {
        for (const auto &[name, bitmap] : bitmapCases())
            QTest::addRow("%s %s", library, qPrintable(name))
                << QString::fromLatin1(library) << name << bitmap.expected << bmpFile(bitmap.dib);
    }
}

void tst_ImageLibrary::decodesEveryDepth()
{
    QFETCH(QString, library);
    QFETCH(QString, name);
    QFETCH(QImage, expected);
    QFETCH(QByteArray, bmp);
    if (!m_libraries.contains(library))
        QSKIP(qPrintable(m_windresSkip));

    // The test's bitmaps are checked against Qt's own BMP reader where it is exact, so that the
    // expectations do not share a misreading with the code under test.
    if (!name.contains(QLatin1String("16")) && !name.contains(QLatin1String("32"))) {
        const QImage reference = QImage::fromData(bmp, "BMP");
        QVERIFY2(firstDifference(reference.convertToFormat(QImage::Format_ARGB32),
                                 expected.convertToFormat(QImage::Format_ARGB32)).isEmpty(),
                 "the test's own bitmap disagrees with Qt's BMP reader");
    }

    QString error;
    const auto lib = ImageLibrary::fromData(m_libraries.value(library), &error);
    QVERIFY2(lib, qPrintable(error));
    QVERIFY(lib->contains(name));
    const QImage image = lib->bitmap(name, &error);
    const QString difference = firstDifference(image, expected);
    QVERIFY2(difference.isEmpty(), qPrintable(difference + QLatin1Char(' ') + error));
    if (expected.format() != QImage::Format_Mono)
        QCOMPARE(image.hasAlphaChannel(), name.contains(QLatin1String("Alpha")));
}

void tst_ImageLibrary::writerRoundTrip_data()
{
    QTest::addColumn<QImage>("source");
    QTest::addColumn<int>("bits");

    QImage gradient(67, 23, QImage::Format_RGB32);
    for (int y = 0; y < gradient.height(); ++y)
        for (int x = 0; x < gradient.width(); ++x)
            gradient.setPixel(x, y, patternColour(x, y));
    QTest::newRow("colour, odd width") << gradient << 24;
    QTest::newRow("indexed colours") << gradient.convertToFormat(QImage::Format_Indexed8) << 24;

    QImage translucent(9, 7, QImage::Format_ARGB32);
    for (int y = 0; y < translucent.height(); ++y)
        for (int x = 0; x < translucent.width(); ++x)
            translucent.setPixel(x, y, qRgba(x * 28, y * 36, 200, (x * 31 + y * 17) % 256));
    QTest::newRow("alpha") << translucent << 32;

    QImage mask(537, 5, QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    for (int y = 0; y < mask.height(); ++y)
        for (int x = 0; x < mask.width(); ++x)
            mask.setPixel(x, y, uint((x / (y + 3) + y) % 2));
    QTest::newRow("mask, black first") << mask << 1;

    // Qt's own conversion to 1 bit lists white first; the colours must survive all the same.
    QImage shape(30, 4, QImage::Format_RGB32);
    shape.fill(Qt::white);
    for (int x = 4; x < 20; ++x)
        shape.setPixel(x, 1, qRgb(0, 0, 0));
    QTest::newRow("mask, white first") << shape.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither) << 1;
    QTest::newRow("mask, LSB first") << mask.convertToFormat(QImage::Format_MonoLSB) << 1;
}

void tst_ImageLibrary::writerRoundTrip()
{
    QFETCH(QImage, source);
    QFETCH(int, bits);
    for (PeKind kind : {PeKind::Pe32, PeKind::Pe32Plus}) {
        QString error;
        const QByteArray file = buildImageLibrary({{QStringLiteral("picture"), source}}, &error, kind);
        QVERIFY2(!file.isEmpty(), qPrintable(error));
        const Layout layout = layoutOf(file);
        QCOMPARE(get16(file, layout.pe + 4), kind == PeKind::Pe32 ? 0x14cu : 0x8664u);
        QVERIFY(get16(file, layout.pe + 22) & 0x2000);   // a DLL

        const auto lib = ImageLibrary::fromData(file, &error);
        QVERIFY2(lib, qPrintable(error));
        QCOMPARE(lib->names(), QStringList{QStringLiteral("PICTURE")});
        QCOMPARE(lib->bitsPerPixel(QStringLiteral("picture")), bits);
        const QImage image = lib->bitmap(QStringLiteral("picture"), &error);
        QImage expected = source.convertToFormat(QImage::Format_ARGB32);
        if (bits == 1) {
            // the bits of a mask: 1 for white, whatever the order of the source's colours
            QCOMPARE(image.format(), QImage::Format_Mono);
            for (int y = 0; y < source.height(); ++y)
                for (int x = 0; x < source.width(); ++x)
                    QCOMPARE(image.pixelIndex(x, y), qGray(source.pixel(x, y)) > 127 ? 1 : 0);
            expected = expected.convertToFormat(QImage::Format_RGB32);
        }
        const QString difference = firstDifference(image.convertToFormat(QImage::Format_ARGB32), expected);
        QVERIFY2(difference.isEmpty(), qPrintable(difference));
    }
}

void tst_ImageLibrary::namesIgnoreCase_data()
{
    QTest::addColumn<QString>("asked");
    QTest::addColumn<bool>("found");
    QTest::addColumn<int>("width");
    QTest::newRow("stored spelling") << QStringLiteral("ORSA_A") << true << 3;
    QTest::newRow("lower case") << QStringLiteral("orsa_a") << true << 3;
    QTest::newRow("mixed case") << QStringLiteral("Orsa_aA") << true << 4;
    QTest::newRow("variant is its own picture") << QStringLiteral("orsa_ad") << true << 5;
    QTest::newRow("non-ASCII name") << QStringLiteral("bild_\u00e4") << true << 6;
    QTest::newRow("prefix only") << QStringLiteral("ORSA_") << false << 0;
    QTest::newRow("trailing blank") << QStringLiteral("ORSA_A ") << false << 0;
    QTest::newRow("empty") << QString() << false << 0;
}

void tst_ImageLibrary::namesIgnoreCase()
{
    QFETCH(QString, asked);
    QFETCH(bool, found);
    QFETCH(int, width);
    QList<QPair<QString, QImage>> pictures{
        {QStringLiteral("orsa_A"), QImage(3, 2, QImage::Format_RGB32)},
        {QStringLiteral("ORSA_AA"), QImage(4, 2, QImage::Format_RGB32)},
        {QStringLiteral("Orsa_AD"), QImage(5, 2, QImage::Format_RGB32)},
        {QStringLiteral("Bild_\u00c4"), QImage(6, 2, QImage::Format_RGB32)},
    };
    for (auto &picture : pictures)
        picture.second.fill(Qt::darkCyan);
    QString error;
    const auto lib = ImageLibrary::fromData(buildImageLibrary(pictures, &error), &error);
    QVERIFY2(lib, qPrintable(error));
    QCOMPARE(lib->names().size(), 4);
    QVERIFY(lib->names().contains(QStringLiteral("ORSA_A")));
    QCOMPARE(lib->contains(asked), found);
    error.clear();
    const QImage image = lib->bitmap(asked, &error);
    QCOMPARE(image.isNull(), !found);
    if (found)
        QCOMPARE(image.width(), width);
    else
        QCOMPARE(error, QStringLiteral("picture not found: ") + asked);
}

void tst_ImageLibrary::writerRefuses_data()
{
    QTest::addColumn<PictureList>("pictures");
    QTest::addColumn<QString>("reason");
    const QImage small(2, 2, QImage::Format_RGB32);
    QTest::newRow("names differing in case")
        << QList<QPair<QString, QImage>>{{QStringLiteral("Main"), small}, {QStringLiteral("MAIN"), small}}
        << QStringLiteral("two pictures are named \"MAIN\"");
    QTest::newRow("empty name") << QList<QPair<QString, QImage>>{{QString(), small}}
                                << QStringLiteral("empty name");
    QTest::newRow("null image") << QList<QPair<QString, QImage>>{{QStringLiteral("X"), QImage()}}
                                << QStringLiteral("\"X\" is empty");
    QTest::newRow("wider than a bitmap may be")
        << QList<QPair<QString, QImage>>{{QStringLiteral("WIDE"), QImage(16385, 1, QImage::Format_RGB32)}}
        << QStringLiteral("larger than a bitmap may be");
    QTest::newRow("name too long")
        << QList<QPair<QString, QImage>>{{QString(256, QLatin1Char('N')), small}}
        << QStringLiteral("longer than 255 characters");
}

void tst_ImageLibrary::writerRefuses()
{
    QFETCH(PictureList, pictures);
    QFETCH(QString, reason);
    QString error;
    QVERIFY(buildImageLibrary(pictures, &error).isEmpty());
    QVERIFY2(error.contains(reason), qPrintable(error));
    const QString path = m_dir.filePath(QStringLiteral("refused.dll"));
    QVERIFY(!writeImageLibrary(path, pictures, &error));
    QVERIFY(!QFile::exists(path));
}

void tst_ImageLibrary::imageWithoutResources()
{
    // A PE image whose resource directory is absent is a library without pictures, not a
    // damaged file.
    QString error;
    QByteArray file = buildImageLibrary({{QStringLiteral("P"), QImage(2, 2, QImage::Format_RGB32)}}, &error);
    const Layout layout = layoutOf(file);
    set32(file, layout.resourceDirectoryEntry, 0);
    set32(file, layout.resourceDirectoryEntry + 4, 0);
    const auto lib = ImageLibrary::fromData(file, &error);
    QVERIFY2(lib, qPrintable(error));
    QVERIFY(lib->names().isEmpty());
    QVERIFY(lib->bitmap(QStringLiteral("P"), &error).isNull());
    QCOMPARE(error, QStringLiteral("picture not found: P"));
}

void tst_ImageLibrary::loadFromFile()
{
    QString error;
    QVERIFY(!ImageLibrary::load(m_dir.filePath(QStringLiteral("none/MainImg.dll")), &error));
    QVERIFY2(error.startsWith(QLatin1String("cannot be loaded: ")), qPrintable(error));

    const QString path = m_dir.filePath(QStringLiteral("written.dll"));
    QVERIFY(writeImageLibrary(path, {{QStringLiteral("Main"), QImage(4, 3, QImage::Format_RGB32)}}, &error));
    const auto lib = ImageLibrary::load(path, &error);
    QVERIFY2(lib, qPrintable(error));
    QCOMPARE(lib->bitmap(QStringLiteral("main")).size(), QSize(4, 3));
}

void tst_ImageLibrary::hostileFiles_data()
{
    QTest::addColumn<Mutation>("mutation");
    QTest::addColumn<QString>("fails");   // "", "load" or "bitmap"

    auto row = [](const char *name, const char *fails, Mutation m) {
        QTest::newRow(name) << m << QString::fromLatin1(fails);
    };
    row("unchanged", "", [](QByteArray &) {});
    row("empty file", "load", [](QByteArray &f) { f.clear(); });
    row("no MZ", "load", [](QByteArray &f) { f[0] = 'X'; });
    row("PE header past the end", "load", [](QByteArray &f) { set32(f, 0x3c, quint32(f.size())); });
    row("PE header offset huge", "load", [](QByteArray &f) { set32(f, 0x3c, 0xfffffff0u); });
    row("section count huge", "load", [](QByteArray &f) { set16(f, layoutOf(f).pe + 6, 0xffff); });
    row("optional header longer than the file", "load", [](QByteArray &f) { set16(f, layoutOf(f).pe + 20, 0xffff); });
    row("optional header too short", "load", [](QByteArray &f) { set16(f, layoutOf(f).pe + 20, 60); });
    row("unknown magic", "load", [](QByteArray &f) { set16(f, layoutOf(f).optional, 0x107); });
    row("resource tree outside every section", "load",
        [](QByteArray &f) { set32(f, layoutOf(f).resourceDirectoryEntry, 0x50000); });
    row("section data past the end", "load", [](QByteArray &f) { set32(f, layoutOf(f).section + 20, 0x7fffffff); });
    row("cut inside the resource tree", "load", [](QByteArray &f) { f.truncate(int(layoutOf(f).root + 30)); });
    row("type directory is the root", "load",
        [](QByteArray &f) { set32(f, layoutOf(f).root + 20, 0x80000000u); });
    row("language directory is the type directory", "load", [](QByteArray &f) {
        const Layout l = layoutOf(f);
        set32(f, l.typeDirectory + 20, 0x80000000u | quint32(l.typeDirectory - l.root));
    });
    row("directory link far outside", "load",
        [](QByteArray &f) { set32(f, layoutOf(f).root + 20, 0xfffffff8u); });
    row("entry count huge", "load", [](QByteArray &f) { set16(f, layoutOf(f).typeDirectory + 12, 0xffff); });
    row("name longer than the file", "load", [](QByteArray &f) { set16(f, layoutOf(f).firstName, 0xffff); });
    row("data entry outside", "load",
        [](QByteArray &f) { set32(f, layoutOf(f).firstLanguageDirectory + 20, 0x7ffffff0u); });
    row("data size huge", "load", [](QByteArray &f) { set32(f, layoutOf(f).firstDataEntry + 4, 0xffffffffu); });
    row("data past the section", "load", [](QByteArray &f) {
        const Layout l = layoutOf(f);
        set32(f, l.firstDataEntry + 4, get32(f, l.firstDataEntry + 4) + 0x10000);
    });
    row("data RVA wraps around", "load", [](QByteArray &f) { set32(f, layoutOf(f).firstDataEntry, 0xffffff00u); });
    row("bitmap width huge", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 4, 0x7fffffff); });
    row("bitmap width negative", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 4, 0xfffffff0u); });
    row("bitmap height most negative", "bitmap",
        [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 8, 0x80000000u); });
    row("bitmap width zero", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 4, 0); });
    row("bitmap sides allowed, area too large", "bitmap", [](QByteArray &f) {
        set32(f, layoutOf(f).firstPayload + 4, 16384);
        set32(f, layoutOf(f).firstPayload + 8, 16384);
    });
    row("pixels beyond the data", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 8, 1000); });
    row("zero bits per pixel", "bitmap", [](QByteArray &f) { set16(f, layoutOf(f).firstPayload + 14, 0); });
    row("2 bits per pixel", "bitmap", [](QByteArray &f) { set16(f, layoutOf(f).firstPayload + 14, 2); });
    row("run-length compression", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 16, 1); });
    row("bit fields on 24 bits", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 16, 3); });
    row("header size huge", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload, 0xffffffffu); });
    row("header size unknown", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload, 20); });
    row("palette count huge", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 32, 0x10000000u); });
    row("palette beyond the data", "bitmap", [](QByteArray &f) { set32(f, layoutOf(f).firstPayload + 32, 40); });
}

void tst_ImageLibrary::hostileFiles()
{
    QFETCH(Mutation, mutation);
    QFETCH(QString, fails);
    for (PeKind kind : {PeKind::Pe32, PeKind::Pe32Plus}) {
        QString error;
        // the first picture (in name order) is a small true-colour one
        QByteArray file = buildImageLibrary({{QStringLiteral("A"), QImage(7, 3, QImage::Format_RGB32)},
                                             {QStringLiteral("B"), QImage(9, 2, QImage::Format_Mono)}},
                                            &error, kind);
        QVERIFY(!file.isEmpty());
        mutation(file);
        error.clear();
        const auto lib = ImageLibrary::fromData(file, &error);
        if (fails == QLatin1String("load")) {
            QVERIFY(!lib);
            QVERIFY2(error.startsWith(QLatin1String("cannot be loaded: ")), qPrintable(error));
            continue;
        }
        QVERIFY2(lib, qPrintable(error));
        QCOMPARE(lib->names(), (QStringList{QStringLiteral("A"), QStringLiteral("B")}));
        const QImage image = lib->bitmap(QStringLiteral("a"), &error);
        if (fails == QLatin1String("bitmap")) {
            QVERIFY(image.isNull());
            QVERIFY2(error.startsWith(QLatin1String("picture not found: a: ")), qPrintable(error));
        } else {
            QCOMPARE(image.size(), QSize(7, 3));
        }
        QCOMPARE(lib->bitmap(QStringLiteral("b")).size(), QSize(9, 2));
    }
}

void tst_ImageLibrary::mutatedFiles()
{
    // Thousands of damaged copies of a sound library: each must be refused cleanly or give
    // pictures within the limits; a crash or a sanitizer report fails the test run.
    QList<QPair<QString, QByteArray>> dibs;
    for (const auto &[name, bitmap] : bitmapCases())
        dibs.append({name, bitmap.dib});
    QImage mask(21, 6, QImage::Format_Mono);
    mask.fill(1);
    dibs.append({QStringLiteral("SMASK"), encodePackedBitmap(mask)});
    const QByteArray bases[] = {buildResourceLibrary(dibs, nullptr, PeKind::Pe32),
                                buildResourceLibrary(dibs, nullptr, PeKind::Pe32Plus)};
    const quint32 interesting[] = {0, 1, 0x7f, 0x80, 0xff, 0xffff, 0x7fffffff, 0x80000000u,
                                   0xffffffffu, 0xfffffff0u, 0x80000000u | 0x18, 0x80000000u | 0x10,
                                   16384, 0x1000, 0x10000};

    QRandomGenerator random(20250319);
    int refusedFiles = 0, refusedPictures = 0, pictures = 0;
    // ORSA_MUTATION_ROUNDS runs a longer search by hand (under the asan preset, say).
    const int rounds = qMax(4000, qEnvironmentVariableIntValue("ORSA_MUTATION_ROUNDS"));
    for (int round = 0; round < rounds; ++round) {
        QByteArray file = bases[round % 2];
        const Layout layout = layoutOf(file);
        const int treeEnd = int(layout.firstPayload);
        const int mutations = 1 + int(random.bounded(3));
        for (int m = 0; m < mutations; ++m) {
            switch (random.bounded(6)) {
            case 0:   // random bytes anywhere
                for (int i = 0, n = 1 + int(random.bounded(8)); i < n && !file.isEmpty(); ++i)
                    file[int(random.bounded(int(file.size())))] = char(random.bounded(256));
                break;
            case 1:   // an interesting word in the headers or the resource tree
                if (file.size() > treeEnd) {
                    const int at = int(random.bounded(treeEnd / 2)) * 2;
                    set32(file, at, interesting[random.bounded(int(std::size(interesting)))]);
                }
                break;
            case 2:   // cut short
                file.truncate(random.bounded(int(file.size()) + 1));
                break;
            case 3:   // a directory link to some other directory, often a loop
                if (file.size() > treeEnd) {
                    const qint64 entry = layout.root + 16 + 8 * qint64(random.bounded(int((treeEnd - layout.root - 16) / 8)));
                    set32(file, entry + 4, 0x80000000u | quint32(random.bounded(8)) * 8);
                }
                break;
            case 4: {   // huge or odd values in a bitmap header
                const qint64 payload = layout.firstPayload + 8 * qint64(random.bounded(64));
                static const int fields[] = {0, 4, 8, 14, 16, 32};
                const int field = fields[random.bounded(6)];
                if (payload + field + 4 <= file.size())
                    set32(file, payload + field, interesting[random.bounded(int(std::size(interesting)))]);
                break;
            }
            default:   // a data entry's size or address
                if (file.size() > treeEnd) {
                    const qint64 entry = layout.firstDataEntry + 16 * qint64(random.bounded(int(dibs.size())));
                    if (entry + 8 <= file.size())
                        set32(file, entry + (random.bounded(2) ? 4 : 0),
                              interesting[random.bounded(int(std::size(interesting)))]);
                }
            }
        }
        QString error;
        const auto lib = ImageLibrary::fromData(file, &error);
        if (!lib) {
            QVERIFY2(error.startsWith(QLatin1String("cannot be loaded: ")), qPrintable(error));
            ++refusedFiles;
            continue;
        }
        for (const QString &name : lib->names()) {
            error.clear();
            const QImage image = lib->bitmap(name, &error);
            if (image.isNull()) {
                QVERIFY2(error.startsWith(QLatin1String("picture not found: ")), qPrintable(error));
                ++refusedPictures;
            } else {
                QVERIFY(image.width() <= PeResources::MaxBitmapSide);
                QVERIFY(image.height() <= PeResources::MaxBitmapSide);
                QVERIFY(qint64(image.width()) * image.height() <= PeResources::MaxBitmapPixels);
                ++pictures;
            }
        }
    }
    qInfo("%d mutated files: %d refused, %d pictures refused, %d pictures read", rounds, refusedFiles,
          refusedPictures, pictures);
    // the mutations must reach every stage, or the test proves little
    QVERIFY(refusedFiles > rounds / 10);
    QVERIFY(refusedPictures > 100);
    QVERIFY(pictures > 1000);
}

void tst_ImageLibrary::mkimglibRoundTrip()
{
    QVERIFY2(QFile::exists(mkimglibPath()), "mkimglib is not built");
    QTemporaryDir source;
    QVERIFY(source.isValid());
    QImage main(64, 20, QImage::Format_RGB32);
    for (int y = 0; y < main.height(); ++y)
        for (int x = 0; x < main.width(); ++x)
            main.setPixel(x, y, patternColour(x, y));
    QImage alpha(5, 5, QImage::Format_ARGB32);
    for (int i = 0; i < 25; ++i)
        alpha.setPixel(i % 5, i / 5, qRgba(i * 10, 255 - i * 10, 77, i * 10));
    QImage mask(37, 9, QImage::Format_Mono);
    mask.setColorTable({qRgb(0, 0, 0), qRgb(255, 255, 255)});
    mask.fill(1);
    for (int x = 3; x < 30; ++x)
        mask.setPixel(x, 4, 0);
    QImage shape(12, 3, QImage::Format_RGB32);   // black and white, 24 bits, named as a mask
    shape.fill(Qt::white);
    shape.setPixel(2, 1, qRgb(0, 0, 0));
    QImage plain = shape;                        // the same, not named as a mask: stays colour
    QVERIFY(main.save(source.filePath(QStringLiteral("main.png"))));
    QVERIFY(alpha.save(source.filePath(QStringLiteral("Logo.PNG"))));
    QVERIFY(mask.save(source.filePath(QStringLiteral("smask.png"))));
    QVERIFY(shape.save(source.filePath(QStringLiteral("shapeMask.bmp"))));
    QVERIFY(plain.save(source.filePath(QStringLiteral("plain.bmp"))));
    QFile notes(source.filePath(QStringLiteral("readme.txt")));
    QVERIFY(notes.open(QIODevice::WriteOnly));
    notes.write("not a picture\n");
    notes.close();

    const QString dll = m_dir.filePath(QStringLiteral("tool.dll"));
    ToolRun r = runMkimglib({QStringLiteral("write"), dll, source.path()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    QVERIFY(r.out.contains(QLatin1String("5 pictures")));

    r = runMkimglib({QStringLiteral("list"), dll});
    QCOMPARE(r.exitCode, 0);
    QCOMPARE(r.out.split(QLatin1Char('\n'), Qt::SkipEmptyParts),
             (QStringList{QStringLiteral("LOGO\t5x5\t32-bit"), QStringLiteral("MAIN\t64x20\t24-bit"),
                          QStringLiteral("PLAIN\t12x3\t24-bit"), QStringLiteral("SHAPEMASK\t12x3\t1-bit"),
                          QStringLiteral("SMASK\t37x9\t1-bit")}));

    QTemporaryDir extracted;
    r = runMkimglib({QStringLiteral("extract"), dll, extracted.path()});
    QVERIFY2(r.exitCode == 0, qPrintable(r.err));
    const QList<QPair<QString, QImage>> expected{{QStringLiteral("MAIN"), main}, {QStringLiteral("LOGO"), alpha},
                                                 {QStringLiteral("SMASK"), mask}, {QStringLiteral("SHAPEMASK"), shape},
                                                 {QStringLiteral("PLAIN"), plain}};
    for (const auto &[name, image] : expected) {
        const QImage back(extracted.filePath(name + QStringLiteral(".png")));
        const QString difference = firstDifference(back.convertToFormat(QImage::Format_ARGB32),
                                                   image.convertToFormat(QImage::Format_ARGB32));
        QVERIFY2(difference.isEmpty(), qPrintable(name + QStringLiteral(": ") + difference));
    }
    // an extracted folder writes the same library again
    const QString again = m_dir.filePath(QStringLiteral("again.dll"));
    QCOMPARE(runMkimglib({QStringLiteral("write"), again, extracted.path()}).exitCode, 0);
    QFile a(dll), b(again);
    QVERIFY(a.open(QIODevice::ReadOnly) && b.open(QIODevice::ReadOnly));
    QCOMPARE(a.readAll(), b.readAll());

    const QString wide = m_dir.filePath(QStringLiteral("tool64.dll"));
    QCOMPARE(runMkimglib({QStringLiteral("write"), QStringLiteral("--pe32plus"), wide, source.path()}).exitCode, 0);
    QFile w(wide);
    QVERIFY(w.open(QIODevice::ReadOnly));
    const QByteArray bytes = w.readAll();
    QCOMPARE(get16(bytes, layoutOf(bytes).pe + 4), 0x8664u);
    QCOMPARE(ImageLibrary::fromData(bytes)->names().size(), 5);
}

void tst_ImageLibrary::mkimglibErrors_data()
{
    QTest::addColumn<QStringList>("files");     // name=content written into a fresh folder
    QTest::addColumn<QString>("command");       // write, list or extract; "" for no arguments
    QTest::addColumn<int>("exitCode");
    QTest::addColumn<QString>("message");
    QTest::newRow("broken picture") << QStringList{QStringLiteral("good.png=png"), QStringLiteral("Broken.png=xx")}
                                    << QStringLiteral("write") << 1 << QStringLiteral("Broken.png: not a readable picture");
    QTest::newRow("two files, one name") << QStringList{QStringLiteral("a.png=png"), QStringLiteral("A.bmp=bmp")}
                                         << QStringLiteral("write") << 1 << QStringLiteral("both give the picture A");
    QTest::newRow("no pictures") << QStringList{QStringLiteral("notes.txt=xx")} << QStringLiteral("write") << 1
                                 << QStringLiteral("no PNG or BMP pictures");
    QTest::newRow("list of a damaged library") << QStringList{QStringLiteral("lib.dll=xx")} << QStringLiteral("list")
                                               << 1 << QStringLiteral("lib.dll: not a Windows program file");
    QTest::newRow("extract of a missing library") << QStringList{} << QStringLiteral("extract") << 1
                                                  << QStringLiteral("cannot be loaded");
    QTest::newRow("no command") << QStringList{} << QString() << 2 << QStringLiteral("usage: mkimglib");
    QTest::newRow("unknown command") << QStringList{} << QStringLiteral("make") << 2 << QStringLiteral("usage: mkimglib");
}

void tst_ImageLibrary::mkimglibErrors()
{
    QFETCH(QStringList, files);
    QFETCH(QString, command);
    QFETCH(int, exitCode);
    QFETCH(QString, message);
    QVERIFY2(QFile::exists(mkimglibPath()), "mkimglib is not built");
    QTemporaryDir dir;
    for (const QString &spec : files) {
        const QString name = spec.section(QLatin1Char('='), 0, 0);
        const QString content = spec.section(QLatin1Char('='), 1);
        const QString path = dir.filePath(name);
        if (content == QLatin1String("png") || content == QLatin1String("bmp")) {
            QImage image(2, 2, QImage::Format_RGB32);
            image.fill(Qt::red);
            QVERIFY(image.save(path, content.toLatin1().constData()));
        } else {
            QFile f(path);
            QVERIFY(f.open(QIODevice::WriteOnly));
            f.write(content.toLatin1());
        }
    }
    QStringList args;
    if (command == QLatin1String("write"))
        args = {command, dir.filePath(QStringLiteral("out.dll")), dir.path()};
    else if (command == QLatin1String("list"))
        args = {command, dir.filePath(QStringLiteral("lib.dll"))};
    else if (command == QLatin1String("extract"))
        args = {command, dir.filePath(QStringLiteral("missing.dll")), dir.filePath(QStringLiteral("out"))};
    else if (!command.isEmpty())
        args = {command};
    const ToolRun r = runMkimglib(args);
    QCOMPARE(r.exitCode, exitCode);
    QVERIFY2(r.err.contains(message), qPrintable(r.err));
    if (command == QLatin1String("write"))
        QVERIFY(!QFile::exists(dir.filePath(QStringLiteral("out.dll"))));
}

void tst_ImageLibrary::demoLibrary()
{
    // The demo installation made at build time: every picture the shell asks for, in the sizes
    // its Main.ini expects.
    QString error;
    const auto lib = ImageLibrary::load(QStringLiteral(ORSA_BINARY_DIR "/demo/MainImg.dll"), &error);
    QVERIFY2(lib, qPrintable(error));
    const QList<QPair<QString, QSize>> sizes{
        {QStringLiteral("MAIN"), {640, 160}}, {QStringLiteral("LOGIN"), {360, 200}},
        {QStringLiteral("SPLASH"), {537, 284}}, {QStringLiteral("SMASK"), {537, 284}}};
    for (const auto &[name, size] : sizes)
        QCOMPARE(lib->bitmap(name).size(), size);
    for (const char *id : {"ORSA_A", "ORSA_B", "ORSA_C", "ORSA_D"})
        for (const char *variant : {"", "A", "D"})
            QCOMPARE(lib->bitmap(QLatin1String(id) + QLatin1String(variant)).size(), QSize(96, 40));

    const QImage mask = lib->bitmap(QStringLiteral("SMASK"));
    QCOMPARE(mask.format(), QImage::Format_Mono);
    QCOMPARE(mask.pixelIndex(0, 0), 1);          // rounded corner cut away
    QCOMPARE(mask.pixelIndex(268, 142), 0);      // the middle belongs to the window
    QCOMPARE(mask.pixelIndex(536, 283), 1);

    // the status labels sit on the bottom 25 rows of MAIN: a plain strip
    const QImage main = lib->bitmap(QStringLiteral("MAIN"));
    for (int y = 135; y < 160; ++y)
        for (int x = 0; x < 640; ++x)
            QCOMPARE(main.pixel(x, y), main.pixel(0, 159));

    const ProfileFile ini(QStringLiteral(ORSA_BINARY_DIR "/demo/Main.ini"));
    QVERIFY(ini.exists());
    QCOMPARE(ini.value(QStringLiteral("MAIN"), QStringLiteral("TITLE")), QString::fromUtf8("오르사 통합시스템"));
    QCOMPARE(ini.keys(QStringLiteral("PROJECTS")),
             QString::fromUtf8("프런트,객실관리,식음료,예약,회계").split(QLatin1Char(',')));
    QCOMPARE(ini.value(QStringLiteral("LOGIN"), QStringLiteral("PASSCHANGE")), QStringLiteral("230,160,110,24"));
    QFile raw(QStringLiteral(ORSA_BINARY_DIR "/demo/Main.ini"));
    QVERIFY(raw.open(QIODevice::ReadOnly));
    QVERIFY(raw.readAll().contains(QByteArray("\xbf\xc0\xb8\xa3\xbb\xe7")));   // 오르사 in code page 949
}

QTEST_MAIN(tst_ImageLibrary)
#include "tst_imagelibrary.moc"
