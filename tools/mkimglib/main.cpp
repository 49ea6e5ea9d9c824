// mkimglib: the picture library tool for the demo, the tests and the staff who maintain the
// pictures of the suite.
//
//   mkimglib write [--pe32plus] OUT.dll DIR   one bitmap per PNG or BMP file of DIR
//   mkimglib list LIB.dll                     name, size and bits per pixel of every picture
//   mkimglib extract LIB.dll DIR              every picture as DIR/NAME.png
//
// Exit code 0 on success, 1 when a file cannot be read or written, 2 for a wrong command line.

#include "platform/imagelibrary.h"
#include "platform/imagelibrarywriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QGuiApplication>
#include <QHash>
#include <QImageReader>
#include <QImageWriter>

#include <cstdio>

namespace {

void say(FILE *stream, const QString &text)
{
    std::fputs(text.toLocal8Bit().constData(), stream);
    std::fputc('\n', stream);
}

int usage()
{
    say(stderr, QStringLiteral("usage: mkimglib write [--pe32plus] OUT.dll DIR\n"
                               "       mkimglib list LIB.dll\n"
                               "       mkimglib extract LIB.dll DIR"));
    return 2;
}

bool isBlackAndWhite(const QImage &image)
{
    for (int y = 0; y < image.height(); ++y) {
        for (int x = 0; x < image.width(); ++x) {
            const QRgb c = image.pixel(x, y);
            if (qAlpha(c) != 255)
                return false;
            const QRgb rgb = c & 0xffffff;
            if (rgb != 0 && rgb != 0xffffff)
                return false;
        }
    }
    return true;
}

int writeLibrary(const QString &out, const QString &dirPath, PeKind kind)
{
    const QDir dir(dirPath);
    if (!dir.exists()) {
        say(stderr, QStringLiteral("mkimglib: %1: no such folder").arg(dirPath));
        return 1;
    }
    // Any case of the extension counts: the pictures may come from a Windows share.
    const QFileInfoList files = dir.entryInfoList(QDir::Files, QDir::Name | QDir::IgnoreCase);
    QList<QPair<QString, QImage>> pictures;
    QHash<QString, QString> fileOfName;
    for (const QFileInfo &info : files) {
        if (info.suffix().compare(QStringLiteral("png"), Qt::CaseInsensitive) != 0
            && info.suffix().compare(QStringLiteral("bmp"), Qt::CaseInsensitive) != 0)
            continue;
        // The resource name is the file name without its extension, in upper case, as the
        // resource compiler stores it.
        const QString name = info.completeBaseName().toUpper();
        if (name.isEmpty()) {
            say(stderr, QStringLiteral("mkimglib: %1: the file name gives no picture name").arg(info.filePath()));
            return 1;
        }
        if (fileOfName.contains(name)) {
            say(stderr, QStringLiteral("mkimglib: %1 and %2 both give the picture %3")
                            .arg(fileOfName.value(name), info.filePath(), name));
            return 1;
        }
        QImageReader reader(info.filePath());
        QImage image = reader.read();
        if (image.isNull()) {
            say(stderr, QStringLiteral("mkimglib: %1: not a readable picture (%2)")
                            .arg(info.filePath(), reader.errorString()));
            return 1;
        }
        // A 1-bit picture stays 1-bit; a mask is always written as one, since the splash takes
        // its shape from the bits.
        const bool mask = name.contains(QStringLiteral("MASK"));
        if (image.depth() == 1 || mask) {
            if (mask && image.depth() != 1 && !isBlackAndWhite(image))
                say(stderr, QStringLiteral("mkimglib: %1: mask is not pure black and white; "
                                           "light pixels become white, dark ones black")
                                .arg(info.filePath()));
            image = image.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
        }
        fileOfName.insert(name, info.filePath());
        pictures.append({name, image});
    }
    if (pictures.isEmpty()) {
        say(stderr, QStringLiteral("mkimglib: %1: no PNG or BMP pictures in the folder").arg(dirPath));
        return 1;
    }
    QString error;
    if (!writeImageLibrary(out, pictures, &error, kind)) {
        say(stderr, QStringLiteral("mkimglib: %1: %2").arg(out, error));
        return 1;
    }
    say(stdout, QStringLiteral("%1: %2 pictures").arg(out).arg(pictures.size()));
    return 0;
}

std::unique_ptr<ImageLibrary> open(const QString &path)
{
    QString error;
    auto library = ImageLibrary::load(path, &error);
    if (!library)
        say(stderr, QStringLiteral("mkimglib: %1").arg(error));
    return library;
}

int listLibrary(const QString &path)
{
    const auto library = open(path);
    if (!library)
        return 1;
    int status = 0;
    for (const QString &name : library->names()) {
        QString error;
        const QImage image = library->bitmap(name, &error);
        if (image.isNull()) {
            say(stderr, QStringLiteral("mkimglib: %1: %2").arg(path, error));
            status = 1;
            continue;
        }
        say(stdout, QStringLiteral("%1\t%2x%3\t%4-bit")
                        .arg(name)
                        .arg(image.width())
                        .arg(image.height())
                        .arg(library->bitsPerPixel(name)));
    }
    return status;
}

int extractLibrary(const QString &path, const QString &dirPath)
{
    const auto library = open(path);
    if (!library)
        return 1;
    if (!QDir().mkpath(dirPath)) {
        say(stderr, QStringLiteral("mkimglib: %1: cannot create the folder").arg(dirPath));
        return 1;
    }
    int status = 0;
    for (const QString &name : library->names()) {
        QString error;
        const QImage image = library->bitmap(name, &error);
        if (image.isNull()) {
            say(stderr, QStringLiteral("mkimglib: %1: %2").arg(path, error));
            status = 1;
            continue;
        }
        const QString file = QDir(dirPath).filePath(name + QStringLiteral(".png"));
        QImageWriter writer(file, "png");
        if (!writer.write(image)) {
            say(stderr, QStringLiteral("mkimglib: %1: %2").arg(file, writer.errorString()));
            status = 1;
        }
    }
    return status;
}

} // namespace

int main(int argc, char *argv[])
{
    // Reading and writing pictures needs Qt's image plugins, not a display.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QGuiApplication app(argc, argv);
    QStringList args = app.arguments().mid(1);
    if (args.isEmpty())
        return usage();
    const QString command = args.takeFirst();
    if (command == QLatin1String("write")) {
        PeKind kind = PeKind::Pe32;
        if (!args.isEmpty() && args.first() == QLatin1String("--pe32plus")) {
            kind = PeKind::Pe32Plus;
            args.removeFirst();
        }
        if (args.size() != 2)
            return usage();
        return writeLibrary(args.at(0), args.at(1), kind);
    }
    if (command == QLatin1String("list") && args.size() == 1)
        return listLibrary(args.at(0));
    if (command == QLatin1String("extract") && args.size() == 2)
        return extractLibrary(args.at(0), args.at(1));
    return usage();
}
