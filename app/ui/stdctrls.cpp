#include "app/ui/stdctrls.h"
#include "app/photos/photo_check.h"

#include "platform/forms/application.h"
#include "platform/forms/graphics.h"
#include "platform/forms/sysutils.h"
#include "platform/jpeg/jpeg.h"
#include "platform/win32/files.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QGridLayout>
#include <QHeaderView>
#include <QImageReader>
#include <QKeyEvent>
#include <QLabel>
#include <QLocale>
#include <QPainter>
#include <QRadioButton>
#include <QScreen>
#include <QSplitter>
#include <QToolButton>
#include <QTreeView>

#include <algorithm>
#include <atomic>
#include <climits>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <stdexcept>
#include <thread>
#include <unistd.h>

namespace quillon {

// TRadioGroup

TRadioGroup::TRadioGroup(QWidget *parent)
    : QGroupBox(parent)
{}

void TRadioGroup::SetCaption(const std::string &caption)
{
    setTitle(QString::fromStdString(caption));
}

void TRadioGroup::SetItems(const std::vector<std::string> &items)
{
    for (QRadioButton *button : buttons_)
        delete button;
    buttons_.clear();
    itemIndex_ = -1;
    for (std::size_t i = 0; i < items.size(); ++i) {
        auto *button = new QRadioButton(QString::fromStdString(items[i]), this);
        const int index = static_cast<int>(i);
        connect(button, &QRadioButton::toggled, this,
                [this, index](bool checked) { Toggled(index, checked); });
        button->show();
        buttons_.push_back(button);
    }
    ArrangeButtons();
}

std::string TRadioGroup::Item(int index) const
{
    const QRadioButton *button = Button(index);
    return button ? button->text().toStdString() : std::string();
}

void TRadioGroup::SetItem(int index, const std::string &caption)
{
    if (QRadioButton *button = Button(index))
        button->setText(QString::fromStdString(caption));
}

QRadioButton *TRadioGroup::Button(int index) const
{
    if (index < 0 || index >= ItemCount())
        return nullptr;
    return buttons_[static_cast<std::size_t>(index)];
}

void TRadioGroup::SetItemIndex(int index)
{
    if (index < 0 || index >= ItemCount())
        index = -1;
    if (index == itemIndex_)
        return;
    updating_ = true;
    for (int i = 0; i < ItemCount(); ++i) {
        buttons_[static_cast<std::size_t>(i)]->setAutoExclusive(false);
        buttons_[static_cast<std::size_t>(i)]->setChecked(i == index);
        buttons_[static_cast<std::size_t>(i)]->setAutoExclusive(true);
    }
    updating_ = false;
    itemIndex_ = index;
    if (const forms::TNotifyEvent handler = OnClick)
        handler(this);
}

void TRadioGroup::Toggled(int index, bool checked)
{
    if (updating_ || !checked || index == itemIndex_)
        return;
    itemIndex_ = index;
    if (const forms::TNotifyEvent handler = OnClick) {
        try {
            handler(this);
        } catch (...) {
            forms::HandleException(std::current_exception());
        }
    }
}

void TRadioGroup::ArrangeButtons()
{
    // The framework's arrangement: the room under the caption is shared evenly,
    // one row per item.
    const int count = ItemCount();
    if (count == 0)
        return;
    const int textHeight = fontMetrics().height();
    const int room = height() - textHeight - 5;
    const int rowHeight = room / count;
    const int top = textHeight + 1 + (room % count) / 2;
    for (int i = 0; i < count; ++i)
        buttons_[static_cast<std::size_t>(i)]->setGeometry(8, top + i * rowHeight, width() - 10,
                                                           rowHeight);
}

void TRadioGroup::resizeEvent(QResizeEvent *event)
{
    QGroupBox::resizeEvent(event);
    ArrangeButtons();
}

void TRadioGroup::changeEvent(QEvent *event)
{
    QGroupBox::changeEvent(event);
    if (event->type() == QEvent::FontChange)
        ArrangeButtons();
}

// TSpinEdit

TSpinEdit::TSpinEdit(QWidget *parent)
    : QLineEdit(parent)
{
    auto makeButton = [this](Qt::ArrowType arrow, int direction) {
        auto *button = new QToolButton(this);
        button->setArrowType(arrow);
        button->setAutoRepeat(true);
        button->setFocusPolicy(Qt::NoFocus);
        button->setCursor(Qt::ArrowCursor);
        button->setIconSize(QSize(7, 5));
        connect(button, &QToolButton::clicked, this, [this, direction] { Step(direction); });
        return button;
    };
    up_ = makeButton(Qt::UpArrow, 1);
    down_ = makeButton(Qt::DownArrow, -1);
    setText(QStringLiteral("0"));
}

int TSpinEdit::Value() const
{
    return forms::StrToIntDef(text().toStdString(), minValue_);
}

int TSpinEdit::CheckValue(long long value) const
{
    if (maxValue_ != minValue_)
        value = std::clamp<long long>(value, minValue_, maxValue_);
    return static_cast<int>(std::clamp<long long>(value, INT_MIN, INT_MAX));
}

void TSpinEdit::SetValue(long long value)
{
    setText(QString::number(CheckValue(value)));
}

void TSpinEdit::ApplyBounds()
{
    const int value = Value();
    if (CheckValue(value) != value)
        SetValue(value);
}

bool TSpinEdit::IsValidChar(QChar c)
{
    if (c.unicode() < 0x20 || c.unicode() == 0x7F)
        return c != QChar('\r');
    const QString separator = QLocale().decimalPoint();
    return c.isDigit() || c == QChar('+') || c == QChar('-')
           || (!separator.isEmpty() && c == separator.front());
}

void TSpinEdit::Step(int direction)
{
    if (isReadOnly()) {
        QApplication::beep();
        return;
    }
    SetValue(static_cast<long long>(Value()) + static_cast<long long>(direction) * increment_);
}

void TSpinEdit::keyPressEvent(QKeyEvent *event)
{
    if (event->key() == Qt::Key_Up || event->key() == Qt::Key_Down) {
        Step(event->key() == Qt::Key_Up ? 1 : -1);
        event->accept();
        return;
    }
    const QString typed = event->text();
    if (typed.size() == 1 && !IsValidChar(typed.front())) {
        QApplication::beep();
        event->accept();
        return;
    }
    QLineEdit::keyPressEvent(event);
}

void TSpinEdit::focusOutEvent(QFocusEvent *event)
{
    ApplyBounds();
    QLineEdit::focusOutEvent(event);
}

void TSpinEdit::resizeEvent(QResizeEvent *event)
{
    QLineEdit::resizeEvent(event);
    // The arrows stand on the right edge, inside the frame, one above the other.
    const int w = 15;
    const int inner = height() - 4;
    const int upHeight = (inner + 1) / 2;
    up_->setGeometry(width() - w - 2, 2, w, upHeight);
    down_->setGeometry(width() - w - 2, 2 + upHeight, w, inner - upHeight);
    setTextMargins(0, 0, w, 0);
}

// TBevel

TBevel::TBevel(QWidget *parent)
    : QWidget(parent)
{
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

void TBevel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int y = height() - 2;
    painter.fillRect(0, y, width(), 1, QColor(0, 0, 0, 70));
    painter.fillRect(0, y + 1, width(), 1, QColor(255, 255, 255, 40));
}

// TOpenDialog

QStringList NameFiltersOf(const std::string &filter)
{
    const QStringList parts = QString::fromStdString(filter).split(QChar('|'));
    QStringList filters;
    for (int i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns;
        for (const QString &pattern : parts[i + 1].split(QChar(';'), Qt::SkipEmptyParts)) {
            QString anyCase;
            for (QChar c : pattern.trimmed()) {
                if (c.isLetter() && c.toLower() != c.toUpper())
                    anyCase += QStringLiteral("[%1%2]").arg(c.toLower(), c.toUpper());
                else
                    anyCase += c;
            }
            patterns << anyCase;
        }
        filters << QStringLiteral("%1 (%2)").arg(parts[i], patterns.join(QChar(' ')));
    }
    return filters;
}

TOpenDialog::TOpenDialog(QWidget *owner)
    : owner_(owner)
{}

namespace {

// Shows the picture under the cursor of the dialog, shrunk to fit.
// The picture fitted into `box`, its shape kept, never enlarged.
QImage Fitted(const QImage &whole, QSize box)
{
    const QSize fit = whole.size().scaled(box, Qt::KeepAspectRatio).boundedTo(whole.size());
    return fit == whole.size() ? whole
                               : whole.scaled(fit, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

// Decoded at the smallest DCT scale that still fills the box, upright as the
// list turns it when asked. Raises jpeg::Stopped once `stop` is set.
QImage PreviewOfJpeg(const std::string &path, bool upright, QSize box,
                     const std::atomic<bool> *stop)
{
    jpeg::Decoder decoder(path);
    decoder.setUpright(upright);
    decoder.setStop(stop);
    const QSize whole(decoder.outputWidth(), decoder.outputHeight());
    const QSize fit = whole.scaled(box, Qt::KeepAspectRatio).boundedTo(whole);
    decoder.setMinimumOutputSize(std::max(fit.width(), 1), std::max(fit.height(), 1));
    const jpeg::Image decoded = decoder.decodeImage();
    const QImage image(decoded.pixels.data(), decoded.width, decoded.height, decoded.stride,
                       QImage::Format_BGR888);
    return Fitted(image.copy(), box);
}

QImage PreviewOfBitmap(const std::string &path, QSize box, const std::atomic<bool> *stop)
{
    forms::TBitmap bitmap;
    bitmap.LoadFromFile(path, stop);
    return Fitted(bitmap.Image(), box);
}

// The picture of the file fitted into `box`; a null image for a file that is
// not plain or that no reader takes. Raises what the readers raise, and
// jpeg::Stopped or forms::ELoadStopped once `stop` is set.
QImage PreviewOf(const QString &path, bool upright, QSize box, const std::atomic<bool> *stop)
{
    // Only a plain file is opened: pointing at a FIFO must not hang the dialog.
    QFile file;
    const int fd = win32::OpenInputFile(QFile::encodeName(path).toStdString());
    if (fd >= 0 && !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
        ::close(fd);
    if (!file.isOpen())
        return {};
    const std::string name = QFile::encodeName(path).toStdString();
    // A JPEG or a bitmap as the list, the movie and the frame server read it
    // (their orientation rules, their colours); any other picture through Qt.
    switch (quillon::PhotoKindOf(name)) {
    case quillon::TPhotoKind::Jpeg:
        return PreviewOfJpeg(name, upright, box, stop);
    case quillon::TPhotoKind::Bitmap:
        return PreviewOfBitmap(name, box, stop);
    case quillon::TPhotoKind::Unread:
        break;
    }
    QImageReader reader(&file);
    reader.setAutoTransform(upright);
    const QSize size = reader.size();
    if (size.isValid())
        reader.setScaledSize(size.scaled(box, Qt::KeepAspectRatio).boundedTo(size));
    return reader.read();
}

// Makes the dialog's previews on a thread of its own, so that a large photo (a
// progressive JPEG is read whole whatever size it is shown at) does not hold up
// the dialog; a file chosen meanwhile gives up the one being made and is made
// next. A child of the preview label: it is gone, and its thread joined, before
// the label.
class TPreviewMaker : public QObject
{
public:
    TPreviewMaker(QLabel *preview, bool upright)
        : QObject(preview)
        , FPreview(preview)
        , FUpright(upright)
        , FThread([this] { Run(); })
    {}

    ~TPreviewMaker() override
    {
        {
            std::lock_guard lock(FMutex);
            FEnding = true;
            FStop = true;
        }
        FWake.notify_all();
        FThread.join();
    }

    void Ask(const QString &path)
    {
        FPreview->clear();
        const QSize box = FPreview->size() - QSize(8, 8);
        {
            std::lock_guard lock(FMutex);
            FWanted = {path, box, ++FLatest};
            FAsked = true;
            FStop = true;
        }
        FWake.notify_all();
    }

private:
    struct TWanted
    {
        QString Path;
        QSize Box;
        std::uint64_t Serial = 0;
    };

    void Run()
    {
        std::unique_lock lock(FMutex);
        for (;;) {
            FWake.wait(lock, [&] { return FEnding || FAsked; });
            if (FEnding)
                return;
            const TWanted wanted = FWanted;
            FAsked = false;
            FStop = false;
            lock.unlock();
            // A file that cannot be read has no preview; one given up is no
            // longer the latest, which Show drops.
            QImage image;
            try {
                image = PreviewOf(wanted.Path, FUpright, wanted.Box, &FStop);
            } catch (...) {
            }
            lock.lock();
            if (FEnding)
                return;
            QMetaObject::invokeMethod(
                this, [this, wanted, image] { Show(wanted, image); }, Qt::QueuedConnection);
        }
    }

    // On the window's thread.
    void Show(const TWanted &wanted, const QImage &image)
    {
        {
            std::lock_guard lock(FMutex);
            if (wanted.Serial != FLatest)
                return;
        }
        if (image.isNull())
            FPreview->setText(QFileInfo(wanted.Path).isFile() ? QStringLiteral("(no preview)")
                                                              : QString());
        else
            FPreview->setPixmap(QPixmap::fromImage(image));
    }

    QLabel *const FPreview;
    const bool FUpright;
    std::mutex FMutex;
    std::condition_variable FWake;
    TWanted FWanted;
    std::uint64_t FLatest = 0;
    bool FAsked = false;
    bool FEnding = false;
    std::atomic<bool> FStop{false};
    std::thread FThread; // last: started once the rest is made
};

void AddPreview(QFileDialog &dialog, bool upright)
{
    auto *grid = qobject_cast<QGridLayout *>(dialog.layout());
    if (!grid)
        return;
    auto *preview = new QLabel(&dialog);
    preview->setObjectName(QStringLiteral("preview"));
    preview->setFixedSize(180, 150);
    preview->setAlignment(Qt::AlignCenter);
    preview->setFrameShape(QFrame::StyledPanel);
    grid->addWidget(preview, 1, grid->columnCount(), grid->rowCount() - 1, 1);
    auto *maker = new TPreviewMaker(preview, upright);
    QObject::connect(&dialog, &QFileDialog::currentChanged, maker,
                     [maker](const QString &path) { maker->Ask(path); });
}

} // namespace

void SizeFileDialog(QFileDialog &dialog)
{
    dialog.setViewMode(QFileDialog::Detail);
    if (auto *tree = dialog.findChild<QTreeView *>(QStringLiteral("treeView"))) {
        QHeaderView *header = tree->header();
        header->setStretchLastSection(false);
        header->setSectionResizeMode(0, QHeaderView::Stretch);
        for (int column = 1; column < header->count(); ++column)
            header->setSectionResizeMode(column, QHeaderView::ResizeToContents);
    }
    const QFontMetrics metrics(dialog.font());
    QSize size(metrics.horizontalAdvance(QLatin1Char('x')) * 120, metrics.height() * 30);
    if (const QScreen *screen = dialog.screen())
        size = size.boundedTo(screen->availableSize() * 9 / 10);
    dialog.resize(size.expandedTo(dialog.sizeHint()));
    // The places on the left wide enough for a folder's name of some length.
    if (auto *splitter = dialog.findChild<QSplitter *>(QStringLiteral("splitter")))
        splitter->setSizes({metrics.horizontalAdvance(QLatin1Char('x')) * 24, size.width()});
}

bool TOpenDialog::Execute()
{
    QFileDialog dialog(owner_, QString::fromStdString(Title),
                       folder_.isEmpty() ? QDir::homePath() : folder_);
    dialog.setObjectName(QStringLiteral("OpenDialog"));
    dialog.setOption(QFileDialog::DontUseNativeDialog);
    dialog.setOption(QFileDialog::HideNameFilterDetails);
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(MultiSelect ? QFileDialog::ExistingFiles : QFileDialog::ExistingFile);
    const QStringList filters = NameFiltersOf(Filter);
    if (!filters.isEmpty()) {
        dialog.setNameFilters(filters);
        if (FilterIndex >= 1 && FilterIndex <= filters.size())
            dialog.selectNameFilter(filters[FilterIndex - 1]);
    }
    dialog.setSizeGripEnabled(true);
    if (PicturePreview)
        AddPreview(dialog, PreviewUpright);
    SizeFileDialog(dialog);
    if (dialog.exec() != QDialog::Accepted)
        return false;
    const QStringList chosen = dialog.selectedFiles();
    if (chosen.isEmpty())
        return false;
    files_.clear();
    for (const QString &file : chosen)
        files_.push_back(QDir::cleanPath(QFileInfo(file).absoluteFilePath()).toStdString());
    const int index = filters.indexOf(dialog.selectedNameFilter());
    if (index >= 0)
        FilterIndex = index + 1;
    folder_ = dialog.directory().absolutePath();
    return true;
}

} // namespace quillon
