// Writes the demo installation's picture library MainImg.dll and its Main.ini (code page 949)
// into the folder given as the only argument. The pictures are drawn here so that the demo
// needs no binary files in the repository; their layout matches the positions in Main.ini.

#include "platform/cp949.h"
#include "platform/imagelibrarywriter.h"

#include <QDir>
#include <QFile>
#include <QFontInfo>
#include <QGuiApplication>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>
#include <QSaveFile>

#include <cstdio>

namespace {

const QColor Navy(0x1b, 0x2f, 0x4e);
const QColor DeepNavy(0x10, 0x1c, 0x31);
const QColor Teal(0x22, 0xa6, 0xb3);
const QColor Gold(0xf2, 0xb5, 0x44);
const QColor Strip(0xe9, 0xed, 0xf2);

QString text(const char *utf8)
{
    return QString::fromUtf8(utf8);
}

QFont font(const char *family, int pixelSize, bool bold = false)
{
    QFont f(QString::fromLatin1(family));
    f.setPixelSize(pixelSize);
    f.setBold(bold);
    f.setStyleStrategy(QFont::PreferAntialias);
    const QFontInfo info(f);
    if (!info.family().startsWith(QStringLiteral("Nanum"), Qt::CaseInsensitive))
        std::fprintf(stderr, "demopictures: font %s not found, using %s (install fonts-nanum)\n",
                     family, qPrintable(info.family()));
    return f;
}

QImage canvas(int w, int h)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(Qt::white);
    return image;
}

void prepare(QPainter &p)
{
    p.setRenderHint(QPainter::Antialiasing);
    p.setRenderHint(QPainter::TextAntialiasing);
}

// The suite's mark: a golden sun rising over two teal waves, inside a circle.
void drawMark(QPainter &p, const QRectF &r)
{
    p.save();
    QRadialGradient disc(r.center(), r.width() / 2);
    disc.setColorAt(0, QColor(0x2c, 0x4f, 0x7c));
    disc.setColorAt(1, QColor(0x17, 0x2a, 0x47));
    p.setPen(QPen(QColor(255, 255, 255, 180), r.width() / 28));
    p.setBrush(disc);
    p.drawEllipse(r);
    QPainterPath clip;
    clip.addEllipse(r.adjusted(1, 1, -1, -1));
    p.setClipPath(clip);
    p.setPen(Qt::NoPen);
    p.setBrush(Gold);
    const double s = r.width();
    p.drawEllipse(QPointF(r.center().x(), r.top() + s * 0.52), s * 0.2, s * 0.2);
    for (int i = 0; i < 2; ++i) {
        QPainterPath wave;
        const double y = r.top() + s * (0.6 + 0.13 * i);
        wave.moveTo(r.left(), y);
        for (int k = 0; k < 4; ++k) {
            const double x0 = r.left() + s * k / 4.0;
            wave.cubicTo(x0 + s / 12, y - s * 0.07, x0 + s / 6, y - s * 0.07, x0 + s / 4, y);
        }
        wave.lineTo(r.right(), r.bottom());
        wave.lineTo(r.left(), r.bottom());
        wave.closeSubpath();
        p.setBrush(i == 0 ? Teal : QColor(0x17, 0x7f, 0x92));
        p.drawPath(wave);
    }
    p.restore();
}

void drawDarkBackground(QPainter &p, const QRect &r)
{
    QLinearGradient g(r.topLeft(), r.bottomRight());
    g.setColorAt(0, QColor(0x27, 0x44, 0x6b));
    g.setColorAt(1, DeepNavy);
    p.fillRect(r, g);
    // soft light shapes, as on the suite's printed material
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 255, 255, 12));
    p.drawEllipse(QPointF(r.right() - r.width() * 0.15, r.top()), r.height() * 0.9, r.height() * 0.9);
    p.setBrush(QColor(255, 255, 255, 8));
    p.drawEllipse(QPointF(r.left() + r.width() * 0.35, r.bottom() + r.height() * 0.3),
                  r.height() * 0.8, r.height() * 0.8);
}

