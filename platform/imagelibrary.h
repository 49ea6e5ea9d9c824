#pragma once
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QString>
#include <QStringList>
#include <memory>

// The picture library MainImg.dll: a resource-only Windows DLL whose named bitmap resources
// (RT_BITMAP) are the pictures of the shell. The suite's existing libraries are read as they
// are, so the file is parsed by our own bounds-checked reader rather than loaded as code.
//
// A damaged or hostile file never crashes the reader: load() and fromData() fail with
// "cannot be loaded", bitmap() with "picture not found", each followed by the reason.
class ImageLibrary
{
public:
    ~ImageLibrary();

    // nullptr and the error "cannot be loaded: <reason>" for a file that is missing,
    // unreadable, too large or not a sound PE image.
    static std::unique_ptr<ImageLibrary> load(const QString &path, QString *error = nullptr);
    static std::unique_ptr<ImageLibrary> fromData(const QByteArray &data, QString *error = nullptr);

    // The picture of that name, compared without regard to case (resource compilers store the
    // names in upper case). A null image and "picture not found: <name>" when the library has
    // no such bitmap or its data cannot be decoded.
    //
    // A 1-bit bitmap comes back as QImage::Format_Mono whose pixel index is the bit of the
    // bitmap (1 = white in a mask), with the bitmap's own two colours as its colour table.
    // Every other depth comes back as Format_RGB32, or Format_ARGB32 when the bitmap carries
    // an alpha mask.
    QImage bitmap(const QString &name, QString *error = nullptr) const;
    bool contains(const QString &name) const;
    // Bits per pixel as the bitmap's header gives them; 0 for an unknown name or header.
    int bitsPerPixel(const QString &name) const;
    // The names as stored, in the order of the file.
    QStringList names() const;

private:
    ImageLibrary();
    static std::unique_ptr<ImageLibrary> parse(const QByteArray &data, QString *reason);

    struct Picture
    {
        QString name;
        QString key;      // upper case, for the look-up
        qint64 offset = 0;
        qint64 size = 0;
    };
    const Picture *find(const QString &name) const;

    QByteArray m_data;
    QList<Picture> m_pictures;
};
