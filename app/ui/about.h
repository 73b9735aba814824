// The about box: the version, the support contact and the homepage address,
// which opens in the desktop's browser when clicked, or when Space or Enter is
// pressed on it (Tab reaches it; it is underlined while it has the focus).
#pragma once

#include "app/ui/stdctrls.h"
#include "platform/forms/controls.h"

#include <QDialog>

class QPushButton;

namespace quillon {

inline constexpr const char *SupportContact = "Support: help@quillon.example.org";

class TAboutForm : public QDialog
{
public:
    // A fixed 300 × 266 dialog, centred on `owner`.
    explicit TAboutForm(QWidget *owner = nullptr);

    forms::TImage *Image1;
    TBevel *Bevel1;
    forms::TLabel *lbl1;
    forms::TLabel *lbl2;
    forms::TLabel *lblUrl;
    QPushButton *btnContinue;

    // Shows the homepage address in lblUrl when there is one.
    void FormShow(QObject *Sender);
    // Asks the shell to open the homepage address.
    void lblUrlClick(QObject *Sender);

protected:
    void showEvent(QShowEvent *event) override;
    bool eventFilter(QObject *watched, QEvent *event) override;
};

} // namespace quillon
