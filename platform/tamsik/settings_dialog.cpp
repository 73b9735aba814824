#include "platform/tamsik/settings_dialog.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QPalette>
#include <QPushButton>
#include <QSlider>
#include <QSpinBox>
#include <QVBoxLayout>

namespace tamsik {

namespace {

// A line that explains the control above it: quieter than the controls' texts,
// yet dark enough to read (a disabled label's grey is not).
void MakeHint(QLabel *label)
{
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, QColor(0x50, 0x57, 0x60));
    label->setPalette(palette);
}

} // namespace

SettingsDialog::SettingsDialog(const media::CompressorEntry &entry,
                               const media::CompressorSettings &settings, QWidget *owner)
    : QDialog(owner)
    , entry_(entry)
    , initial_(settings)
{
    setObjectName(QStringLiteral("CompressorSettings"));
    setWindowTitle(QStringLiteral("Compressor Settings"));
    setModal(true);

    auto *layout = new QVBoxLayout(this);
    auto *name = new QLabel(QString::fromStdString(entry.friendlyName), this);
    name->setObjectName(QStringLiteral("name"));
    QFont bold = name->font();
    bold.setBold(true);
    name->setFont(bold);
    layout->addWidget(name);
    const std::string fourcc = media::FourccText(entry.fourcc);
    auto *detail = new QLabel(
        fourcc.empty() ? QStringLiteral("Stored as plain RGB frames")
                       : QStringLiteral("Stored as %1 video").arg(QString::fromStdString(fourcc)),
        this);
    MakeHint(detail);
    layout->addWidget(detail);

    auto *form = new QFormLayout;
    if (entry.hasQuality) {
        qualitySlider_ = new QSlider(Qt::Horizontal, this);
        qualitySlider_->setRange(0, 100);
        quality_ = new QSpinBox(this);
        quality_->setObjectName(QStringLiteral("quality"));
        quality_->setRange(0, 100);
        quality_->setSuffix(QStringLiteral(" %"));
        connect(qualitySlider_, &QSlider::valueChanged, quality_, &QSpinBox::setValue);
        connect(quality_, &QSpinBox::valueChanged, qualitySlider_, &QSlider::setValue);
        auto *row = new QHBoxLayout;
        row->addWidget(qualitySlider_, 1);
        row->addWidget(quality_);
        form->addRow(QStringLiteral("Quality:"), row);
        auto *hint = new QLabel(
            QStringLiteral("Higher quality keeps more detail and makes larger files."), this);
        MakeHint(hint);
        form->addRow(QString(), hint);
    }
    if (entry.hasKeyFrames) {
        keyFrames_ = new QSpinBox(this);
        keyFrames_->setObjectName(QStringLiteral("keyFrameInterval"));
        keyFrames_->setRange(1, media::kMaxKeyFrameInterval);
        keyFrames_->setSuffix(QStringLiteral(" frames"));
        form->addRow(QStringLiteral("Key frame every:"), keyFrames_);
    }
    if (form->rowCount() > 0) {
        layout->addLayout(form);
    } else {
        delete form;
        layout->addWidget(
            new QLabel(QStringLiteral("This compressor keeps every picture exactly."), this));
    }
    everyFrame_ = new QCheckBox(QStringLiteral("Encode every frame"), this);
    everyFrame_->setObjectName(QStringLiteral("encodeEveryFrame"));
    layout->addWidget(everyFrame_);
    auto *everyFrameHint = new QLabel(
        QStringLiteral("Otherwise a frame that repeats the picture before it is stored as an "
                       "empty frame, which is much faster to make. Tick this for a player that "
                       "cannot show such frames."),
        this);
    everyFrameHint->setWordWrap(true);
    MakeHint(everyFrameHint);
    layout->addWidget(everyFrameHint);
    layout->addStretch();

    auto *buttons = new QDialogButtonBox(
        QDialogButtonBox::Ok | QDialogButtonBox::Cancel | QDialogButtonBox::RestoreDefaults, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(buttons->button(QDialogButtonBox::RestoreDefaults), &QPushButton::clicked, this,
            [this] {
                ShowSettings({entry_.defaultQuality, entry_.defaultKeyFrameInterval, false});
            });
    layout->addWidget(buttons);

    ShowSettings(settings);
    setMinimumWidth(360);
}

void SettingsDialog::ShowSettings(const media::CompressorSettings &settings)
{
    if (quality_)
        quality_->setValue(settings.quality);
    if (keyFrames_)
        keyFrames_->setValue(settings.keyFrameInterval);
    everyFrame_->setChecked(settings.encodeEveryFrame);
}

media::CompressorSettings SettingsDialog::Settings() const
{
    media::CompressorSettings settings = initial_;
    if (quality_)
        settings.quality = quality_->value();
    if (keyFrames_)
        settings.keyFrameInterval = keyFrames_->value();
    settings.encodeEveryFrame = everyFrame_->isChecked();
    return settings;
}

} // namespace tamsik
