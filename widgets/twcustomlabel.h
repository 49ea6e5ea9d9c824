#pragma once
#include <QColor>
#include <QPointer>
#include <QString>
#include <QWidget>

class QPainter;

// The border of a bordered label.
enum TwLabelBorderStyle {
    mlbsLine,    // BorderWidth nested 1-pixel frames in BorderColor
    mlbsRaised,  // a 1-pixel raised edge
    mlbsSunken,  // a 1-pixel sunken edge
    mlbsDeep,    // a sunken edge plus a dark line inside it on the top and left
};

// Horizontal placement of the text.
enum TAlignment { taLeftJustify, taRightJustify, taCenter };

// Vertical placement of the text.
enum TTextLayout { tlTop, tlCenter, tlBottom };

// A text label with a border, inner margins, an optional drop shadow, vertical placement,
// password masking and a small corner mark. It is the status row of the main window and the
// background and frame of the borderless dialogs.
//
// Every property setter stores a new value only when it differs, and only then asks for a
// repaint; the border colour and width only matter (and so only repaint) with the line
// border, the shadow colour only with the shadow on. Each paint draws everything again from
// the properties.
//
// Wrapped text is laid out in one work bitmap shared by every label, then copied in one step,
// so that it does not flicker. The bitmap lives from the first label's construction to the
// last one's destruction and only ever grows.
class TwCustomLabel : public QWidget
{
    Q_OBJECT

public:
    explicit TwCustomLabel(QWidget *parent = nullptr);
    ~TwCustomLabel() override;

    // The text the label holds. What is drawn comes from GetLabelText().
    QString caption() const { return m_caption; }
    void setCaption(const QString &caption);

    TAlignment alignment() const { return m_alignment; }
    void setAlignment(TAlignment alignment);

    QColor borderColor() const { return m_borderColor; }
    void setBorderColor(const QColor &color);

    TwLabelBorderStyle borderStyle() const { return m_borderStyle; }
    void setBorderStyle(TwLabelBorderStyle style);

    quint16 borderWidth() const { return m_borderWidth; }
    void setBorderWidth(quint16 width);

    // The corner mark ("Chima"): a small triangle in the top-right corner.
    bool chima() const { return m_chima; }
    void setChima(bool chima);
    QColor chimaColor() const { return m_chimaColor; }
    void setChimaColor(const QColor &color);

    // The control that an accelerator typed for this label gives the focus to. Not owned;
    // it becomes empty when that control is destroyed.
    QWidget *focusControl() const { return m_focusControl; }
    void setFocusControl(QWidget *control);

    // Vertical placement. (QWidget::setLayout manages child widgets, hence the name.)
    TTextLayout textLayout() const { return m_textLayout; }
    void setTextLayout(TTextLayout layout);

    // Margins by index: 0 left, 1 top, 2 right, any other index bottom.
    int labelMargin(int index) const;
    void setLabelMargin(int index, int margin);
    int leftMargin() const { return labelMargin(0); }
    void setLeftMargin(int margin) { setLabelMargin(0, margin); }
    int topMargin() const { return labelMargin(1); }
    void setTopMargin(int margin) { setLabelMargin(1, margin); }
    int rightMargin() const { return labelMargin(2); }
    void setRightMargin(int margin) { setLabelMargin(2, margin); }
    int bottomMargin() const { return labelMargin(3); }
    void setBottomMargin(int margin) { setLabelMargin(3, margin); }

    // A byte from '!' to 127 masks the text: one such character per code page 949 byte of
    // the text. Any other value (0 included) shows the text as it is.
    uchar passwordChar() const { return m_passwordChar; }
    void setPasswordChar(uchar passwordChar);

    bool shadow() const { return m_shadow; }
    void setShadow(bool shadow);
    QColor shadowColor() const { return m_shadowColor; }
    void setShadowColor(const QColor &color);

    // With accelerators shown, "&x" underlines x and "&&" shows one ampersand.
    bool showAccelChar() const { return m_showAccelChar; }
    void setShowAccelChar(bool show);

    // A transparent label fills nothing: what lies under it shows through around the text.
    bool transparent() const { return m_transparent; }
    void setTransparent(bool transparent);

    bool wordWrap() const { return m_wordWrap; }
    void setWordWrap(bool wordWrap);

    // The fill colour inside the border, and the colour of the text.
    QColor color() const { return m_color; }
    void setColor(const QColor &color);
    QColor fontColor() const { return m_fontColor; }
    void setFontColor(const QColor &color);

    // The accelerator of a caption: the character after the last single "&", or a null
    // character when there is none.
    static QChar accelChar(const QString &caption);

    // Size of the shared work bitmap in device pixels; empty while no label exists.
    static QSize workBitmapSize();

    QSize sizeHint() const override;

Q_SIGNALS:
    void clicked();
    void doubleClicked();

protected:
    virtual QString GetLabelText() const = 0;
    virtual void ClearLabelText() = 0;

    bool event(QEvent *event) override;
    void changeEvent(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;

private:
    struct WinRect;
    QString textToDraw() const;
    int textFlags() const;
    void drawBorder(QPainter &painter, WinRect &rect) const;
    void drawText(QPainter &painter, const QRect &rect, int flags, const QString &text) const;
    void paintWrapped(QPainter &painter, const WinRect &rect, int flags, const QString &text);
    void drawChima(QPainter &painter) const;
    void updateAccelerator();

    QString m_caption;
    TAlignment m_alignment = taCenter;
    QColor m_borderColor = Qt::black;
    TwLabelBorderStyle m_borderStyle = mlbsRaised;
    quint16 m_borderWidth = 1;
    bool m_chima = false;
    QColor m_chimaColor = QColor(0, 0, 128);
    QPointer<QWidget> m_focusControl;
    TTextLayout m_textLayout = tlCenter;
    int m_margins[4] = {1, 1, 1, 1};
    uchar m_passwordChar = 0;
    bool m_shadow = false;
    QColor m_shadowColor;
    bool m_showAccelChar = false;
    bool m_transparent = false;
    bool m_wordWrap = false;
    QColor m_color;
    QColor m_fontColor;
    QMetaObject::Connection m_focusControlWatch;
    int m_shortcutId = 0;
    bool m_pressed = false;
};
