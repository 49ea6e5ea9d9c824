#include "widgets/twcustomlabel.h"

#include "platform/cp949.h"
#include "widgets/systemcolors.h"

#include <QFontMetrics>
#include <QImage>
#include <QKeySequence>
#include <QMouseEvent>
#include <QMutex>
#include <QMutexLocker>
#include <QPainter>
#include <QShortcutEvent>

#include <algorithm>
#include <cmath>
#include <memory>

namespace {

// The one work bitmap of all labels, with the count of labels that share it.
int s_instances = 0;
std::unique_ptr<QImage> s_workBitmap;
QMutex s_workBitmapLock;

bool masks(uchar passwordChar)
{
    return passwordChar >= 33 && passwordChar <= 127;
}

// Coordinates far outside any screen (margins of millions of pixels) are pulled in to a
// bound that keeps every later sum inside an int.
constexpr qint64 CoordinateBound = 1 << 24;

int bounded(qint64 value)
{
    return int(std::clamp(value, -CoordinateBound, CoordinateBound));
}

// A line that stops short of its end point. The label only draws horizontal, vertical and
// 45-degree lines, which this plots exactly.
void drawLine(QPainter &painter, int x0, int y0, int x1, int y1, const QColor &color)
{
    const int dx = x1 - x0;
    const int dy = y1 - y0;
    const int steps = std::max(std::abs(dx), std::abs(dy));
    for (int s = 0; s < steps; ++s)
        painter.fillRect(x0 + dx * s / steps, y0 + dy * s / steps, 1, 1, color);
}

} // namespace

// A rectangle the way the border and margin arithmetic sees it: right and bottom lie just
// outside, so the width is right - left. Wide integers, since margins are arbitrary.
struct TwCustomLabel::WinRect
{
    qint64 left = 0;
    qint64 top = 0;
    qint64 right = 0;
    qint64 bottom = 0;

    qint64 width() const { return right - left; }
    qint64 height() const { return bottom - top; }
    bool isEmpty() const { return width() <= 0 || height() <= 0; }
    void inflate(qint64 d)
    {
        left -= d;
        top -= d;
        right += d;
        bottom += d;
    }
    QRect toQRect() const
    {
        const int l = bounded(left);
        const int t = bounded(top);
        return QRect(l, t, bounded(right) - l, bounded(bottom) - t);
    }
};

TwCustomLabel::TwCustomLabel(QWidget *parent)
    : QWidget(parent)
    , m_shadowColor(SystemColor::btnShadow())
    , m_color(SystemColor::btnFace())
    , m_fontColor(SystemColor::windowText())
{
    {
        QMutexLocker lock(&s_workBitmapLock);
        if (s_instances == 0)
            s_workBitmap = std::make_unique<QImage>();
        ++s_instances;
    }
    resize(121, 20);
}

TwCustomLabel::~TwCustomLabel()
{
    QMutexLocker lock(&s_workBitmapLock);
    if (--s_instances == 0)
        s_workBitmap.reset();
}

QSize TwCustomLabel::workBitmapSize()
{
    QMutexLocker lock(&s_workBitmapLock);
    return s_workBitmap ? s_workBitmap->size() : QSize();
}

QSize TwCustomLabel::sizeHint() const
{
    return QSize(121, 20);
}

void TwCustomLabel::setCaption(const QString &caption)
{
    if (caption == m_caption)
        return;
    m_caption = caption;
    update();
    updateAccelerator();
}

void TwCustomLabel::setAlignment(TAlignment alignment)
{
    if (alignment == m_alignment)
        return;
    m_alignment = alignment;
    update();
}

void TwCustomLabel::setBorderColor(const QColor &color)
{
    if (color == m_borderColor)
        return;
    m_borderColor = color;
    if (m_borderStyle == mlbsLine)
        update();
}

void TwCustomLabel::setBorderStyle(TwLabelBorderStyle style)
{
    if (style == m_borderStyle)
        return;
    m_borderStyle = style;
    update();
}

void TwCustomLabel::setBorderWidth(quint16 width)
{
    if (width == m_borderWidth)
        return;
    m_borderWidth = width;
    if (m_borderStyle == mlbsLine)
        update();
}

void TwCustomLabel::setChima(bool chima)
{
    if (chima == m_chima)
        return;
    m_chima = chima;
    update();
}

