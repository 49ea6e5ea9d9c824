#pragma once
#include <QByteArray>
#include <QRegion>
#include <QString>
#include <QWidget>

class QImage;
class QLabel;

// The splash window: a borderless picture cut to the outline of its mask, with the
// application's title and the program version over it. It is on screen while the shell starts
// and takes part in no user action.
class TfrmZZC010 : public QWidget
{
    Q_OBJECT

public:
    // libraryPath: the picture library to read "SPLASH" and "SMASK" from; empty means
    // MainImg.dll in the executable's directory.
    explicit TfrmZZC010(QWidget *owner = nullptr, const QString &libraryPath = QString());
    ~TfrmZZC010() override;

    // The outline of the window: the black pixels of the mask, row by row. Only rows above
    // windowHeight count. A mask whose width is not a multiple of 16 is widened with white
    // columns first. A black run that reaches the last column still belongs to the outline.
    static QRegion CreateMaskRegion(const QImage &maskBitmap, int windowHeight);

    // Pixel (x, y) of mask bits laid out as CreateMaskRegion lays them out (rows of width bits,
    // the leftmost pixel in the most significant bit, 1 = white). Everything outside the rows
    // of the window, outside the row width or outside the bits reads as white (1).
    static int GetMaskBit(const QByteArray &bits, int x, int y, int width, int windowHeight);

    // Bit n of the byte, 0 being the most significant; any other n gives 1.
    static int GetBit(quint8 byte, int n);

    // The title shown before Main.ini has been read: the executable's file name cut at its
    // first ".", the first character kept, the rest in lower case ("ORSA.EXE" gives "Orsa").
    static QString defaultApplicationTitle(const QString &executablePath);

    QRegion shapeRegion() const { return m_shapeRegion; }
    // Why the pictures could not be read; empty when both were there.
    QString loadError() const { return m_loadError; }

    QLabel *lblProjectNameShadow() const { return m_lblProjectNameShadow; }
    QLabel *lblProjectName() const { return m_lblProjectName; }
    QLabel *lblCopyright() const { return m_lblCopyright; }
    QLabel *lblVersion() const { return m_lblVersion; }
    QLabel *imgImage() const { return m_imgImage; }

    // A window without outline stays hidden: an empty mask would show the whole rectangle.
    void setVisible(bool visible) override;

private:
    void FormCreate(const QString &libraryPath);

    QLabel *m_imgImage = nullptr;
    QLabel *m_lblProjectNameShadow = nullptr;
    QLabel *m_lblProjectName = nullptr;
    QLabel *m_lblCopyright = nullptr;
    QLabel *m_lblVersion = nullptr;
    QRegion m_shapeRegion;
    QString m_loadError;
};
