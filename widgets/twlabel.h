#pragma once
#include "widgets/twcustomlabel.h"

// The bordered label as the windows use it: the caption is the text, and accelerators are
// shown.
class TwLabel : public TwCustomLabel
{
    Q_OBJECT

public:
    explicit TwLabel(QWidget *parent = nullptr);

protected:
    QString GetLabelText() const override;
    void ClearLabelText() override;
};
