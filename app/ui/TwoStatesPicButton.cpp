#include "app/ui/TwoStatesPicButton.h"

namespace quillon {

TTwoStatesPicButton::TTwoStatesPicButton(QWidget *parent)
    : forms::TImage(parent)
{
    SetAutoSize(true);
}

TTwoStatesPicButton::~TTwoStatesPicButton() = default;

void TTwoStatesPicButton::ShowPicture(const forms::TPicture &Picture)
{
    this->Picture()->Assign(&Picture);
}

void TTwoStatesPicButton::ShowStatePicture()
{
    ShowPicture(FDownState ? FDownPicture : FUpPicture);
}

void TTwoStatesPicButton::SetUpPicture(const forms::TPicture *Value)
{
    if (Value)
        FUpPicture.Assign(Value);
    ShowPicture(FUpPicture);
}

void TTwoStatesPicButton::SetDownPicture(const forms::TPicture *Value)
{
    if (Value)
        FDownPicture.Assign(Value);
}

void TTwoStatesPicButton::SetOverPicture(const forms::TPicture *Value)
{
    if (Value)
        FOverPicture.Assign(Value);
}

void TTwoStatesPicButton::SetDownState(bool Value)
{
    FDownState = Value;
    ShowStatePicture();
}

void TTwoStatesPicButton::CMMouseEnter()
{
    if (FOverPicture.HasGraphic())
        ShowPicture(FOverPicture);
    forms::TImage::CMMouseEnter();
}

void TTwoStatesPicButton::CMMouseLeave()
{
    ShowStatePicture();
    forms::TImage::CMMouseLeave();
}

void TTwoStatesPicButton::Click()
{
    FDownState = !FDownState;
    ShowStatePicture();
    forms::TImage::Click();
}

} // namespace quillon
