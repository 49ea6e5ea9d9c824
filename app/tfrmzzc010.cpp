#include "app/tfrmzzc010.h"

#include "machine/pelfunction.h"
#include "platform/appfiles.h"
#include "platform/imagelibrary.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QFont>
#include <QGuiApplication>
#include <QImage>
#include <QLabel>
#include <QList>
#include <QPair>
#include <QPalette>
#include <QPixmap>
#include <QScreen>

namespace {

constexpr int ClientWidth = 537;
constexpr int ClientHeight = 284;

QLabel *makeLabel(QWidget *parent, const QString &name, const QRect &bounds, const QFont &font,
                  const QColor &color, Qt::Alignment alignment)
{
    auto *label = new QLabel(parent);
    label->setObjectName(name);
    label->setGeometry(bounds);
    label->setFont(font);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, color);
    label->setPalette(palette);
    label->setAlignment(alignment);
    label->setAttribute(Qt::WA_TransparentForMouseEvents);
    return label;
}

} // namespace

TfrmZZC010::TfrmZZC010(QWidget *owner, const QString &libraryPath)
    : QWidget(owner, Qt::SplashScreen | Qt::FramelessWindowHint)
{
    setObjectName(QStringLiteral("frmZZC010"));
    QFont windowFont(QStringLiteral("MS Sans Serif"));
    windowFont.setPixelSize(11);
    setFont(windowFont);
    setFixedSize(ClientWidth, ClientHeight);

    m_imgImage = new QLabel(this);
    m_imgImage->setObjectName(QStringLiteral("imgImage"));
    m_imgImage->setGeometry(0, 0, ClientWidth, ClientHeight);
    m_imgImage->setAlignment(Qt::AlignLeft | Qt::AlignTop);

    QFont titleFont(QStringLiteral("바탕"));
    titleFont.setPixelSize(24);
    const Qt::Alignment right = Qt::AlignRight | Qt::AlignVCenter;
    // The shadow lies under the title, one pixel to the right and one down.
    m_lblProjectNameShadow = makeLabel(this, QStringLiteral("lblProjectNameShadow"),
                                       QRect(243, 154, 213, 24), titleFont, QColor(0x80, 0x80, 0x00),
                                       right);
    m_lblProjectName = makeLabel(this, QStringLiteral("lblProjectName"), QRect(242, 153, 213, 24),
                                 titleFont, QColor(0xFF, 0xFF, 0x00), right);
    m_lblCopyright = makeLabel(this, QStringLiteral("lblCopyright"), QRect(179, 262, 178, 11),
                               windowFont, QColor(0x00, 0x00, 0x80), Qt::AlignLeft | Qt::AlignVCenter);
    QFont versionFont = windowFont;
    versionFont.setBold(true);
    m_lblVersion = makeLabel(this, QStringLiteral("lblVersion"), QRect(340, 180, 115, 11),
                             versionFont, QColor(0xFF, 0xFF, 0xFF), right);

    FormCreate(libraryPath.isEmpty()
                   ? findAppFile(QCoreApplication::applicationDirPath(), QStringLiteral("MainImg.dll"))
                   : libraryPath);

    if (const QScreen *screen = QGuiApplication::primaryScreen()) {
        const QRect area = screen->geometry();
        move(area.left() + (area.width() - width()) / 2, area.top() + (area.height() - height()) / 2);
    }
}

TfrmZZC010::~TfrmZZC010() = default;

void TfrmZZC010::FormCreate(const QString &libraryPath)
{
    QImage maskBitmap;
    QString error;
    if (const auto library = ImageLibrary::load(libraryPath, &error)) {
        const QImage splash = library->bitmap(QStringLiteral("SPLASH"), &error);
        if (splash.isNull()) {
            m_loadError = error;
        } else {
            m_imgImage->setPixmap(QPixmap::fromImage(splash));
            maskBitmap = library->bitmap(QStringLiteral("SMASK"), &error);
            if (maskBitmap.isNull())
                m_loadError = error;
        }
    } else {
        m_loadError = error;
    }

    // Without the mask there is no outline and the splash stays hidden rather than showing a
    // bare rectangle; the title and the version are set all the same.
    m_shapeRegion = CreateMaskRegion(maskBitmap, height());
    if (!m_shapeRegion.isEmpty())
        setMask(m_shapeRegion);

    m_lblProjectName->setText(defaultApplicationTitle(QCoreApplication::applicationFilePath()));
    m_lblProjectNameShadow->setText(m_lblProjectName->text());
    m_lblVersion->setText(GetVersionText());
    m_lblCopyright->setText(QStringLiteral("Copyright (C) 2025 Orsa"));
    m_lblCopyright->adjustSize();
}

