#include "app/ui/MouseEffectImage.h"

namespace quillon {

TMouseEffectImage::TMouseEffectImage(QWidget *parent)
    : forms::TImage(parent)
{
    SetAutoSize(true);
}

TMouseEffectImage::~TMouseEffectImage() = default;

void TMouseEffectImage::ShowPicture(const forms::TPicture &Picture)
{
    this->Picture()->Assign(&Picture);
}

void TMouseEffectImage::SetOriginPicture(const forms::TPicture *Value)
{
    FOriginPicture.Assign(Value);
    ShowPicture(FOriginPicture);
}

void TMouseEffectImage::SetOverPicture(const forms::TPicture *Value)
{
    FOverPicture.Assign(Value);
}

void TMouseEffectImage::SetDownPicture(const forms::TPicture *Value)
{
    FDownPicture.Assign(Value);
}

void TMouseEffectImage::CMMouseEnter()
{
    // Without a parent there is no window to tell.
    if (QWidget *parent = parentWidget())
        win32::PostMessageA(forms::HandleOf(parent), MouseEffectEnterMessage, 0, 0);
    ShowPicture(FOverPicture);
    forms::TImage::CMMouseEnter();
}

void TMouseEffectImage::CMMouseLeave()
{
    ShowPicture(FOriginPicture);
    forms::TImage::CMMouseLeave();
}

void TMouseEffectImage::WMLButtonDown(const forms::TWMMouse &Message)
{
    ShowPicture(FDownPicture);
    forms::TImage::WMLButtonDown(Message);
}

void TMouseEffectImage::WMLButtonUp(const forms::TWMMouse &Message)
{
    if (!FRevertOnLeave)
        ShowPicture(FOriginPicture);
    forms::TImage::WMLButtonUp(Message);
}

} // namespace quillon