void TwCustomLabel::setChimaColor(const QColor &color)
{
    if (color == m_chimaColor)
        return;
    m_chimaColor = color;
    update();
}

void TwCustomLabel::setFocusControl(QWidget *control)
{
    // Stored every time, never compared and never repainted: it changes nothing on screen.
    disconnect(m_focusControlWatch);
    m_focusControl = control;
    if (control) {
        m_focusControlWatch = connect(control, &QObject::destroyed, this, [this, control](QObject *) {
            if (m_focusControl.isNull() || m_focusControl.data() == control) {
                m_focusControl = nullptr;
                updateAccelerator();
            }
        });
    }
    updateAccelerator();
}

void TwCustomLabel::setTextLayout(TTextLayout layout)
{
    if (layout == m_textLayout)
        return;
    m_textLayout = layout;
    update();
}

int TwCustomLabel::labelMargin(int index) const
{
    return m_margins[index >= 0 && index <= 2 ? index : 3];
}

void TwCustomLabel::setLabelMargin(int index, int margin)
{
    int &stored = m_margins[index >= 0 && index <= 2 ? index : 3];
    if (margin == stored)
        return;
    stored = margin;
    update();
}

void TwCustomLabel::setPasswordChar(uchar passwordChar)
{
    if (passwordChar == m_passwordChar)
        return;
    m_passwordChar = passwordChar;
    update();
    updateAccelerator();
}

void TwCustomLabel::setShadow(bool shadow)
{
    if (shadow == m_shadow)
        return;
    m_shadow = shadow;
    update();
}

void TwCustomLabel::setShadowColor(const QColor &color)
{
    if (color == m_shadowColor)
        return;
    m_shadowColor = color;
    if (m_shadow)
        update();
}

void TwCustomLabel::setShowAccelChar(bool show)
{
    if (show == m_showAccelChar)
        return;
    m_showAccelChar = show;
    update();
    updateAccelerator();
}

void TwCustomLabel::setTransparent(bool transparent)
{
    if (transparent == m_transparent)
        return;
    m_transparent = transparent;
    update();
}

void TwCustomLabel::setWordWrap(bool wordWrap)
{
    if (wordWrap == m_wordWrap)
        return;
    m_wordWrap = wordWrap;
    update();
}

void TwCustomLabel::setColor(const QColor &color)
{
    if (color == m_color)
        return;
    m_color = color;
    update();
}

void TwCustomLabel::setFontColor(const QColor &color)
{
    if (color == m_fontColor)
        return;
    m_fontColor = color;
    update();
}

QChar TwCustomLabel::accelChar(const QString &caption)
{
    QChar accel;
    for (qsizetype i = 0; i < caption.size(); ++i) {
        if (caption.at(i) != QLatin1Char('&'))
            continue;
        if (i + 1 >= caption.size())
            break;
        if (caption.at(i + 1) == QLatin1Char('&')) {
            ++i;  // "&&" is a literal ampersand
            continue;
        }
        accel = caption.at(i + 1);
        ++i;
    }
    return accel;
}

// The accelerator reaches the label as an application shortcut (Alt and the character), held
// only while the label would act on it, so that the key stays free for others otherwise.
void TwCustomLabel::updateAccelerator()
{
    if (m_shortcutId != 0) {
        releaseShortcut(m_shortcutId);
        m_shortcutId = 0;
    }
    if (m_focusControl.isNull() || !isEnabled() || !m_showAccelChar || masks(m_passwordChar))
        return;
    const QChar accel = accelChar(m_caption);
    if (accel.isNull())
        return;
    const QString upper = QString(accel).toUpper();
    if (upper.size() != 1)
        return;
    m_shortcutId = grabShortcut(QKeySequence(QKeyCombination(Qt::AltModifier, Qt::Key(upper.at(0).unicode()))));
}

bool TwCustomLabel::event(QEvent *event)
{
    if (event->type() == QEvent::Shortcut) {
        auto *shortcut = static_cast<QShortcutEvent *>(event);
        if (m_shortcutId != 0 && shortcut->shortcutId() == m_shortcutId) {
            QWidget *control = m_focusControl.data();
            if (control && isEnabled() && m_showAccelChar && !masks(m_passwordChar)
                && control->isVisible() && control->isEnabled()) {
                control->setFocus(Qt::ShortcutFocusReason);
                return true;
            }
            event->ignore();
            return false;
        }
    }
    return QWidget::event(event);
}

