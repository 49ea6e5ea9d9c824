#include "imagelibrarywriter.h"

#include <QFile>
#include <QSaveFile>
#include <QSet>

#include <algorithm>

namespace {

// The largest side and pixel count written; the reader refuses anything larger, so a library
// we write is always one we can read.
constexpr int MaxSide = 16384;
constexpr qint64 MaxPixels = qint64(1) << 24;
constexpr int MaxNameLength = 255;

constexpr quint32 SectionAlignment = 0x1000;
constexpr quint32 FileAlignment = 0x200;
constexpr quint32 ResourceRva = 0x1000;
constexpr quint16 RtBitmap = 2;
// Korean (Korea), the language of the suite's own resources.
constexpr quint16 LanguageKorean = 0x0412;

void put16(QByteArray &b, int at, quint16 v)
{
    b[at] = char(v & 0xff);
    b[at + 1] = char(v >> 8);
}

void put32(QByteArray &b, int at, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

void put64(QByteArray &b, int at, quint64 v)
{
    for (int i = 0; i < 8; ++i)
        b[at + i] = char((v >> (8 * i)) & 0xff);
}

void append16(QByteArray &b, quint16 v)
{
    b.append(char(v & 0xff));
    b.append(char(v >> 8));
}

void append32(QByteArray &b, quint32 v)
{
    for (int i = 0; i < 4; ++i)
        b.append(char((v >> (8 * i)) & 0xff));
}

quint32 alignUp(quint32 value, quint32 alignment)
{
    return (value + alignment - 1) / alignment * alignment;
}

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// BITMAPINFOHEADER (40 bytes) or BITMAPV5HEADER (124 bytes) with the alpha mask.
QByteArray infoHeader(const QImage &image, int bitsPerPixel, int colours, bool v5)
{
    const quint32 stride = alignUp(quint32(image.width()) * quint32(bitsPerPixel), 32) / 8;
    QByteArray h;
    append32(h, v5 ? 124 : 40);
    append32(h, quint32(image.width()));
    append32(h, quint32(image.height()));   // positive: bottom-up rows
    append16(h, 1);
    append16(h, quint16(bitsPerPixel));
    append32(h, v5 ? 3 : 0);                // BI_BITFIELDS : BI_RGB
    append32(h, stride * quint32(image.height()));
    append32(h, 2835);                      // 72 dpi
    append32(h, 2835);
    append32(h, quint32(colours));
    append32(h, 0);
    if (v5) {
        append32(h, 0x00ff0000);
        append32(h, 0x0000ff00);
        append32(h, 0x000000ff);
        append32(h, 0xff000000);
        append32(h, 0x73524742);            // LCS_sRGB
        h.append(QByteArray(36 + 12, '\0'));   // end points and gamma, unused for sRGB
        append32(h, 4);                     // LCS_GM_IMAGES
        append32(h, 0);
        append32(h, 0);
        append32(h, 0);
    }
    return h;
}

struct Resource
{
    QString name;   // upper case
    QByteArray data;
};

QByteArray buildResourceSection(const QList<Resource> &resources)
{
    // Layout: root directory (one id entry, RT_BITMAP), the type directory (one named entry per
    // resource), one language directory per resource, the data entries, the name strings, then
    // the data itself, each piece 8-byte aligned.
    const int n = resources.size();
    const quint32 rootSize = 16 + 8;
    const quint32 typeSize = 16 + 8 * quint32(n);
    const quint32 languageSize = 16 + 8;
    const quint32 typeAt = rootSize;
    const quint32 languagesAt = typeAt + typeSize;
    const quint32 dataEntriesAt = languagesAt + languageSize * quint32(n);
    quint32 namesAt = dataEntriesAt + 16 * quint32(n);

    QByteArray s(int(namesAt), '\0');
    // root
    put16(s, 14, 1);
    put32(s, 16, RtBitmap);
    put32(s, 20, 0x80000000u | typeAt);
    // type directory
    put16(s, int(typeAt) + 12, quint16(n));

    QList<quint32> nameOffsets;
    for (const Resource &r : resources) {
        nameOffsets.append(quint32(s.size()));
        append16(s, quint16(r.name.size()));
        for (QChar c : r.name)
            append16(s, c.unicode());
    }
    while (s.size() % 8)
        s.append('\0');

    QList<quint32> dataRvas;
    for (const Resource &r : resources) {
        dataRvas.append(ResourceRva + quint32(s.size()));
        s.append(r.data);
        while (s.size() % 8)
            s.append('\0');
    }

    for (int i = 0; i < n; ++i) {
        const int entry = int(typeAt) + 16 + 8 * i;
        const quint32 languageAt = languagesAt + languageSize * quint32(i);
        put32(s, entry, 0x80000000u | nameOffsets.at(i));
        put32(s, entry + 4, 0x80000000u | languageAt);
        put16(s, int(languageAt) + 14, 1);
        put32(s, int(languageAt) + 16, LanguageKorean);
        const quint32 dataEntry = dataEntriesAt + 16 * quint32(i);
        put32(s, int(languageAt) + 20, dataEntry);
        put32(s, int(dataEntry), dataRvas.at(i));
        put32(s, int(dataEntry) + 4, quint32(resources.at(i).data.size()));
    }
    return s;
}

// The checksum the Windows image loader checks for drivers and that tools show: the 16-bit
// one's-complement sum of the file with the checksum field taken as zero, plus the file size.
quint32 peChecksum(const QByteArray &file, int checksumAt)
{
    quint64 sum = 0;
    for (int i = 0; i + 1 < file.size(); i += 2) {
        if (i == checksumAt || i == checksumAt + 2)
            continue;
        sum += quint8(file.at(i)) | (quint16(quint8(file.at(i + 1))) << 8);
        sum = (sum & 0xffff) + (sum >> 16);
    }
    if (file.size() % 2)
        sum += quint8(file.at(file.size() - 1));
    sum = (sum & 0xffff) + (sum >> 16);
    sum = (sum & 0xffff) + (sum >> 16);
    return quint32(sum) + quint32(file.size());
}

QByteArray buildPe(const QByteArray &section, PeKind kind)
{
    const bool plus = kind == PeKind::Pe32Plus;
    const quint32 peAt = 0x80;
    const quint32 optionalSize = plus ? 240 : 224;
    const quint32 optionalAt = peAt + 24;
    const quint32 sectionTableAt = optionalAt + optionalSize;
    const quint32 headersSize = alignUp(sectionTableAt + 40, FileAlignment);
    const quint32 rawSize = alignUp(quint32(section.size()), FileAlignment);
    const quint32 imageSize = ResourceRva + alignUp(quint32(section.size()), SectionAlignment);

    QByteArray f(int(headersSize), '\0');
    // DOS header with the customary stub that explains itself when run under DOS.
    f[0] = 'M';
    f[1] = 'Z';
    put16(f, 0x02, 0x90);
    put16(f, 0x04, 3);
    put16(f, 0x08, 4);
    put16(f, 0x0c, 0xffff);
    put16(f, 0x10, 0xb8);
    put16(f, 0x18, 0x40);
    put32(f, 0x3c, peAt);
    static const unsigned char stub[] = {0x0e, 0x1f, 0xba, 0x0e, 0x00, 0xb4, 0x09, 0xcd,
                                         0x21, 0xb8, 0x01, 0x4c, 0xcd, 0x21};
    for (size_t i = 0; i < sizeof stub; ++i)
        f[int(0x40 + i)] = char(stub[i]);
    const QByteArray message("This program cannot be run in DOS mode.\r\r\n$");
    f.replace(0x4e, message.size(), message);

    f.replace(int(peAt), 4, QByteArray("PE\0\0", 4));
    const int coff = int(peAt) + 4;
    put16(f, coff, plus ? 0x8664 : 0x014c);
    put16(f, coff + 2, 1);                  // one section
    put16(f, coff + 16, quint16(optionalSize));
    // executable image, line numbers and local symbols stripped, DLL; 32-bit machine for PE32,
    // large-address aware for PE32+
    put16(f, coff + 18, plus ? 0x202e : 0x210e);

    const int o = int(optionalAt);
    put16(f, o, plus ? 0x20b : 0x10b);
    f[o + 2] = 2;                           // linker version 2.40
    f[o + 3] = 40;
    put32(f, o + 8, rawSize);               // initialised data
    put32(f, o + 20, ResourceRva);          // base of code (there is none)
    int next;
    if (plus) {
        put64(f, o + 24, 0x180000000ull);
        next = o + 32;
    } else {
        put32(f, o + 24, ResourceRva);      // base of data
        put32(f, o + 28, 0x10000000u);
        next = o + 32;
    }
    put32(f, next, SectionAlignment);
    put32(f, next + 4, FileAlignment);
    put16(f, next + 8, plus ? 5 : 4);       // operating-system version
    put16(f, next + 16, plus ? 5 : 4);      // subsystem version
    put32(f, next + 24, imageSize);
    put32(f, next + 28, headersSize);
    const int checksumAt = next + 32;
    put16(f, next + 36, 2);                 // Windows GUI subsystem
    if (plus) {
        put64(f, next + 40, 0x200000);
        put64(f, next + 48, 0x1000);
        put64(f, next + 56, 0x100000);
        put64(f, next + 64, 0x1000);
        put32(f, next + 76, 16);
    } else {
        put32(f, next + 40, 0x200000);
        put32(f, next + 44, 0x1000);
        put32(f, next + 48, 0x100000);
        put32(f, next + 52, 0x1000);
        put32(f, next + 60, 16);
    }
    const int directories = plus ? o + 112 : o + 96;
    put32(f, directories + 2 * 8, ResourceRva);
    put32(f, directories + 2 * 8 + 4, quint32(section.size()));

    const int sh = int(sectionTableAt);
    f.replace(sh, 5, QByteArray(".rsrc"));
    put32(f, sh + 8, quint32(section.size()));
    put32(f, sh + 12, ResourceRva);
    put32(f, sh + 16, rawSize);
    put32(f, sh + 20, headersSize);
    put32(f, sh + 36, 0x40000040u);         // initialised data, readable

    f.append(section);
    f.append(QByteArray(int(rawSize) - section.size(), '\0'));
    put32(f, checksumAt, peChecksum(f, checksumAt));
    return f;
}

} // namespace

QByteArray encodePackedBitmap(const QImage &source)
{
    if (source.isNull() || source.width() > MaxSide || source.height() > MaxSide
        || qint64(source.width()) * source.height() > MaxPixels)
        return {};

    const int w = source.width();
    const int h = source.height();
    QByteArray dib;
    if (source.format() == QImage::Format_Mono || source.format() == QImage::Format_MonoLSB) {
        const QImage image = source.convertToFormat(QImage::Format_Mono);
        // A pixel is written as 1 (white) when its colour is light, whatever its index.
        bool lightIndex[2] = {false, true};
        const QList<QRgb> table = image.colorTable();
        for (int i = 0; i < 2 && i < table.size(); ++i)
            lightIndex[i] = qGray(table.at(i)) >= 128;
        dib = infoHeader(image, 1, 2, false);
        append32(dib, 0x00000000);
        append32(dib, 0x00ffffff);
        const int stride = int(alignUp(quint32(w), 32) / 8);
        for (int y = h - 1; y >= 0; --y) {
            const uchar *line = image.constScanLine(y);
            QByteArray row(stride, '\0');
            for (int x = 0; x < w; ++x) {
                const int index = (line[x >> 3] >> (7 - (x & 7))) & 1;
                if (lightIndex[index])
                    row[x >> 3] = char(quint8(row.at(x >> 3)) | (0x80 >> (x & 7)));
            }
            dib.append(row);
        }
        return dib;
    }

    if (source.hasAlphaChannel()) {
        const QImage image = source.convertToFormat(QImage::Format_ARGB32);
        dib = infoHeader(image, 32, 0, true);
        for (int y = h - 1; y >= 0; --y) {
            const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
            for (int x = 0; x < w; ++x) {
                dib.append(char(qBlue(line[x])));
                dib.append(char(qGreen(line[x])));
                dib.append(char(qRed(line[x])));
                dib.append(char(qAlpha(line[x])));
            }
        }
        return dib;
    }

    const QImage image = source.convertToFormat(QImage::Format_RGB32);
    dib = infoHeader(image, 24, 0, false);
    const int padding = int(alignUp(quint32(w) * 3, 4)) - w * 3;
    for (int y = h - 1; y >= 0; --y) {
        const QRgb *line = reinterpret_cast<const QRgb *>(image.constScanLine(y));
        for (int x = 0; x < w; ++x) {
            dib.append(char(qBlue(line[x])));
            dib.append(char(qGreen(line[x])));
            dib.append(char(qRed(line[x])));
        }
        dib.append(QByteArray(padding, '\0'));
    }
    return dib;
}

QByteArray buildResourceLibrary(const QList<QPair<QString, QByteArray>> &packedBitmaps,
                                QString *error, PeKind kind)
{
    QList<Resource> resources;
    QSet<QString> seen;
    qint64 total = 0;
    for (const auto &[name, data] : packedBitmaps) {
        const QString upper = name.toUpper();
        if (upper.isEmpty()) {
            setError(error, QStringLiteral("a picture has an empty name"));
            return {};
        }
        if (upper.size() > MaxNameLength) {
            setError(error, QStringLiteral("the picture name \"%1\" is longer than %2 characters")
                                .arg(name)
                                .arg(MaxNameLength));
            return {};
        }
        if (seen.contains(upper)) {
            setError(error, QStringLiteral("two pictures are named \"%1\" (names are not case-sensitive)")
                                .arg(upper));
            return {};
        }
        if (data.isEmpty()) {
            setError(error, QStringLiteral("the picture \"%1\" has no data").arg(name));
            return {};
        }
        total += data.size();
        if (total > (qint64(1) << 30)) {
            setError(error, QStringLiteral("the pictures are too large for one library"));
            return {};
        }
        seen.insert(upper);
        resources.append({upper, data});
    }
    // Windows looks named entries up by a binary search over names in upper case, so the type
    // directory lists them in that order.
    std::sort(resources.begin(), resources.end(), [](const Resource &a, const Resource &b) {
        return a.name < b.name;
    });
    return buildPe(buildResourceSection(resources), kind);
}

QByteArray buildImageLibrary(const QList<QPair<QString, QImage>> &pictures, QString *error,
                             PeKind kind)
{
    QList<QPair<QString, QByteArray>> packed;
    for (const auto &[name, image] : pictures) {
        if (image.isNull()) {
            setError(error, QStringLiteral("the picture \"%1\" is empty").arg(name));
            return {};
        }
        const QByteArray dib = encodePackedBitmap(image);
        if (dib.isEmpty()) {
            setError(error, QStringLiteral("the picture \"%1\" (%2 x %3) is larger than a bitmap may be")
                                .arg(name)
                                .arg(image.width())
                                .arg(image.height()));
            return {};
        }
        packed.append({name, dib});
    }
    return buildResourceLibrary(packed, error, kind);
}

bool writeImageLibrary(const QString &path, const QList<QPair<QString, QImage>> &pictures,
                       QString *error, PeKind kind)
{
    const QByteArray bytes = buildImageLibrary(pictures, error, kind);
    if (bytes.isEmpty())
        return false;
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        setError(error, QStringLiteral("%1: %2").arg(path, file.errorString()));
        return false;
    }
    return true;
}
