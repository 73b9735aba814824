// The thumbnail panel: owns the photo list (ThumbItems) and shows it as cells of
// a fixed size, in one row that grows to the right or in a grid that grows
// downwards, with one selected cell.
//
// Nothing here lays out by itself: a layout pass runs when SelectedIndex is
// written, when a deletion moves the selection, and when ArrangeThumbs is
// called. Writing an entry's FileName makes its thumbnail at once.
#pragma once

#include "app/photos/Thumbnail.h"
#include "platform/forms/classes.h"
#include "platform/forms/controls.h"

#include <QRect>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace quillon {

using TIndexChangeEvent
    = std::function<void(QObject *sender, std::int32_t oldIndex, std::int32_t newIndex)>;
using TItemNotifyEvent
    = std::function<void(forms::TCollectionItem *Item, forms::TCollectionNotification Action)>;

class TThumbItem : public forms::TCollectionItem
{
public:
    // Appends itself to `Collection`, then makes its picture control and caption
    // label, neither with a parent until a layout pass places them.
    explicit TThumbItem(forms::TCollection *Collection);
    ~TThumbItem() override;

    // Takes over the other entry's FileName, Comment and thumbnail; each entry
    // keeps its own controls.
    void Assign(const forms::TCollectionItem *Source) override;

    const std::string &FileName() const { return FFileName; }
    // Stores the path, then makes the thumbnail: ".jpg" (any case) is decoded as
    // a JPEG, ".bmp" loaded as a bitmap, anything else gives an empty thumbnail.
    // A file that cannot be read raises forms::EInvalidGraphic; the path stays
    // stored and the thumbnail keeps what it had.
    void SetFileName(const std::string &Value);
    // Stores the path with a thumbnail made beforehand by MakePhotoThumbnail
    // (on a worker thread): the entry ends as writing FileName would leave it.
    void TakeFileName(const std::string &Value, const forms::TBitmap &Thumbnail);
    forms::TImage *Image() const { return FImage.get(); }
    const std::string &Comment() const { return FComment; }
    void SetComment(const std::string &Value) { FComment = Value; }
    forms::TLabel *CaptionLabel() const { return FCaptionLabel.get(); }

private:
    std::string FComment;
    std::string FFileName;
    std::unique_ptr<forms::TImage> FImage;
    std::unique_ptr<forms::TLabel> FCaptionLabel;
};

class TThumbItems : public forms::TCollection
{
public:
    explicit TThumbItems(forms::TCollectionItemClass ItemClass);

    TThumbItem *Add();
    // The entry at a position; null out of range.
    TThumbItem *Items(int Index) const;

    // Told of every notification after the base handling.
    TItemNotifyEvent OnItemNotify;

    // Whether JPEG thumbnails stand upright as their orientation tag says (the
    // default). Changing it remakes the thumbnails of the entries it turns.
    bool AutoRotate() const { return FAutoRotate; }
    void SetAutoRotate(bool Value);

protected:
    void Notify(forms::TCollectionItem *Item, forms::TCollectionNotification Action) override;

private:
    bool FAutoRotate = true;
};

class TPhotoThumbPanel : public forms::TCustomPanel
{
public:
    explicit TPhotoThumbPanel(QWidget *parent = nullptr);
    ~TPhotoThumbPanel() override;

    // The layout pass.
    void ArrangeThumbs();
    // The click handler of every thumbnail in grid mode: selects the entry whose
    // position the control's tag holds. Raises forms::EInvalidCast for a sender
    // that is not a picture control.
    void ThumbClick(QObject *Sender);
    // The collection's hook: a deletion moves the selection back by one.
    void ItemsNotify(forms::TCollectionItem *Item, forms::TCollectionNotification Action);
    // Key releases change nothing and raise no OnKeyUp.
    void KeyUp(forms::WORD &Key, forms::TShiftState Shift) override;

    int HorizontalGap() const { return FHorizontalGap; }
    void SetHorizontalGap(int Value) { FHorizontalGap = Value; }
    int VerticalGap() const { return FVerticalGap; }
    void SetVerticalGap(int Value) { FVerticalGap = Value; }
    forms::TColor BackColor() const { return FBackColor; }
    void SetBackColor(forms::TColor Value) { FBackColor = Value; }
    int CellWidth() const { return FCellWidth; }
    void SetCellWidth(int Value) { FCellWidth = Value; }
    int CellHeight() const { return FCellHeight; }
    void SetCellHeight(int Value) { FCellHeight = Value; }
    int ThumbWidth() const { return FThumbWidth; }
    void SetThumbWidth(int Value) { FThumbWidth = Value; }
    int ThumbHeight() const { return FThumbHeight; }
    void SetThumbHeight(int Value) { FThumbHeight = Value; }
    bool Wrap() const { return FWrap; }
    void SetWrap(bool Value) { FWrap = Value; }
    int CellCount() const { return FCellCount; }
    void SetCellCount(int Value) { FCellCount = Value; }
    int SelectedIndex() const { return FSelectedIndex; }
    // The selection write: stores any value, lays out, then raises
    // OnIndexChanged with the old value and the value written, every time.
    void SetSelectedIndex(int Value);
    TThumbItems *ThumbItems() const { return FThumbItems.get(); }
    // Replaces the entries with copies of the other collection's entries.
    void SetThumbItems(const TThumbItems *Value);

    TIndexChangeEvent OnIndexChanged;

    forms::TShape *SelectionShape() const { return FSelectionShape.get(); }
    // Cells per row and rows, as the last layout pass worked them out.
    int ColumnCount() const { return FColumnCount; }
    int RowCount() const { return FRowCount; }

protected:
    // The base fill, then the selection marks of the last single-row pass.
    void paintEvent(QPaintEvent *event) override;

private:
    void WorkOutCounts();
    void PlaceImage(forms::TImage *Image, int X, int Y);

    std::unique_ptr<forms::TShape> FSelectionShape;
    forms::TColor FBackColor = forms::clBlack;
    int FThumbWidth = 0;
    int FThumbHeight = 0;
    bool FWrap = false;
    std::unique_ptr<TThumbItems> FThumbItems;
    int FCellWidth = 40;
    int FCellHeight = 30;
    int FCellCount = 0;
    int FColumnCount = 0;
    int FRowCount = 0;
    int FSelectedIndex = -1;
    int FHorizontalGap = 5;
    int FVerticalGap = 20;

    // The rectangles a single-row pass drew on the panel's surface, drawn again
    // by every repaint so that a repaint does not wipe the selection out.
    struct Mark
    {
        QRect cell;
        forms::TColor color;
    };
    std::vector<Mark> FMarks;
};

} // namespace quillon