void TfrmZZC010::setVisible(bool visible)
{
    if (visible && m_shapeRegion.isEmpty())
        return;
    QWidget::setVisible(visible);
}

QRegion TfrmZZC010::CreateMaskRegion(const QImage &maskBitmap, int windowHeight)
{
    // The widened columns are white and rows below the window never count, so the outline is
    // the black runs of the mask's own rows inside the window. The runs are read straight from
    // the scan lines and handed to the region in its own banded form: uniting one row at a time
    // took longer than the rest of the splash together.
    if (maskBitmap.isNull())
        return QRegion();
    const int width = maskBitmap.width();
    const int height = qMin(maskBitmap.height(), windowHeight);
    const bool mono = maskBitmap.format() == QImage::Format_Mono;
    const bool monoLsb = maskBitmap.format() == QImage::Format_MonoLSB;
    const QImage colour =
        mono || monoLsb ? QImage() : maskBitmap.convertToFormat(QImage::Format_ARGB32);
    auto black = [&](const uchar *line, int x) {
        if (mono)
            return ((line[x >> 3] >> (7 - (x & 7))) & 1) == 0;
        if (monoLsb)
            return ((line[x >> 3] >> (x & 7)) & 1) == 0;
        return qGray(reinterpret_cast<const QRgb *>(line)[x]) < 128;
    };

    // A band is a run of rows with the same black runs; the region's canonical form holds each
    // band once, as united rows would give it.
    QList<QRect> rects;
    QList<QPair<int, int>> bandRuns;
    QList<QPair<int, int>> rowRuns;
    int bandTop = 0;
    auto closeBand = [&](int bottom) {
        for (const auto &run : std::as_const(bandRuns))
            rects.append(QRect(run.first, bandTop, run.second - run.first, bottom - bandTop));
        bandRuns.clear();
    };
    for (int y = 0; y < height; ++y) {
        const uchar *line = mono || monoLsb ? maskBitmap.constScanLine(y) : colour.constScanLine(y);
        rowRuns.clear();
        for (int x = 0; x < width;) {
            if (!black(line, x)) {
                ++x;
                continue;
            }
            const int start = x;
            while (x < width && black(line, x))
                ++x;
            rowRuns.append({start, x});
        }
        if (rowRuns != bandRuns || bandRuns.isEmpty()) {
            closeBand(y);
            bandRuns = rowRuns;
            bandTop = y;
        }
    }
    closeBand(height);

    QRegion region;
    if (!rects.isEmpty())
        region.setRects(rects.constData(), int(rects.size()));
    return region;
}

int TfrmZZC010::GetMaskBit(const QByteArray &bits, int x, int y, int width, int windowHeight)
{
    if (x < 0 || y < 0 || x > width - 1 || y > windowHeight - 1)
        return 1;
    const qint64 i = qint64(y) * width + x;
    if (i / 8 >= bits.size())
        return 1;
    return GetBit(quint8(bits.at(i / 8)), int(i % 8));
}

int TfrmZZC010::GetBit(quint8 byte, int n)
{
    if (n < 0 || n > 7)
        return 1;
    return (byte >> (7 - n)) & 1;
}

QString TfrmZZC010::defaultApplicationTitle(const QString &executablePath)
{
    QString name = QFileInfo(executablePath).fileName();
    const int dot = name.indexOf(QLatin1Char('.'));
    if (dot >= 0)
        name.truncate(dot);
    if (name.isEmpty())
        return name;
    return name.left(1) + name.mid(1).toLower();
}
