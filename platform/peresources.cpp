#include "peresources.h"

#include <QSet>

#include <limits>

namespace PeResources {
namespace {

constexpr int MaxSections = 96;                 // the loader's own limit
constexpr int MaxEntriesPerDirectory = 65536;
constexpr int MaxNameLength = 1024;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

// A bounds-checked little-endian view of a byte range.
class Reader
{
public:
    Reader(const char *data, qint64 size) : m_data(data), m_size(size) {}

    qint64 size() const { return m_size; }
    // True when [offset, offset + length) lies inside the range; safe against overflow.
    bool has(qint64 offset, qint64 length) const
    {
        return offset >= 0 && length >= 0 && offset <= m_size && length <= m_size - offset;
    }
    quint8 u8(qint64 at) const { return quint8(m_data[at]); }
    quint16 u16(qint64 at) const { return quint16(u8(at) | (quint16(u8(at + 1)) << 8)); }
    quint32 u32(qint64 at) const
    {
        return quint32(u16(at)) | (quint32(u16(at + 2)) << 16);
    }
    qint32 i32(qint64 at) const { return qint32(u32(at)); }
    const char *at(qint64 offset) const { return m_data + offset; }

private:
    const char *m_data;
    qint64 m_size;
};

struct Section
{
    quint32 virtualAddress;
    quint32 length;       // bytes of the section present in the file and mapped
    quint32 rawOffset;
};

// The file offset of an RVA range that lies inside one section; -1 otherwise.
qint64 fileOffset(const QList<Section> &sections, quint32 rva, qint64 length)
{
    for (const Section &s : sections) {
        if (rva < s.virtualAddress)
            continue;
        const qint64 inside = qint64(rva) - s.virtualAddress;
        if (inside <= s.length && length <= qint64(s.length) - inside)
            return qint64(s.rawOffset) + inside;
    }
    return -1;
}

// The bytes of the section from that RVA to its end; 0 when the RVA is in no section.
qint64 spanFrom(const QList<Section> &sections, quint32 rva)
{
    for (const Section &s : sections) {
        if (rva >= s.virtualAddress && qint64(rva) - s.virtualAddress < s.length)
            return qint64(s.length) - (qint64(rva) - s.virtualAddress);
    }
    return 0;
}

struct DirectoryEntry
{
    bool named;
    quint32 nameOrId;     // offset of the name string, or the id
    bool subdirectory;
    quint32 target;       // offset of the subdirectory or of the data entry
};

class ResourceTree
{
public:
    ResourceTree(const Reader &tree, QString *error) : m_tree(tree), m_error(error) {}

    bool entries(quint32 offset, QList<DirectoryEntry> *out)
    {
        if (m_visited.contains(offset)) {
            setError(m_error, QStringLiteral("the resource directory refers to itself"));
            return false;
        }
        m_visited.insert(offset);
        if (!m_tree.has(offset, 16)) {
            setError(m_error, QStringLiteral("a resource directory lies outside the file"));
            return false;
        }
        const int count = m_tree.u16(offset + 12) + m_tree.u16(offset + 14);
        if (count > MaxEntriesPerDirectory || !m_tree.has(qint64(offset) + 16, qint64(count) * 8)) {
            setError(m_error, QStringLiteral("a resource directory's entries lie outside the file"));
            return false;
        }
        out->clear();
        out->reserve(count);
        for (int i = 0; i < count; ++i) {
            const qint64 at = qint64(offset) + 16 + 8 * i;
            const quint32 first = m_tree.u32(at);
            const quint32 second = m_tree.u32(at + 4);
            out->append({(first & 0x80000000u) != 0, first & 0x7fffffffu,
                         (second & 0x80000000u) != 0, second & 0x7fffffffu});
        }
        return true;
    }

