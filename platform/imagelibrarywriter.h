#pragma once
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QString>

// Writes a picture library: a resource-only PE DLL holding one named bitmap resource (RT_BITMAP)
// per picture, the same kind of file a Windows resource compiler and linker make, so that it
// also serves the suite's Windows programs.
//
// Names are stored in upper case, as resource compilers store them; two pictures whose names
// differ only in case are an error. A 1-bit picture (QImage::Format_Mono or Format_MonoLSB) is
// written as a 1-bit bitmap with the palette black (bit 0) and white (bit 1): a pixel whose
// colour is light becomes 1, a dark one 0, so a mask keeps its meaning whatever the order of the
// image's colour table. Other pictures are written with 24 bits per pixel, or 32 bits with an
// alpha mask when the image has an alpha channel.

enum class PeKind {
    Pe32,       // 32-bit Windows (machine i386)
    Pe32Plus,   // 64-bit Windows (machine x86-64)
};

// Empty, with the reason, for an empty, too long or duplicate name, a null image or one too
// large for a bitmap.
QByteArray buildImageLibrary(const QList<QPair<QString, QImage>> &pictures, QString *error = nullptr,
                             PeKind kind = PeKind::Pe32);
bool writeImageLibrary(const QString &path, const QList<QPair<QString, QImage>> &pictures,
                       QString *error = nullptr, PeKind kind = PeKind::Pe32);

// The same library from packed bitmaps as they are stored in the resource (a BMP file without
// its 14-byte file header), written unchanged: for bitmaps made elsewhere.
QByteArray buildResourceLibrary(const QList<QPair<QString, QByteArray>> &packedBitmaps,
                                QString *error = nullptr, PeKind kind = PeKind::Pe32);

// The packed bitmap that buildImageLibrary stores for one image; empty for a null or too large
// image.
QByteArray encodePackedBitmap(const QImage &image);