void TwCustomLabel::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::EnabledChange)
        updateAccelerator();
    QWidget::changeEvent(event);
}

void TwCustomLabel::mousePressEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        m_pressed = true;
    QWidget::mousePressEvent(event);
}

void TwCustomLabel::mouseReleaseEvent(QMouseEvent *event)
{
    const bool wasPressed = m_pressed;
    if (event->button() == Qt::LeftButton)
        m_pressed = false;
    if (wasPressed && event->button() == Qt::LeftButton && rect().contains(event->position().toPoint()))
        Q_EMIT clicked();
    QWidget::mouseReleaseEvent(event);
}

void TwCustomLabel::mouseDoubleClickEvent(QMouseEvent *event)
{
    if (event->button() == Qt::LeftButton)
        Q_EMIT doubleClicked();
    QWidget::mouseDoubleClickEvent(event);
}

QString TwCustomLabel::textToDraw() const
{
    const QString text = GetLabelText();
    if (masks(m_passwordChar)) {
        // One mask character per byte, so a Hangul syllable shows as two.
        return QString(Cp949::byteLength(text), QLatin1Char(char(m_passwordChar)));
    }
    if (text.isEmpty() || (m_showAccelChar && text == QLatin1String("&")))
        return text + QLatin1Char(' ');
    return text;
}

int TwCustomLabel::textFlags() const
{
    int flags = Qt::AlignTop | Qt::AlignAbsolute | Qt::TextExpandTabs;
    switch (m_alignment) {
    case taLeftJustify: flags |= Qt::AlignLeft; break;
    case taRightJustify: flags |= Qt::AlignRight; break;
    case taCenter: flags |= Qt::AlignHCenter; break;
    }
    if (m_showAccelChar)
        flags |= Qt::TextShowMnemonic;
    return flags;
}

void TwCustomLabel::drawBorder(QPainter &painter, WinRect &r) const
{
    const auto top = [&](const QColor &c) {
        if (!r.isEmpty())
            painter.fillRect(QRect(bounded(r.left), bounded(r.top), bounded(r.width()), 1), c);
    };
    const auto left = [&](const QColor &c) {
        if (!r.isEmpty())
            painter.fillRect(QRect(bounded(r.left), bounded(r.top), 1, bounded(r.height())), c);
    };
    const auto bottom = [&](const QColor &c) {
        if (!r.isEmpty())
            painter.fillRect(QRect(bounded(r.left), bounded(r.bottom - 1), bounded(r.width()), 1), c);
    };
    const auto right = [&](const QColor &c) {
        if (!r.isEmpty())
            painter.fillRect(QRect(bounded(r.right - 1), bounded(r.top), 1, bounded(r.height())), c);
    };

    switch (m_borderStyle) {
    case mlbsRaised:
        // Bottom and right first, so the two far corners take the light colour.
        bottom(SystemColor::btnShadow());
        right(SystemColor::btnShadow());
        top(SystemColor::btnHighlight());
        left(SystemColor::btnHighlight());
        r.inflate(-1);
        break;
    case mlbsSunken:
    case mlbsDeep:
        top(SystemColor::btnShadow());
        left(SystemColor::btnShadow());
        bottom(SystemColor::btnHighlight());
        right(SystemColor::btnHighlight());
        r.inflate(-1);
        if (m_borderStyle == mlbsDeep) {
            top(SystemColor::darkShadow());
            left(SystemColor::darkShadow());
            r.inflate(-1);
        }
        break;
    case mlbsLine:
    default:
        for (int i = 0; i < m_borderWidth; ++i) {
            if (r.isEmpty()) {
                // Nothing is left to frame; the remaining frames only move the edges.
                r.inflate(-(m_borderWidth - i));
                break;
            }
            top(m_borderColor);
            bottom(m_borderColor);
            left(m_borderColor);
            right(m_borderColor);
            r.inflate(-1);
        }
        break;
    }
}

void TwCustomLabel::drawText(QPainter &painter, const QRect &rect, int flags, const QString &text) const
{
    if (isEnabled()) {
        if (m_shadow) {
            painter.setPen(m_shadowColor);
            painter.drawText(rect.translated(1, 1), flags, text);
        }
        painter.setPen(m_fontColor);
        painter.drawText(rect, flags, text);
    } else {
        // The embossed look of a disabled label; the shadow setting plays no part.
        painter.setPen(SystemColor::btnHighlight());
        painter.drawText(rect.translated(1, 1), flags, text);
        painter.setPen(SystemColor::btnShadow());
        painter.drawText(rect, flags, text);
    }
}

