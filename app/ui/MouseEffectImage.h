// The command button: a picture that changes while the pointer is over it and
// while the left button is held down on it. Every pointer entry posts the
// message MouseEffectEnterMessage to the window of the parent control.
#pragma once

#include "platform/forms/controls.h"

namespace quillon {

// WM_USER + 1001, posted with wParam 0 and lParam 0.
constexpr UINT MouseEffectEnterMessage = win32::WM_USER + 1001;

class TMouseEffectImage : public forms::TImage
{
public:
    // Auto-size on, all three pictures empty, RevertOnLeave false.
    explicit TMouseEffectImage(QWidget *parent = nullptr);
    ~TMouseEffectImage() override;

    const forms::TPicture *OriginPicture() const { return &FOriginPicture; }
    // Copies Value (null empties it), then shows OriginPicture.
    void SetOriginPicture(const forms::TPicture *Value);
    const forms::TPicture *OverPicture() const { return &FOverPicture; }
    // Copies Value (null empties it); the display does not change.
    void SetOverPicture(const forms::TPicture *Value);
    const forms::TPicture *DownPicture() const { return &FDownPicture; }
    // Copies Value (null empties it); the display does not change.
    void SetDownPicture(const forms::TPicture *Value);
    bool RevertOnLeave() const { return FRevertOnLeave; }
    // When true, a release keeps DownPicture until the pointer leaves.
    void SetRevertOnLeave(bool Value) { FRevertOnLeave = Value; }

protected:
    void CMMouseEnter() override;
    void CMMouseLeave() override;
    void WMLButtonDown(const forms::TWMMouse &Message) override;
    void WMLButtonUp(const forms::TWMMouse &Message) override;

private:
    void ShowPicture(const forms::TPicture &Picture);

    forms::TPicture FOriginPicture;
    forms::TPicture FOverPicture;
    forms::TPicture FDownPicture;
    bool FRevertOnLeave = false;
};

} // namespace quillon