    bool name(quint32 offset, QString *out)
    {
        if (!m_tree.has(offset, 2)) {
            setError(m_error, QStringLiteral("a resource name lies outside the file"));
            return false;
        }
        const int length = m_tree.u16(offset);
        if (length > MaxNameLength || !m_tree.has(qint64(offset) + 2, qint64(length) * 2)) {
            setError(m_error, QStringLiteral("a resource name lies outside the file"));
            return false;
        }
        QString text(length, Qt::Uninitialized);
        for (int i = 0; i < length; ++i)
            text[i] = QChar(m_tree.u16(qint64(offset) + 2 + 2 * i));
        *out = text;
        return true;
    }

private:
    const Reader &m_tree;
    QString *m_error;
    QSet<quint32> m_visited;
};

} // namespace

bool readNamedResources(const QByteArray &file, quint32 type, QList<NamedResource> *resources,
                        QString *error)
{
    resources->clear();
    const Reader f(file.constData(), file.size());
    if (!f.has(0, 64) || f.u16(0) != 0x5a4d) {
        setError(error, QStringLiteral("not a Windows program file (no MZ header)"));
        return false;
    }
    const qint64 pe = f.u32(0x3c);
    if (!f.has(pe, 24) || f.u32(pe) != 0x00004550) {
        setError(error, QStringLiteral("not a PE image (no PE signature)"));
        return false;
    }
    const int sectionCount = f.u16(pe + 6);
    const qint64 optionalSize = f.u16(pe + 20);
    const qint64 optional = pe + 24;
    if (sectionCount > MaxSections) {
        setError(error, QStringLiteral("the image declares %1 sections").arg(sectionCount));
        return false;
    }
    if (!f.has(optional, optionalSize) || optionalSize < 2) {
        setError(error, QStringLiteral("the optional header lies outside the file"));
        return false;
    }
    const quint16 magic = f.u16(optional);
    qint64 countAt;
    qint64 directoriesAt;
    if (magic == 0x10b) {
        countAt = 92;
        directoriesAt = 96;
    } else if (magic == 0x20b) {
        countAt = 108;
        directoriesAt = 112;
    } else {
        setError(error, QStringLiteral("unknown optional header (magic 0x%1)").arg(magic, 0, 16));
        return false;
    }
    if (optionalSize < countAt + 4) {
        setError(error, QStringLiteral("the optional header is too short"));
        return false;
    }
    const quint32 directoryCount = f.u32(optional + countAt);

    const qint64 sectionTable = optional + optionalSize;
    if (!f.has(sectionTable, qint64(sectionCount) * 40)) {
        setError(error, QStringLiteral("the section table lies outside the file"));
        return false;
    }
    QList<Section> sections;
    for (int i = 0; i < sectionCount; ++i) {
        const qint64 at = sectionTable + 40 * i;
        const quint32 virtualSize = f.u32(at + 8);
        const quint32 virtualAddress = f.u32(at + 12);
        const quint32 rawSize = f.u32(at + 16);
        const quint32 rawOffset = f.u32(at + 20);
        // Only what is both mapped and present in the file can be read; a section whose raw
        // data runs past the end of the file is cut at the end.
        qint64 length = virtualSize == 0 ? rawSize : qMin(virtualSize, rawSize);
        if (rawOffset >= f.size())
            length = 0;
        else
            length = qMin<qint64>(length, f.size() - rawOffset);
        sections.append({virtualAddress, quint32(length), rawOffset});
    }

    // No resource directory: a sound image that holds no pictures.
    if (directoryCount <= 2 || optionalSize < directoriesAt + 3 * 8)
        return true;
    const quint32 treeRva = f.u32(optional + directoriesAt + 16);
    const quint32 treeSize = f.u32(optional + directoriesAt + 20);
    if (treeRva == 0 && treeSize == 0)
        return true;
    const qint64 treeAt = fileOffset(sections, treeRva, 16);
    if (treeAt < 0) {
        setError(error, QStringLiteral("the resource directory lies outside every section"));
        return false;
    }
    // Links inside the tree are relative to its start and may reach to the end of its section.
    const Reader tree(f.at(treeAt), spanFrom(sections, treeRva));
    ResourceTree walker(tree, error);

    QList<DirectoryEntry> types;
    if (!walker.entries(0, &types))
        return false;
    for (const DirectoryEntry &typeEntry : types) {
        if (typeEntry.named || typeEntry.nameOrId != type)
            continue;
        if (!typeEntry.subdirectory) {
            setError(error, QStringLiteral("a resource type has no directory"));
            return false;
        }
        QList<DirectoryEntry> names;
        if (!walker.entries(typeEntry.target, &names))
            return false;
        for (const DirectoryEntry &nameEntry : names) {
            if (!nameEntry.named)
                continue;
            NamedResource resource;
            if (!walker.name(nameEntry.nameOrId, &resource.name))
                return false;
            quint32 dataEntry = nameEntry.target;
            if (nameEntry.subdirectory) {
                QList<DirectoryEntry> languages;
                if (!walker.entries(nameEntry.target, &languages))
                    return false;
                bool found = false;
                for (const DirectoryEntry &language : languages) {
                    if (!language.subdirectory) {
                        dataEntry = language.target;
                        found = true;
                        break;
                    }
                }
                if (!found)
                    continue;   // a name without data: as if absent
            }
            if (!tree.has(dataEntry, 16)) {
                setError(error, QStringLiteral("the data entry of resource \"%1\" lies outside the file")
                                    .arg(resource.name));
                return false;
            }
            const quint32 dataRva = tree.u32(dataEntry);
            const quint32 dataSize = tree.u32(qint64(dataEntry) + 4);
            if (dataSize > MaxPayloadSize) {
                setError(error, QStringLiteral("resource \"%1\" declares %2 bytes")
                                    .arg(resource.name)
                                    .arg(dataSize));
                return false;
            }
            const qint64 offset = fileOffset(sections, dataRva, dataSize);
            if (offset < 0) {
                setError(error, QStringLiteral("the data of resource \"%1\" lies outside the file")
                                    .arg(resource.name));
                return false;
            }
            resource.offset = offset;
            resource.size = dataSize;
            resources->append(resource);
        }
        break;   // the first directory of the type is the one the loader uses
    }
    return true;
}

namespace {

// One channel of a bit-field pixel, widened to 8 bits by repeating its bits, as GDI does
// (5 bits 10000 give 132, 11111 give 255).
struct Channel
{
    quint32 mask = 0;
    int shift = 0;
    int bits = 0;