QImage mainBackground()
{
    QImage image = canvas(640, 160);
    QPainter p(&image);
    prepare(p);
    drawDarkBackground(p, QRect(0, 0, 640, 135));

    drawMark(p, QRectF(14, 9, 30, 30));
    p.setPen(Qt::white);
    p.setFont(font("NanumSquare", 17, true));
    p.drawText(QRect(52, 8, 150, 20), Qt::AlignLeft | Qt::AlignVCenter, text("오르사 통합시스템"));
    p.setPen(QColor(0x9f, 0xb6, 0xd3));
    QFont small = font("NanumGothic", 8);
    small.setLetterSpacing(QFont::AbsoluteSpacing, 1.0);
    p.setFont(small);
    p.drawText(QRect(53, 28, 150, 12), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("ORSA RESORT SUITE"));

    p.setPen(QColor(0xc9, 0xd6, 0xe6));
    p.setFont(font("NanumGothic", 11));
    p.drawText(QRect(16, 50, 176, 16), Qt::AlignLeft | Qt::AlignVCenter, text("업무를 선택하세요"));
    p.setPen(QPen(QColor(255, 255, 255, 40), 1));
    p.drawLine(16, 70, 188, 70);

    // the tray under the project buttons
    p.setPen(QPen(QColor(255, 255, 255, 35), 1));
    p.setBrush(QColor(255, 255, 255, 16));
    p.drawRoundedRect(QRectF(198.5, 26.5, 424, 52), 10, 10);

    // minimise and close marks under the click areas
    p.setPen(QPen(QColor(0xd8, 0xe2, 0xee), 1.6, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(600, 14), QPointF(608, 14));
    p.drawLine(QPointF(620, 10), QPointF(628, 18));
    p.drawLine(QPointF(628, 10), QPointF(620, 18));

    // a quiet line under the two push buttons of the window
    p.setPen(QPen(QColor(255, 255, 255, 30), 1));
    p.drawLine(200, 99, 440, 99);
    p.setPen(QColor(0x8d, 0xa5, 0xc4));
    p.setFont(font("NanumGothic", 10));
    p.drawText(QRect(200, 104, 240, 14), Qt::AlignCenter, text("오르사 리조트 · 고객과 함께하는 휴식"));

    // the plain strip where the status labels sit
    p.fillRect(QRect(0, 135, 640, 25), Strip);
    return image;
}

enum class ButtonState { Normal, Active, Disabled };

// The glyph of a project, drawn in a 20 x 20 box.
void drawGlyph(QPainter &p, int kind, const QRectF &r, const QColor &c)
{
    p.save();
    p.setPen(QPen(c, 1.8, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    p.setBrush(Qt::NoBrush);
    const double x = r.left(), y = r.top();
    switch (kind) {
    case 0: {   // front desk bell
        QPainterPath bell;
        bell.moveTo(x + 3, y + 15);
        bell.cubicTo(x + 3, y + 6, x + 17, y + 6, x + 17, y + 15);
        p.drawPath(bell);
        p.drawLine(QPointF(x + 1, y + 16), QPointF(x + 19, y + 16));
        p.drawLine(QPointF(x + 10, y + 4), QPointF(x + 10, y + 6.5));
        break;
    }
    case 1:     // room key
        p.drawEllipse(QRectF(x + 2, y + 2, 8, 8));
        p.drawLine(QPointF(x + 9, y + 9), QPointF(x + 18, y + 18));
        p.drawLine(QPointF(x + 14, y + 14), QPointF(x + 16.5, y + 11.5));
        p.drawLine(QPointF(x + 16, y + 16), QPointF(x + 18.5, y + 13.5));
        break;
    case 2:     // coffee cup
        p.drawRoundedRect(QRectF(x + 2, y + 7, 12, 10), 2, 2);
        p.drawArc(QRectF(x + 12, y + 9, 6, 5), -90 * 16, 180 * 16);
        p.drawLine(QPointF(x + 6, y + 2), QPointF(x + 6, y + 4.5));
        p.drawLine(QPointF(x + 10, y + 2), QPointF(x + 10, y + 4.5));
        break;
    default:    // bar chart
        p.drawLine(QPointF(x + 2, y + 18), QPointF(x + 18, y + 18));
        p.setBrush(c);
        p.setPen(Qt::NoPen);
        p.drawRect(QRectF(x + 3, y + 11, 3.5, 6));
        p.drawRect(QRectF(x + 8.5, y + 6, 3.5, 11));
        p.drawRect(QRectF(x + 14, y + 2, 3.5, 15));
        break;
    }
    p.restore();
}

QImage projectButton(const QImage &background, const QPoint &at, int kind, const QString &label,
                     const QColor &accent, ButtonState state)
{
    QImage image = background.copy(QRect(at, QSize(96, 40)));
    QPainter p(&image);
    prepare(p);
    const QRectF card(1.5, 1.5, 93, 37);
    QColor face = Qt::white;
    QColor edge = QColor(255, 255, 255, 60);
    QColor glyphBack = accent;
    QColor glyph = Qt::white;
    QColor labelColour = QColor(0x22, 0x30, 0x45);
    if (state == ButtonState::Active) {
        face = QColor(0xff, 0xfb, 0xee);
        edge = Gold;
    } else if (state == ButtonState::Disabled) {
        face = QColor(0x5a, 0x68, 0x7c);
        edge = QColor(255, 255, 255, 30);
        glyphBack = QColor(0x74, 0x81, 0x93);
        glyph = QColor(0xb5, 0xbe, 0xca);
        labelColour = QColor(0xa9, 0xb3, 0xc0);
    }
    if (state != ButtonState::Disabled) {
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(0, 0, 0, 50));
        p.drawRoundedRect(card.translated(0, 1.5), 8, 8);
    }
    QLinearGradient g(card.topLeft(), card.bottomLeft());
    g.setColorAt(0, face);
    g.setColorAt(1, face.darker(state == ButtonState::Disabled ? 110 : 106));
    p.setBrush(g);
    p.setPen(QPen(edge, state == ButtonState::Active ? 2 : 1));
    p.drawRoundedRect(card, 8, 8);

    p.setPen(Qt::NoPen);
    p.setBrush(glyphBack);
    p.drawEllipse(QRectF(7, 7, 26, 26));
    drawGlyph(p, kind, QRectF(10, 10, 20, 20), glyph);

    p.setPen(labelColour);
    p.setFont(font("NanumGothic", 12, true));
    p.drawText(QRectF(36, 1, 56, 38), Qt::AlignCenter, label);
    return image;
}

QImage loginBackground()
{
    QImage image = canvas(360, 200);
    QPainter p(&image);
    prepare(p);
    p.fillRect(image.rect(), QColor(0xf4, 0xf6, 0xfa));
    drawDarkBackground(p, QRect(0, 0, 360, 52));
    drawMark(p, QRectF(14, 11, 30, 30));
    p.setPen(Qt::white);
    p.setFont(font("NanumSquare", 16, true));
    p.drawText(QRect(52, 9, 220, 20), Qt::AlignLeft | Qt::AlignVCenter, text("오르사 통합시스템"));
    p.setPen(QColor(0xa9, 0xbf, 0xdb));
    p.setFont(font("NanumGothic", 10));
    p.drawText(QRect(53, 28, 220, 14), Qt::AlignLeft | Qt::AlignVCenter,
               text("사원번호와 비밀번호를 입력하세요"));
    // close mark under the click area 332,10,18,18
    p.setPen(QPen(QColor(0xd8, 0xe2, 0xee), 1.8, Qt::SolidLine, Qt::RoundCap));
    p.drawLine(QPointF(337, 15), QPointF(345, 23));
    p.drawLine(QPointF(345, 15), QPointF(337, 23));

    // labels and the white boxes behind the borderless edits
    p.setFont(font("NanumGothic", 12, true));
    p.setPen(QColor(0x34, 0x44, 0x5c));
    p.drawText(QRect(20, 66, 80, 28), Qt::AlignRight | Qt::AlignVCenter, text("사원번호"));
    p.drawText(QRect(20, 104, 80, 28), Qt::AlignRight | Qt::AlignVCenter, text("비밀번호"));
    p.setPen(QPen(QColor(0xbf, 0xca, 0xd8), 1));
    p.setBrush(Qt::white);
    p.drawRoundedRect(QRectF(106.5, 65.5, 157, 29), 4, 4);
    p.drawRoundedRect(QRectF(106.5, 103.5, 157, 29), 4, 4);

    // the login button under the click area 272,68,68,62
    const QRectF button(272.5, 68.5, 67, 61);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(0, 0, 0, 40));
    p.drawRoundedRect(button.translated(0, 1.5), 6, 6);
    QLinearGradient g(button.topLeft(), button.bottomLeft());
    g.setColorAt(0, QColor(0x2e, 0xb8, 0xc4));
    g.setColorAt(1, QColor(0x1a, 0x7f, 0x9c));
    p.setBrush(g);
    p.setPen(QPen(QColor(0x16, 0x6c, 0x85), 1));
    p.drawRoundedRect(button, 6, 6);
    p.setPen(Qt::white);
    p.setFont(font("NanumSquare", 14, true));
    p.drawText(button, Qt::AlignCenter, text("로그인"));

    p.setPen(QColor(0xd6, 0xdd, 0xe7));
    p.drawLine(16, 148, 344, 148);
    // the password change link under the click area 230,160,110,24
    p.setPen(QColor(0x25, 0x6c, 0xb8));
    QFont link = font("NanumGothic", 11, true);
    link.setUnderline(true);
    p.setFont(link);
    p.drawText(QRect(270, 160, 70, 24), Qt::AlignRight | Qt::AlignVCenter, text("비밀번호 변경"));
    p.setPen(QPen(QColor(0x25, 0x6c, 0xb8), 1.4));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(QRectF(258, 170, 9, 7), 1.5, 1.5);
    p.drawArc(QRectF(259.5, 164.5, 6, 8), 0, 180 * 16);
    p.setPen(QColor(0x8a, 0x97, 0xa8));
    p.setFont(font("NanumGothic", 10));
    p.drawText(QRect(16, 160, 200, 24), Qt::AlignLeft | Qt::AlignVCenter,
               QStringLiteral("\u24d2 Orsa Resort"));

    p.setPen(QColor(0x8f, 0xa3, 0xbf));
    p.setBrush(Qt::NoBrush);
    p.drawRect(QRectF(0.5, 0.5, 359, 199));
    return image;
}

const QRectF SplashShape(0, 0, 537, 284);
constexpr double SplashRadius = 26;

QImage splashPicture()
{
    QImage image = canvas(537, 284);
    QPainter p(&image);
    prepare(p);
    drawDarkBackground(p, QRect(0, 0, 537, 248));
    // rays behind the mark
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 9; ++i) {
        p.save();
        p.translate(120, 128);
        p.rotate(-80 + i * 20);
        p.setBrush(QColor(0xf2, 0xb5, 0x44, 14));
        p.drawPolygon(QPolygonF({QPointF(0, 0), QPointF(-14, -190), QPointF(14, -190)}));
        p.restore();
    }
    drawMark(p, QRectF(50, 58, 140, 140));

    p.setPen(Qt::white);
    QFont big = font("NanumSquare", 40, true);
    big.setLetterSpacing(QFont::AbsoluteSpacing, 6);
    p.setFont(big);
    p.drawText(QRect(225, 58, 232, 52), Qt::AlignRight | Qt::AlignVCenter, QStringLiteral("ORSA"));
    p.setPen(QColor(0xa9, 0xc3, 0xe2));
    p.setFont(font("NanumGothic", 13));
    p.drawText(QRect(225, 112, 230, 20), Qt::AlignRight | Qt::AlignVCenter,
               text("리조트 통합 업무 시스템"));
    p.setPen(QPen(QColor(0xf2, 0xb5, 0x44, 160), 1));
    p.drawLine(300, 142, 455, 142);

    // the light band of the copyright line
    QLinearGradient band(0, 248, 0, 284);
    band.setColorAt(0, QColor(0xe8, 0xee, 0xf6));
    band.setColorAt(1, QColor(0xd5, 0xde, 0xea));
    p.fillRect(QRect(0, 248, 537, 36), band);
    p.fillRect(QRect(0, 246, 537, 2), Gold);

    p.setPen(QPen(QColor(0x5b, 0x73, 0x93), 2));
    p.setBrush(Qt::NoBrush);
    p.drawRoundedRect(SplashShape.adjusted(1, 1, -1, -1), SplashRadius - 1, SplashRadius - 1);
    return image;
}

