#include "app/ui/movie_settings.h"

#include "app/ui/stdctrls.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>

namespace quillon {

namespace {

constexpr FrameSize kNamedSizes[] = {{1280, 720}, {1920, 1080}, {3840, 2160}};
// Entries of the frame size list: the standard's size, the named sizes, another.
constexpr int kOtherSize = 1 + static_cast<int>(std::size(kNamedSizes));

const char *const kFitTexts[] = {"Stretch to the frame", "Letterbox: whole photo, black bands",
                                 "Crop: fill the frame", "Blur: whole photo over a blurred copy"};
const char *const kContainerTexts[]
    = {"AVI (.avi)", "MP4 (.mp4)", "Matroska (.mkv)", "WebM (.webm)"};
const char *const kSoundEndTexts[] = {"Cut with a short fade where the pictures end",
                                      "Keep the whole sound", "Repeat the sound to the end"};

template <std::size_t N>
QComboBox *ListOf(QWidget *parent, const char *const (&texts)[N], int selected)
{
    auto *box = new QComboBox(parent);
    for (const char *text : texts)
        box->addItem(QString::fromUtf8(text));
    box->setCurrentIndex(selected);
    return box;
}

QSpinBox *SideBox(QWidget *parent, int value)
{
    auto *box = new QSpinBox(parent);
    box->setRange(MinFrameSide, MaxFrameSide);
    box->setSingleStep(2);
    box->setValue(value);
    return box;
}

} // namespace

TMovieSettingsDialog::TMovieSettingsDialog(const MovieOptions &options, QWidget *parent)
    : QDialog(parent)
{
    setObjectName(QStringLiteral("MovieSettings"));
    setWindowTitle(QStringLiteral("Movie Settings"));
    auto *form = new QFormLayout;

    cmbFrameSize = new QComboBox(this);
    cmbFrameSize->addItem(QStringLiteral("As Video Standard and Resolution"));
    for (const FrameSize &size : kNamedSizes)
        cmbFrameSize->addItem(
            QStringLiteral("%1 x %2 (%3p)").arg(size.width).arg(size.height).arg(size.height));
    cmbFrameSize->addItem(QStringLiteral("Another size"));
    const FrameSize chosen{options.width, options.height};
    int sizeIndex = chosen.width > 0 ? kOtherSize : 0;
    for (std::size_t i = 0; i < std::size(kNamedSizes); ++i)
        if (kNamedSizes[i] == chosen)
            sizeIndex = 1 + static_cast<int>(i);
    cmbFrameSize->setCurrentIndex(sizeIndex);
    edtWidth = SideBox(this, chosen.width > 0 ? chosen.width : 1920);
    edtHeight = SideBox(this, chosen.height > 0 ? chosen.height : 1080);
    auto *sizeRow = new QHBoxLayout;
    sizeRow->addWidget(cmbFrameSize, 1);
    sizeRow->addWidget(edtWidth);
    sizeRow->addWidget(new QLabel(QStringLiteral("x"), this));
    sizeRow->addWidget(edtHeight);
    form->addRow(QStringLiteral("Frame size:"), sizeRow);

    cmbFrameRate = new QComboBox(this);
    for (int fps : FrameRates) {
        cmbFrameRate->addItem(QStringLiteral("%1 frames a second").arg(fps), fps);
        if (fps == options.framesPerSecond)
            cmbFrameRate->setCurrentIndex(cmbFrameRate->count() - 1);
    }
    form->addRow(QStringLiteral("Frame rate:"), cmbFrameRate);

    cmbFit = ListOf(this, kFitTexts, static_cast<int>(options.fit));
    form->addRow(QStringLiteral("Photos:"), cmbFit);
    chkAutoRotate
        = new QCheckBox(QStringLiteral("Turn photos upright as the camera recorded it"), this);
    chkAutoRotate->setChecked(options.autoRotate);
    form->addRow(QString(), chkAutoRotate);

    cmbContainer = ListOf(this, kContainerTexts, static_cast<int>(options.container));
    form->addRow(QStringLiteral("Movie file:"), cmbContainer);

    lstSoundFiles = new QListWidget(this);
    lstSoundFiles->setSelectionMode(QAbstractItemView::ExtendedSelection);
    lstSoundFiles->setFixedHeight(84);
    for (const std::string &file : options.moreSoundFiles)
        AddSoundItem(file);
    btnAddSound = new QPushButton(QStringLiteral("Add..."), this);
    btnRemoveSound = new QPushButton(QStringLiteral("Remove"), this);
    auto *soundButtons = new QVBoxLayout;
    soundButtons->addWidget(btnAddSound);
    soundButtons->addWidget(btnRemoveSound);
    soundButtons->addStretch();
    auto *soundRow = new QHBoxLayout;
    soundRow->addWidget(lstSoundFiles, 1);
    soundRow->addLayout(soundButtons);
    form->addRow(QStringLiteral("Then play:"), soundRow);
    cmbSoundEnd = ListOf(this, kSoundEndTexts, static_cast<int>(options.soundEnd));
    form->addRow(QStringLiteral("Sound:"), cmbSoundEnd);

    auto *buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    auto *layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(buttons);

    connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    connect(btnAddSound, &QPushButton::clicked, this, [this] { AddSoundFiles(); });
    connect(btnRemoveSound, &QPushButton::clicked, this, [this] {
        qDeleteAll(lstSoundFiles->selectedItems());
        UpdateControls();
    });
    connect(cmbFrameSize, &QComboBox::currentIndexChanged, this, [this] { UpdateControls(); });
    connect(lstSoundFiles, &QListWidget::itemSelectionChanged, this, [this] { UpdateControls(); });
    UpdateControls();
}

void TMovieSettingsDialog::UpdateControls()
{
    const int index = cmbFrameSize->currentIndex();
    const bool other = index == kOtherSize;
    edtWidth->setEnabled(other);
    edtHeight->setEnabled(other);
    if (index >= 1 && index < kOtherSize) {
        edtWidth->setValue(kNamedSizes[index - 1].width);
        edtHeight->setValue(kNamedSizes[index - 1].height);
    }
    btnRemoveSound->setEnabled(!lstSoundFiles->selectedItems().isEmpty());
}

void TMovieSettingsDialog::AddSoundFiles()
{
    TOpenDialog dialog(this);
    dialog.Filter = "Sound files|*.wav;*.mp3;*.m4a;*.aac;*.flac;*.ogg;*.oga;*.opus|All files|*";
    dialog.MultiSelect = true;
    dialog.Title = "Add Sound Tracks";
    if (!dialog.Execute())
        return;
    for (const std::string &file : dialog.Files())
        AddSoundItem(file);
}

void TMovieSettingsDialog::AddSoundItem(const std::string &File)
{
    // The name shown may have lost bytes that are not UTF-8; the item keeps them.
    auto *item = new QListWidgetItem(
        QString::fromUtf8(File.data(), static_cast<qsizetype>(File.size())), lstSoundFiles);
    item->setData(Qt::UserRole, QByteArray(File.data(), static_cast<qsizetype>(File.size())));
}

MovieOptions TMovieSettingsDialog::Options() const
{
    MovieOptions options;
    if (cmbFrameSize->currentIndex() > 0) {
        // The boxes step by 2; a typed odd side goes down to the even one below.
        options.width = edtWidth->value() & ~1;
        options.height = edtHeight->value() & ~1;
    }
    options.framesPerSecond = cmbFrameRate->currentData().toInt();
    options.fit = static_cast<MovieOptions::Fit>(cmbFit->currentIndex());
    options.autoRotate = chkAutoRotate->isChecked();
    options.container = static_cast<MovieOptions::Container>(cmbContainer->currentIndex());
    for (int i = 0; i < lstSoundFiles->count(); ++i)
        options.moreSoundFiles.push_back(
            lstSoundFiles->item(i)->data(Qt::UserRole).toByteArray().toStdString());
    options.soundEnd = static_cast<MovieOptions::SoundEnd>(cmbSoundEnd->currentIndex());
    return options;
}

std::string MovieSummary(const MovieOptions &o)
{
    static const char *const fits[] = {"stretched", "letterboxed", "cropped", "over a blur"};
    static const char *const ends[]
        = {"ends with the pictures", "kept whole", "repeated to the end"};
    std::string text = "Frame: ";
    text += o.width > 0 ? std::to_string(o.width) + " x " + std::to_string(o.height)
                        : std::string("as Video Resolution");
    text += "\n" + std::to_string(o.framesPerSecond) + " frames a second";
    text += std::string("\nPhotos ") + fits[static_cast<int>(o.fit)];
    text += o.autoRotate ? "\nTurned upright" : "\nShown as stored";
    text += std::string("\nMovie: photo_video.") + ContainerExtension(o.container);
    text += std::string("\nSound ") + ends[static_cast<int>(o.soundEnd)];
    if (!o.moreSoundFiles.empty())
        text += "\n" + std::to_string(o.moreSoundFiles.size()) + " more sound track"
                + (o.moreSoundFiles.size() == 1 ? "" : "s");
    return text;
}

TMovieSettingsBox::TMovieSettingsBox(QWidget *parent)
    : QGroupBox(parent)
{
    setObjectName(QStringLiteral("pnl3_grpMovie"));
    setTitle(QStringLiteral(" Movie  "));
    lblSummary = new QLabel(this);
    lblSummary->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    btnSettings = new QPushButton(QStringLiteral("Settings..."), this);
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(10, 14, 10, 10);
    layout->addWidget(lblSummary, 1);
    layout->addWidget(btnSettings, 0, Qt::AlignRight);
    connect(btnSettings, &QPushButton::clicked, this, [this] { btnSettingsClick(); });
    SetOptions(FOptions);
}

void TMovieSettingsBox::SetOptions(const MovieOptions &options)
{
    FOptions = options;
    lblSummary->setText(QString::fromStdString(MovieSummary(FOptions)));
    if (OnChange)
        OnChange();
}

void TMovieSettingsBox::btnSettingsClick()
{
    TMovieSettingsDialog dialog(FOptions, window());
    if (dialog.exec() != QDialog::Accepted)
        return;
    const MovieOptions before = FOptions;
    SetOptions(dialog.Options());
    if (OnChosen)
        OnChosen(before);
}

} // namespace quillon
