#include "widgets/twlabel.h"

TwLabel::TwLabel(QWidget *parent)
    : TwCustomLabel(parent)
{
    setShowAccelChar(true);
}

QString TwLabel::GetLabelText() const
{
    return caption();
}

void TwLabel::ClearLabelText()
{
    setCaption(QString());
}