    explicit Channel(quint32 m = 0) : mask(m)
    {
        if (!mask)
            return;
        while (!((mask >> shift) & 1))
            ++shift;
        while (bits + shift < 32 && ((mask >> (shift + bits)) & 1))
            ++bits;
    }
    int value(quint32 pixel) const
    {
        if (!bits)
            return 0;
        quint32 v = (pixel >> shift) & ((bits >= 32) ? 0xffffffffu : ((1u << bits) - 1));
        if (bits >= 8)
            return int(v >> (bits - 8));
        quint32 out = 0;
        int filled = 0;
        while (filled < 8) {
            out = (out << bits) | v;
            filled += bits;
        }
        return int(out >> (filled - 8));
    }
};

} // namespace

QImage decodePackedBitmap(const char *data, qint64 size, QString *error)
{
    const Reader d(data, size);
    if (!d.has(0, 4)) {
        setError(error, QStringLiteral("the bitmap is empty"));
        return {};
    }
    const quint32 headerSize = d.u32(0);
    qint64 width;
    qint64 height;
    int bpp;
    quint32 compression = 0;
    quint32 coloursUsed = 0;
    int paletteEntrySize = 4;
    quint32 masks[4] = {0, 0, 0, 0};
    qint64 afterHeader = headerSize;
    if (headerSize == 12) {
        if (!d.has(0, 12)) {
            setError(error, QStringLiteral("the bitmap header is cut short"));
            return {};
        }
        width = d.u16(4);
        height = d.u16(6);
        bpp = d.u16(10);
        paletteEntrySize = 3;
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 24) {
            setError(error, QStringLiteral("%1 bits per pixel in an old-style bitmap").arg(bpp));
            return {};
        }
    } else if (headerSize >= 40 && headerSize <= 4096) {
        if (!d.has(0, headerSize)) {
            setError(error, QStringLiteral("the bitmap header is cut short"));
            return {};
        }
        width = d.i32(4);
        height = d.i32(8);
        bpp = d.u16(14);
        compression = d.u32(16);
        coloursUsed = d.u32(32);
        if (compression == 3 || compression == 6) {
            const int maskCount = compression == 6 ? 4 : 3;
            if (headerSize >= 52) {
                // The masks are part of the header; a V4 or V5 header also has the alpha mask.
                for (int i = 0; i < 3; ++i)
                    masks[i] = d.u32(40 + 4 * i);
                if (headerSize >= 56)
                    masks[3] = d.u32(52);
            } else {
                if (!d.has(40, maskCount * 4)) {
                    setError(error, QStringLiteral("the bitmap's colour masks are cut short"));
                    return {};
                }
                for (int i = 0; i < maskCount; ++i)
                    masks[i] = d.u32(40 + 4 * i);
                afterHeader += maskCount * 4;
            }
            if (bpp != 16 && bpp != 32) {
                setError(error, QStringLiteral("colour masks with %1 bits per pixel").arg(bpp));
                return {};
            }
        } else if (compression != 0) {
            setError(error, QStringLiteral("compressed bitmaps (method %1) are not supported")
                                .arg(compression));
            return {};
        } else if (bpp == 16) {
            masks[0] = 0x7c00;
            masks[1] = 0x03e0;
            masks[2] = 0x001f;
        } else if (bpp == 32) {
            masks[0] = 0x00ff0000;
            masks[1] = 0x0000ff00;
            masks[2] = 0x000000ff;
        }
        if (bpp != 1 && bpp != 4 && bpp != 8 && bpp != 16 && bpp != 24 && bpp != 32) {
            setError(error, QStringLiteral("%1 bits per pixel").arg(bpp));
            return {};
        }
    } else {
        setError(error, QStringLiteral("unknown bitmap header (%1 bytes)").arg(headerSize));
        return {};
    }

