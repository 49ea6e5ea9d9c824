#pragma once
#include <QString>
#include <QWidget>

// The update notice: a small card in the bottom-right corner of the work area that offers to
// restart a project program whose executable is newer on the update server. The start-up keeps
// one that is never shown; every notice the user sees is a window of its own.
class Tfrm_BH010 : public QWidget
{
    Q_OBJECT
public:
    explicit Tfrm_BH010(QWidget *parent = nullptr);

    QString ProgramTitle;
    QString ProgramName;

    static constexpr int DesignWidth = 270;
    static constexpr int DesignHeight = 65;

private:
    void FormCreate();
};
