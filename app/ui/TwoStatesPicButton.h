// The two-state picture button: a toggle that shows its up or down picture and,
// when it has one, a hover picture while the pointer is over it. The state flips
// before the click event is raised.
#pragma once

#include "platform/forms/controls.h"

namespace quillon {

class TTwoStatesPicButton : public forms::TImage
{
public:
    // Auto-size on, all three pictures empty, DownState false.
    explicit TTwoStatesPicButton(QWidget *parent = nullptr);
    ~TTwoStatesPicButton() override;

    const forms::TPicture *UpPicture() const { return &FUpPicture; }
    // Copies Value when given, then shows UpPicture whatever DownState is.
    void SetUpPicture(const forms::TPicture *Value);
    const forms::TPicture *DownPicture() const { return &FDownPicture; }
    // Copies Value when given; the display does not change.
    void SetDownPicture(const forms::TPicture *Value);
    const forms::TPicture *OverPicture() const { return &FOverPicture; }
    // Copies Value when given; the display does not change.
    void SetOverPicture(const forms::TPicture *Value);
    bool DownState() const { return FDownState; }
    // Shows DownPicture or UpPicture to match; raises no click.
    void SetDownState(bool Value);

protected:
    void CMMouseEnter() override;
    void CMMouseLeave() override;
    void Click() override;

private:
    void ShowPicture(const forms::TPicture &Picture);
    void ShowStatePicture();

    forms::TPicture FUpPicture;
    forms::TPicture FDownPicture;
    forms::TPicture FOverPicture;
    bool FDownState = false;
};

} // namespace quillon