namespace {

// Height of the text laid out in the rectangle with the flags, without drawing it.
int calcTextHeight(const QPainter &painter, const QRect &rect, const QString &text, int flags)
{
    return QFontMetrics(painter.font()).boundingRect(rect, flags, text).height();
}

// Moves the top edge for the vertical placement; the bottom edge stays.
QRect placeVertically(QRect rect, TTextLayout layout, int textHeight)
{
    switch (layout) {
    case tlTop:
        break;
    case tlCenter:
        // Integer division rounds toward zero, also for text taller than the area.
        rect.setTop(rect.top() + (rect.height() - textHeight) / 2);
        break;
    case tlBottom:
        rect.setTop(rect.bottom() + 1 - textHeight);
        break;
    }
    return rect;
}

} // namespace

void TwCustomLabel::paintWrapped(QPainter &painter, const WinRect &r, int flags, const QString &text)
{
    flags |= Qt::TextWordWrap;
    const QRect area = r.toQRect();
    const int textHeight = calcTextHeight(painter, area, text, flags);

    QMutexLocker lock(&s_workBitmapLock);
    if (!s_workBitmap)
        return;
    QImage &bitmap = *s_workBitmap;
    const qreal dpr = devicePixelRatioF();
    const int pixelWidth = int(std::ceil(area.width() * dpr));
    const int pixelHeight = int(std::ceil(area.height() * dpr));
    if (bitmap.width() < pixelWidth || bitmap.height() < pixelHeight || bitmap.isNull()) {
        // It only ever grows.
        QImage grown(std::max(bitmap.width(), pixelWidth), std::max(bitmap.height(), pixelHeight),
                     QImage::Format_ARGB32_Premultiplied);
        if (grown.isNull())
            return;  // out of memory for a huge label: draw no text rather than crash
        bitmap = grown;
    }
    bitmap.setDevicePixelRatio(dpr);

    const QRect area2(0, 0, area.width(), area.height());
    {
        QPainter work(&bitmap);
        work.setFont(painter.font());
        if (m_transparent) {
            // What lies under the label shows through: start from nothing and compose the
            // result over the label's surface below.
            work.setCompositionMode(QPainter::CompositionMode_Source);
            work.fillRect(area2, Qt::transparent);
            work.setCompositionMode(QPainter::CompositionMode_SourceOver);
        } else {
            work.fillRect(area2, m_color);
        }
        drawText(work, placeVertically(area2, m_textLayout, textHeight), flags, text);
    }
    painter.drawImage(QRectF(area), bitmap, QRectF(0, 0, area.width() * dpr, area.height() * dpr));
}

void TwCustomLabel::drawChima(QPainter &painter) const
{
    const int right = width();
    const int top = 0;
    for (int i = 0; i <= 6; ++i)
        drawLine(painter, right - 1 - i, top + 1, right - 1, top + 1 + i, m_chimaColor);
    drawLine(painter, right - 8, top + 1, right - 1, top + 8, Qt::black);
}

void TwCustomLabel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    WinRect r{0, 0, width(), height()};
    drawBorder(painter, r);

    painter.setFont(font());
    if (!m_transparent && !r.isEmpty())
        painter.fillRect(r.toQRect(), m_color);

    r.left += m_margins[0];
    r.top += m_margins[1];
    r.right -= m_margins[2];
    r.bottom -= m_margins[3];
    if (r.isEmpty())
        return;

    // An area beyond any screen (margins of millions of pixels) has no place for text that
    // could be seen; only the corner mark is still drawn.
    const bool onScreen = std::max({std::abs(r.left), std::abs(r.top), std::abs(r.right), std::abs(r.bottom)})
                          <= CoordinateBound;
    const QString text = textToDraw();
    int flags = textFlags();
    if (onScreen && m_wordWrap) {
        paintWrapped(painter, r, flags, text);
    } else if (onScreen) {
        flags |= Qt::TextSingleLine;
        const QRect area = r.toQRect();
        const int textHeight = calcTextHeight(painter, area, text, flags);
        drawText(painter, placeVertically(area, m_textLayout, textHeight), flags, text);
    }

    if (m_chima)
        drawChima(painter);
}
