// The movie's choices beyond the output view's own controls: frame size and
// rate, how a photo fills the frame, upright photos, the container, further
// sound tracks and how the sound ends. A box on the output view sums them up
// and opens the dialog that changes them.
#pragma once

#include "app/job/movie_options.h"

#include <QDialog>
#include <QGroupBox>

#include <functional>
#include <string>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QSpinBox;

namespace quillon {

// The dialog: edits a copy of the options and hands it back on OK.
class TMovieSettingsDialog : public QDialog
{
public:
    TMovieSettingsDialog(const MovieOptions &options, QWidget *parent);

    // The options as the controls hold them now.
    MovieOptions Options() const;

    QComboBox *cmbFrameSize;
    QSpinBox *edtWidth;
    QSpinBox *edtHeight;
    QComboBox *cmbFrameRate;
    QComboBox *cmbFit;
    QCheckBox *chkAutoRotate;
    QComboBox *cmbContainer;
    QListWidget *lstSoundFiles;
    QPushButton *btnAddSound;
    QPushButton *btnRemoveSound;
    QComboBox *cmbSoundEnd;

private:
    void AddSoundFiles();
    // Puts a track at the end of the list, its name kept byte for byte.
    void AddSoundItem(const std::string &File);
    void UpdateControls();
};

// The box on the output view: what is chosen, and "Settings..." to change it.
class TMovieSettingsBox : public QGroupBox
{
public:
    explicit TMovieSettingsBox(QWidget *parent);

    const MovieOptions &Options() const { return FOptions; }
    void SetOptions(const MovieOptions &options);

    // Opens the dialog; its OK takes the choices over.
    void btnSettingsClick();

    // Called after every change of the choices.
    std::function<void()> OnChange;
    // Called after the dialog's OK has changed them, with the choices before.
    std::function<void(const MovieOptions &Before)> OnChosen;

    QLabel *lblSummary;
    QPushButton *btnSettings;

private:
    MovieOptions FOptions;
};

// The lines of the box: the frame, the fit and orientation, the file, the sound.
std::string MovieSummary(const MovieOptions &options);

} // namespace quillon
