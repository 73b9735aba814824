#include "app/photos/PhotoThumbPanel.h"

#include "platform/forms/errors.h"

#include <QPainter>

#include <algorithm>

namespace quillon {

namespace {

constexpr forms::TColor kSelectionOutline = 0x1C1711;

// What an empty thumbnail shows: the file's name, after the last '/'.
std::string NameOf(const std::string &Path)
{
    const std::size_t slash = Path.find_last_of('/');
    return slash == std::string::npos ? Path : Path.substr(slash + 1);
}

} // namespace

// TThumbItem

TThumbItem::TThumbItem(forms::TCollection *Collection)
    : forms::TCollectionItem(Collection)
    , FImage(std::make_unique<forms::TImage>())
    , FCaptionLabel(std::make_unique<forms::TLabel>())
{
    FCaptionLabel->SetCaption("1");
    FCaptionLabel->SetTransparent(true);
    FCaptionLabel->SetFontColor(forms::clWhite);
}

TThumbItem::~TThumbItem()
{
    FImage.reset();
    FCaptionLabel.reset();
}

void TThumbItem::Assign(const forms::TCollectionItem *Source)
{
    const auto *other = dynamic_cast<const TThumbItem *>(Source);
    if (!other || other == this)
        return;
    FFileName = other->FFileName;
    FComment = other->FComment;
    FImage->SetEmptyText(other->FImage->EmptyText());
    FImage->SetPicture(other->FImage->Picture());
}

void TThumbItem::SetFileName(const std::string &Value)
{
    FFileName = Value;
    FImage->SetEmptyText(NameOf(Value));
    const auto *items = dynamic_cast<const TThumbItems *>(Collection());
    const forms::TBitmap thumbnail
        = MakePhotoThumbnail(Value, !items || items->AutoRotate()).Bitmap;
    FImage->Picture()->SetGraphic(&thumbnail);
}

void TThumbItem::TakeFileName(const std::string &Value, const forms::TBitmap &Thumbnail)
{
    FFileName = Value;
    FImage->SetEmptyText(NameOf(Value));
    FImage->Picture()->SetGraphic(&Thumbnail);
}

// TThumbItems

TThumbItems::TThumbItems(forms::TCollectionItemClass ItemClass)
    : forms::TCollection(ItemClass)
{}

TThumbItem *TThumbItems::Add()
{
    return dynamic_cast<TThumbItem *>(forms::TCollection::Add());
}

TThumbItem *TThumbItems::Items(int Index) const
{
    return dynamic_cast<TThumbItem *>(Item(Index));
}

void TThumbItems::SetAutoRotate(bool Value)
{
    if (Value == FAutoRotate)
        return;
    FAutoRotate = Value;
    for (int i = 0; i < Count(); ++i) {
        TThumbItem *item = Items(i);
        if (!JpegIsTurned(item->FileName()))
            continue;
        // A photo that can no longer be read keeps the thumbnail it has.
        try {
            item->SetFileName(item->FileName());
        } catch (const forms::Exception &) {
        }
    }
}

void TThumbItems::Notify(forms::TCollectionItem *Item, forms::TCollectionNotification Action)
{
    forms::TCollection::Notify(Item, Action);
    if (const TItemNotifyEvent handler = OnItemNotify)
        handler(Item, Action);
}

// TPhotoThumbPanel

TPhotoThumbPanel::TPhotoThumbPanel(QWidget *parent)
    : forms::TCustomPanel(parent)
{
    SetBevelOuter(forms::TBevelCut::bvNone);
    FThumbItems = std::make_unique<TThumbItems>(forms::ItemClassOf<TThumbItem>());
    FThumbItems->OnItemNotify
        = [this](forms::TCollectionItem *Item, forms::TCollectionNotification Action) {
              ItemsNotify(Item, Action);
          };
    FSelectionShape = std::make_unique<forms::TShape>();
}

TPhotoThumbPanel::~TPhotoThumbPanel()
{
    FSelectionShape.reset();
    FThumbItems.reset();
}

void TPhotoThumbPanel::SetSelectedIndex(int Value)
{
    const int old = FSelectedIndex;
    FSelectedIndex = Value;
    ArrangeThumbs();
    if (const TIndexChangeEvent handler = OnIndexChanged)
        handler(this, old, Value);
}

void TPhotoThumbPanel::SetThumbItems(const TThumbItems *Value)
{
    FThumbItems->Assign(Value);
}

void TPhotoThumbPanel::WorkOutCounts()
{
    // The panel's users must keep these positive; a division by zero would end
    // the program, an error only ends the command.
    if (FCellHeight <= 0 || FHorizontalGap + FCellWidth <= 0)
        throw forms::Exception("Division by zero");
    FColumnCount = width() / (FHorizontalGap + FCellWidth);
    FRowCount = (height() + FVerticalGap + FCellHeight - 1) / FCellHeight;
    // A grid narrower than one cell still lays its entries out, in one column.
    if (FWrap && FColumnCount < 1)
        FColumnCount = 1;
}

void TPhotoThumbPanel::PlaceImage(forms::TImage *Image, int X, int Y)
{
    if (Image->parentWidget() != this)
        Image->setParent(this);
    Image->setGeometry(X, Y, FCellWidth, FCellHeight);
    Image->show();
}

void TPhotoThumbPanel::ArrangeThumbs()
{
    const int count = FThumbItems->Count();
    if (count == 0)
        FSelectedIndex = -1;
    SetColor(FBackColor);
    WorkOutCounts();

    // Grow, never shrink.
    bool grown = false;
    if (FWrap) {
        if (count > (FRowCount - 1) * FColumnCount) {
            const long long rows = (count + FColumnCount - 1) / FColumnCount;
            const long long needed = rows * (FCellHeight + FVerticalGap) + FVerticalGap;
            if (needed > height()) {
                resize(width(), static_cast<int>(std::min<long long>(needed, QWIDGETSIZE_MAX)));
                grown = true;
            }
        }
    } else if (count > FColumnCount) {
        const long long needed
            = static_cast<long long>(count) * (FCellWidth + FHorizontalGap) + FHorizontalGap;
        if (needed > width()) {
            resize(static_cast<int>(std::min<long long>(needed, QWIDGETSIZE_MAX)), height());
            grown = true;
        }
    }
    if (grown)
        WorkOutCounts();

    FMarks.clear();
    if (!FWrap) {
        const int y = FVerticalGap;
        for (int c = 1; c <= FColumnCount; ++c) {
            const int i = c - 1;
            const int x = c * FHorizontalGap + (c - 1) * FCellWidth;
            if (i < count)
                PlaceImage(FThumbItems->Items(i)->Image(), x, y);
            const QRect cell(x, y, FCellWidth, FCellHeight);
            if (i == FSelectedIndex && FSelectedIndex < count)
                FMarks.push_back({cell, forms::clActiveCaption});
            if (i != FSelectedIndex)
                FMarks.push_back({cell, FBackColor});
        }
        update();
        return;
    }

    for (int r = 1; r <= FRowCount; ++r) {
        for (int c = 1; c <= FColumnCount; ++c) {
            const int i = (r - 1) * FColumnCount + c - 1;
            if (i >= count)
                continue;
            const int x = c * FHorizontalGap + (c - 1) * FCellWidth;
            const int y = r * FVerticalGap - (FVerticalGap / 2) + (r - 1) * FCellHeight;
            TThumbItem *item = FThumbItems->Items(i);

            forms::TImage *image = item->Image();
            PlaceImage(image, x, y);
            image->Tag = i;
            image->OnClick = [this](QObject *Sender) { ThumbClick(Sender); };
            image->OnDblClick = OnDblClick;

            forms::TLabel *label = item->CaptionLabel();
            if (label->parentWidget() != this)
                label->setParent(this);
            label->move(x + 5, y + FCellHeight + 2);
            label->SetAutoSize(false);
            label->resize(62, label->height());
            if (item->Comment().empty())
                item->SetComment("Photo " + std::to_string(i + 1));
            label->SetCaption(item->Comment());
            label->show();

            forms::TShape *shape = FSelectionShape.get();
            if (FSelectedIndex < 0) {
                shape->move(-500, shape->y());
            } else if (i == FSelectedIndex && FSelectedIndex < count) {
                if (shape->parentWidget() != this)
                    shape->setParent(this);
                shape->lower();
                shape->setGeometry(x - 3, y - 3, FCellWidth + 6, FCellHeight + FVerticalGap);
                shape->SetBrushColor(forms::clBlack);
                shape->SetPenColor(kSelectionOutline);
                shape->SetPenWidth(1);
                shape->show();
            }
        }
    }
    update();
}

void TPhotoThumbPanel::ThumbClick(QObject *Sender)
{
    auto *image = dynamic_cast<forms::TImage *>(Sender);
    if (!image)
        throw forms::EInvalidCast();
    if (image->Tag != -1)
        SetSelectedIndex(image->Tag);
}

void TPhotoThumbPanel::ItemsNotify(forms::TCollectionItem *, forms::TCollectionNotification Action)
{
    if (Action != forms::cnDeleting)
        return;
    if (FSelectedIndex > 0) {
        SetSelectedIndex(FSelectedIndex - 1);
        ArrangeThumbs();
    }
}

void TPhotoThumbPanel::KeyUp(forms::WORD &, forms::TShiftState) {}

void TPhotoThumbPanel::paintEvent(QPaintEvent *event)
{
    forms::TCustomPanel::paintEvent(event);
    if (FMarks.empty())
        return;
    QPainter painter(this);
    // A 2-pixel frame around the cell, from (x - 2, y - 2) to the second pixel
    // past its right and bottom edges.
    for (const Mark &mark : FMarks) {
        const QColor colour = forms::ColorToQColor(mark.color);
        const QRect outer = mark.cell.adjusted(-2, -2, 2, 2);
        painter.fillRect(outer.left(), outer.top(), outer.width(), 2, colour);
        painter.fillRect(outer.left(), outer.bottom() - 1, outer.width(), 2, colour);
        painter.fillRect(outer.left(), outer.top(), 2, outer.height(), colour);
        painter.fillRect(outer.right() - 1, outer.top(), 2, outer.height(), colour);
    }
}

} // namespace quillon
