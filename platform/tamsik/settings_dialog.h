// The settings dialog of one video compressor: its name and the settings that
// matter to a user, the picture quality, how often a key frame comes, and
// whether every frame is encoded.
#pragma once

#include "platform/media/compressors.h"

#include <QDialog>

class QCheckBox;
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
    QCheckBox *everyFrame_ = nullptr;
};

} // namespace tamsik