    const bool topDown = height < 0;
    if (topDown)
        height = -height;
    if (width <= 0 || height <= 0 || width > MaxBitmapSide || height > MaxBitmapSide
        || width * height > MaxBitmapPixels) {
        setError(error, QStringLiteral("the bitmap's size %1 x %2 is out of range")
                            .arg(width)
                            .arg(topDown ? -height : height));
        return {};
    }

    qint64 paletteCount = 0;
    if (bpp <= 8)
        paletteCount = coloursUsed ? coloursUsed : (qint64(1) << bpp);
    else
        paletteCount = coloursUsed;   // an optional palette that the pixels do not use
    if (paletteCount > 65536 || !d.has(afterHeader, paletteCount * paletteEntrySize)) {
        setError(error, QStringLiteral("the bitmap's palette lies outside its data"));
        return {};
    }
    const qint64 paletteAt = afterHeader;
    const qint64 bitsAt = afterHeader + paletteCount * paletteEntrySize;
    const qint64 stride = ((width * bpp + 31) / 32) * 4;
    if (!d.has(bitsAt, stride * height)) {
        setError(error, QStringLiteral("the bitmap's pixels (%1 x %2, %3 bits) exceed its data")
                            .arg(width)
                            .arg(height)
                            .arg(bpp));
        return {};
    }

    QList<QRgb> palette;
    if (bpp <= 8) {
        const int used = int(qMin<qint64>(paletteCount, qint64(1) << bpp));
        for (int i = 0; i < used; ++i) {
            const qint64 at = paletteAt + qint64(i) * paletteEntrySize;
            palette.append(qRgb(d.u8(at + 2), d.u8(at + 1), d.u8(at)));
        }
        // Indexes beyond a short palette show black.
        while (palette.size() < (1 << bpp))
            palette.append(qRgb(0, 0, 0));
    }

    const int w = int(width);
    const int h = int(height);
    auto row = [&](int y) { return bitsAt + stride * (topDown ? y : h - 1 - y); };

    if (bpp == 1) {
        QImage image(w, h, QImage::Format_Mono);
        if (image.isNull()) {
            setError(error, QStringLiteral("out of memory for a %1 x %2 bitmap").arg(w).arg(h));
            return {};
        }
        image.setColorTable(palette);
        const int bytes = (w + 7) / 8;
        const uchar lastMask = uchar(0xff << ((8 - w % 8) % 8));
        for (int y = 0; y < h; ++y) {
            uchar *line = image.scanLine(y);
            memcpy(line, d.at(row(y)), size_t(bytes));
            line[bytes - 1] &= lastMask;
        }
        return image;
    }

    const bool alpha = masks[3] != 0 && bpp >= 16;
    QImage image(w, h, alpha ? QImage::Format_ARGB32 : QImage::Format_RGB32);
    if (image.isNull()) {
        setError(error, QStringLiteral("out of memory for a %1 x %2 bitmap").arg(w).arg(h));
        return {};
    }
    const Channel red(masks[0]), green(masks[1]), blue(masks[2]), alphaChannel(masks[3]);
    for (int y = 0; y < h; ++y) {
        const qint64 at = row(y);
        QRgb *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < w; ++x) {
            switch (bpp) {
            case 4:
                line[x] = palette.at((d.u8(at + x / 2) >> (x % 2 ? 0 : 4)) & 0x0f);
                break;
            case 8:
                line[x] = palette.at(d.u8(at + x));
                break;
            case 24:
                line[x] = qRgb(d.u8(at + 3 * x + 2), d.u8(at + 3 * x + 1), d.u8(at + 3 * x));
                break;
            default: {
                const quint32 pixel = bpp == 16 ? d.u16(at + 2 * x) : d.u32(at + 4 * qint64(x));
                line[x] = qRgba(red.value(pixel), green.value(pixel), blue.value(pixel),
                                alpha ? alphaChannel.value(pixel) : 255);
            }
            }
        }
    }
    return image;
}

} // namespace PeResources
