#pragma once
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QtGlobal>

// The resource part of a Windows PE image (PE32 or PE32+), read without loading the image: the
// picture library of the suite is such a file. Every offset, size, count and directory link
// is checked against the file, so a damaged or hostile file gives an error text and never a
// read outside the buffer, an endless walk or a huge allocation.
namespace PeResources {

// Resource type of a bitmap (RT_BITMAP).
constexpr quint32 TypeBitmap = 2;

// The largest resource payload and bitmap accepted. The suite's pictures are a few hundred
// kilobytes; these limits only keep a hostile file from making us allocate gigabytes.
constexpr qint64 MaxPayloadSize = 64 * 1024 * 1024;
constexpr int MaxBitmapSide = 16384;
constexpr qint64 MaxBitmapPixels = qint64(1) << 24;

struct NamedResource
{
    QString name;        // as stored in the file
    qint64 offset = 0;   // of the payload in the file
    qint64 size = 0;
};

// The resources of one type that carry a name (not a number), in the order of the file, each
// with its first language. False, with the reason, when the file is not a sound PE image or its
// resource tree is damaged. A sound image without resources gives true and an empty list.
bool readNamedResources(const QByteArray &file, quint32 type, QList<NamedResource> *resources,
                        QString *error);

// A packed bitmap (the payload of a bitmap resource: a BMP file without its 14-byte file
// header), with 1, 4, 8, 16, 24 or 32 bits per pixel, uncompressed (BI_RGB) or with bit fields
// (BI_BITFIELDS, BI_ALPHABITFIELDS), rows bottom-up or top-down. A 1-bit bitmap gives a
// Format_Mono image whose pixel indexes are the bitmap's bits and whose colour table is its
// palette; every other depth Format_RGB32, or Format_ARGB32 when the header names an alpha
// mask. A null image and the reason for anything else.
QImage decodePackedBitmap(const char *data, qint64 size, QString *error);

} // namespace PeResources
