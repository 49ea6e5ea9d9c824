#include "imagelibrary.h"

#include "peresources.h"

#include <QFile>

namespace {

// A picture library far beyond any real one is refused before it is read into memory.
constexpr qint64 MaxLibrarySize = 256 * 1024 * 1024;

void setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
}

} // namespace

ImageLibrary::ImageLibrary() = default;
ImageLibrary::~ImageLibrary() = default;

std::unique_ptr<ImageLibrary> ImageLibrary::load(const QString &path, QString *error)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly)) {
        setError(error, QStringLiteral("cannot be loaded: %1: %2").arg(path, file.errorString()));
        return nullptr;
    }
    if (file.size() > MaxLibrarySize) {
        setError(error, QStringLiteral("cannot be loaded: %1: the file is %2 bytes long")
                            .arg(path)
                            .arg(file.size()));
        return nullptr;
    }
    const QByteArray data = file.readAll();
    if (data.size() != file.size()) {
        setError(error, QStringLiteral("cannot be loaded: %1: %2").arg(path, file.errorString()));
        return nullptr;
    }
    QString reason;
    auto library = parse(data, &reason);
    if (!library)
        setError(error, QStringLiteral("cannot be loaded: %1: %2").arg(path, reason));
    return library;
}

std::unique_ptr<ImageLibrary> ImageLibrary::fromData(const QByteArray &data, QString *error)
{
    QString reason;
    auto library = parse(data, &reason);
    if (!library)
        setError(error, QStringLiteral("cannot be loaded: ") + reason);
    return library;
}

std::unique_ptr<ImageLibrary> ImageLibrary::parse(const QByteArray &data, QString *reason)
{
    if (data.size() > MaxLibrarySize) {
        *reason = QStringLiteral("the file is %1 bytes long").arg(data.size());
        return nullptr;
    }
    QList<PeResources::NamedResource> resources;
    if (!PeResources::readNamedResources(data, PeResources::TypeBitmap, &resources, reason))
        return nullptr;
    std::unique_ptr<ImageLibrary> library(new ImageLibrary);
    library->m_data = data;
    for (const auto &resource : resources)
        library->m_pictures.append({resource.name, resource.name.toUpper(), resource.offset, resource.size});
    return library;
}

const ImageLibrary::Picture *ImageLibrary::find(const QString &name) const
{
    const QString key = name.toUpper();
    for (const Picture &picture : m_pictures) {
        if (picture.key == key)
            return &picture;
    }
    return nullptr;
}

QImage ImageLibrary::bitmap(const QString &name, QString *error) const
{
    const Picture *picture = find(name);
    if (!picture) {
        setError(error, QStringLiteral("picture not found: %1").arg(name));
        return {};
    }
    QString reason;
    QImage image = PeResources::decodePackedBitmap(m_data.constData() + picture->offset,
                                                   picture->size, &reason);
    if (image.isNull())
        setError(error, QStringLiteral("picture not found: %1: %2").arg(name, reason));
    return image;
}

bool ImageLibrary::contains(const QString &name) const
{
    return find(name) != nullptr;
}

int ImageLibrary::bitsPerPixel(const QString &name) const
{
    const Picture *picture = find(name);
    if (!picture || picture->size < 16)
        return 0;
    const auto byte = [&](qint64 i) { return quint8(m_data.at(picture->offset + i)); };
    const quint32 headerSize = byte(0) | (byte(1) << 8) | (byte(2) << 16) | (quint32(byte(3)) << 24);
    const qint64 at = headerSize == 12 ? 10 : 14;
    return byte(at) | (byte(at + 1) << 8);
}

QStringList ImageLibrary::names() const
{
    QStringList result;
    for (const Picture &picture : m_pictures)
        result.append(picture.name);
    return result;
}
