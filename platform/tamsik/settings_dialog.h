// The settings dialog of one video compressor: its name and the two settings
// that matter to a user, the picture quality and how often a key frame comes.
#pragma once

#include "platform/media/compressors.h"

#include <QDialog>

class QSlider;
class QSpinBox;

namespace tamsik {

class SettingsDialog : public QDialog
{
public:
    SettingsDialog(const media::CompressorEntry &entry, const media::CompressorSettings &settings,
                   QWidget *owner);

    // What the controls hold now; a setting the entry does not have keeps the
    // value it came with.
    media::CompressorSettings Settings() const;

private:
    void ShowSettings(const media::CompressorSettings &settings);

    media::CompressorEntry entry_;
    media::CompressorSettings initial_;
    QSlider *qualitySlider_ = nullptr;
    QSpinBox *quality_ = nullptr;
    QSpinBox *keyFrames_ = nullptr;
};

} // namespace tamsik