QImage splashMask()
{
    QImage shape(537, 284, QImage::Format_RGB32);
    shape.fill(Qt::white);
    QPainter p(&shape);
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::black);
    p.drawRoundedRect(SplashShape, SplashRadius, SplashRadius);
    p.end();
    return shape.convertToFormat(QImage::Format_Mono, Qt::ThresholdDither);
}

bool writeMainIni(const QString &path, QString *error)
{
    // The installed package ships this file as its Main.ini template, so it explains itself to
    // the administrator who edits it. Comment lines start with ";" and are never keys.
    const QString ini = text("; Main.ini of the Orsa shell: read beside the executable, never written by it.\r\n"
                             "; Code page 949. Section and key names are case-insensitive.\r\n"
                             "; Rectangles are left,top,width,height in pixels over the window's picture\r\n"
                             "; (a blank before a number is accepted, a blank after one is an error).\r\n"
                             "\r\n"
                             "[MAIN]\r\n"
                             "; Caption of the shell's message boxes and its taskbar button.\r\n"
                             "TITLE=오르사 통합시스템\r\n"
                             "; ORACLE (the default: DATABASE is the Oracle net service name, Qt driver QOCI)\r\n"
                             "; or POSTGRESQL (DATABASE is a libpq service of pg_service.conf / PGSERVICEFILE).\r\n"
                             "DRIVER=POSTGRESQL\r\n"
                             "DATABASE=orsa\r\n"
                             "; Most project programs running at once (default 3).\r\n"
                             ";PROJECT_COUNT=3\r\n"
                             "; The updater through which projects start, beside the executable.\r\n"
                             ";UPDATE_EXE=PelUpdate.exe\r\n"
                             "; Size of every project button, and the click areas that minimise and close.\r\n"
                             "IMAGE_WIDTH=96\r\n"
                             "IMAGE_HEIGHT=40\r\n"
                             "MINIMIZE=596,6,16,16\r\n"
                             "CLOSE=616,6,16,16\r\n"
                             "\r\n"
                             "; One button per key, in this order: display name=PROJECT_ID;left,top.\r\n"
                             "; PROJECT_ID names the database right, the program PROJECT_ID.exe and the\r\n"
                             "; pictures PROJECT_ID, PROJECT_ID+A and PROJECT_ID+D of MainImg.dll.\r\n"
                             "; A key without a value keeps its place but gets no button.\r\n"
                             "[PROJECTS]\r\n"
                             "프런트=ORSA_A;204,32\r\n"
                             "객실관리=ORSA_B;308,32\r\n"
                             "식음료=ORSA_C;412,32\r\n"
                             "예약=\r\n"
                             "회계=ORSA_D;516,32\r\n"
                             "\r\n"
                             "; The login window over the picture LOGIN; ID and PASSWORD are required.\r\n"
                             "[LOGIN]\r\n"
                             "CLOSE=332,10,18,18\r\n"
                             "ID=112,71,146,18\r\n"
                             "PASSWORD=112,109,146,18\r\n"
                             "LOGIN=272,68,68,62\r\n"
                             "PASSCHANGE=230,160,110,24\r\n");
    if (!Cp949::available() || !Cp949::canEncode(ini)) {
        *error = QStringLiteral("code page 949 is not available in this Qt build");
        return false;
    }
    const QByteArray bytes = Cp949::encode(ini);
    QSaveFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size() || !file.commit()) {
        *error = QStringLiteral("%1: %2").arg(path, file.errorString());
        return false;
    }
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QGuiApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 2) {
        std::fprintf(stderr, "usage: demopictures OUTPUT_DIR\n");
        return 2;
    }
    const QString out = args.at(1);
    if (!QDir().mkpath(out)) {
        std::fprintf(stderr, "demopictures: cannot create %s\n", qPrintable(out));
        return 1;
    }

    const QImage main = mainBackground();
    QList<QPair<QString, QImage>> pictures{
        {QStringLiteral("MAIN"), main},
        {QStringLiteral("LOGIN"), loginBackground()},
        {QStringLiteral("SPLASH"), splashPicture()},
        {QStringLiteral("SMASK"), splashMask()},
    };
    struct Project
    {
        const char *id;
        const char *label;
        QPoint at;
        QColor accent;
    };
    const Project projects[] = {
        {"ORSA_A", "프런트", {204, 32}, QColor(0x3b, 0x7d, 0xd8)},
        {"ORSA_B", "객실관리", {308, 32}, QColor(0x20, 0xa3, 0x9e)},
        {"ORSA_C", "식음료", {412, 32}, QColor(0xf0, 0x8a, 0x24)},
        {"ORSA_D", "회계", {516, 32}, QColor(0x7a, 0x5c, 0xc7)},
    };
    int kind = 0;
    for (const Project &project : projects) {
        const QString id = QString::fromLatin1(project.id);
        const QString label = text(project.label);
        pictures.append({id, projectButton(main, project.at, kind, label, project.accent,
                                           ButtonState::Normal)});
        pictures.append({id + QLatin1Char('A'), projectButton(main, project.at, kind, label,
                                                              project.accent, ButtonState::Active)});
        pictures.append({id + QLatin1Char('D'), projectButton(main, project.at, kind, label,
                                                              project.accent, ButtonState::Disabled)});
        ++kind;
    }

    QString error;
    if (!writeImageLibrary(QDir(out).filePath(QStringLiteral("MainImg.dll")), pictures, &error)
        || !writeMainIni(QDir(out).filePath(QStringLiteral("Main.ini")), &error)) {
        std::fprintf(stderr, "demopictures: %s\n", qPrintable(error));
        return 1;
    }
    return 0;
}
