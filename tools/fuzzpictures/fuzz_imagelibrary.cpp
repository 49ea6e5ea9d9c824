// libFuzzer target for the picture library reader: the input is taken as a whole library file
// and, independently, as one packed bitmap, so both the resource tree walk and the bitmap
// decoding see hostile data. Any crash, sanitizer report or picture beyond the limits is a bug.

#include "platform/imagelibrary.h"
#include "platform/peresources.h"

#include <cstdint>
#include <cstdlib>

namespace {

void checkLimits(const QImage &image)
{
    if (image.isNull())
        return;
    if (image.width() > PeResources::MaxBitmapSide || image.height() > PeResources::MaxBitmapSide
        || qint64(image.width()) * image.height() > PeResources::MaxBitmapPixels)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray bytes = QByteArray::fromRawData(reinterpret_cast<const char *>(data), qsizetype(size));
    QString error;
    if (const auto library = ImageLibrary::fromData(bytes, &error)) {
        for (const QString &name : library->names()) {
            checkLimits(library->bitmap(name, &error));
            library->bitsPerPixel(name);
        }
    } else if (!error.startsWith(QLatin1String("cannot be loaded: "))) {
        std::abort();
    }
    checkLimits(PeResources::decodePackedBitmap(bytes.constData(), bytes.size(), &error));
    return 0;
}
