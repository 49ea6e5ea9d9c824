// Writes the seed corpus of the picture library fuzz target: small sound libraries (PE32 and
// PE32+) with a mask, a true-colour and an alpha picture, and the same pictures as bare packed
// bitmaps.

#include "platform/imagelibrarywriter.h"

#include <QDir>
#include <QFile>
#include <QGuiApplication>

#include <cstdio>

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    if (app.arguments().size() != 2) {
        std::fprintf(stderr, "usage: fuzz_imagelibrary_seeds CORPUS_DIR\n");
        return 2;
    }
    const QDir dir(app.arguments().at(1));
    QImage mask(19, 5, QImage::Format_Mono);
    mask.fill(1);
    for (int x = 2; x < 15; ++x)
        mask.setPixel(x, 2, 0);
    QImage colour(7, 3, QImage::Format_RGB32);
    QImage alpha(4, 4, QImage::Format_ARGB32);
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 7; ++x) {
            if (y < 3)
                colour.setPixel(x, y, qRgb(x * 30, y * 80, 128));
            if (x < 4)
                alpha.setPixel(x, y, qRgba(200, x * 60, y * 60, x * 40 + y * 10));
        }
    const QList<QPair<QString, QImage>> pictures{
        {QStringLiteral("SMASK"), mask}, {QStringLiteral("MAIN"), colour}, {QStringLiteral("ORSA_A"), alpha}};

    QList<QPair<QString, QByteArray>> seeds{
        {QStringLiteral("pe32.dll"), buildImageLibrary(pictures, nullptr, PeKind::Pe32)},
        {QStringLiteral("pe32plus.dll"), buildImageLibrary(pictures, nullptr, PeKind::Pe32Plus)}};
    for (const auto &[name, image] : pictures)
        seeds.append({name.toLower() + QStringLiteral(".dib"), encodePackedBitmap(image)});
    for (const auto &[name, bytes] : seeds) {
        QFile file(dir.filePath(name));
        if (bytes.isEmpty() || !file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size()) {
            std::fprintf(stderr, "fuzz_imagelibrary_seeds: cannot write %s\n", qPrintable(file.fileName()));
            return 1;
        }
    }
    return 0;
}
