// The row of thumbnails as people use it, beside the photo list commands: photos
// are added without holding up the window (the status line counts them in,
// under the busy cursor), the row always shows what it holds, and the keyboard,
// the mouse wheel and dragging a thumbnail work on it.
#pragma once

#include "app/photos/photo_adder.h"

#include <QObject>
#include <QPoint>
#include <QPointer>

#include <functional>
#include <memory>
#include <string>
#include <vector>

class QKeyEvent;
class QTimer;
class QWheelEvent;
class QWidget;

namespace forms {
class TImage;
}

namespace quillon {

class TMainForm;
class TThumbItem;

class TPhotoRow : public QObject
{
public:
    explicit TPhotoRow(TMainForm &Form);
    ~TPhotoRow() override;

    bool Adding() const { return FAdder.Busy(); }
    // While photos are being added, a command must not act on the list: this
    // beeps and answers true then.
    bool RefuseWhileAdding() const;

    // Appends the photos that `Source` lists (it runs on a worker thread, and so
    // may scan folders). Once the last one is in, `Then` runs: the rest of the
    // command. A photo that cannot be read ends the add there, without its
    // entry; its error goes to the application's error handler and `Then` does
    // not run. False, with a beep, while another add is under way.
    bool Append(std::function<std::vector<std::string>()> Source, std::function<void()> Then);
    // The same, but photos that cannot be read are left out and the add goes on;
    // `Then` learns which.
    bool AppendLeavingOut(std::function<std::vector<std::string>()> Source,
                          std::function<void(const TPhotoAdder::TOutcome &)> Then);

    // The scroll box's content is as wide as the photos in the row (the panel
    // itself never shrinks), so the view never stands past the row's end.
    void KeepInView();
    // Scrolls the row so that the photo at Index is the first one in view.
    void ScrollTo(int Index);
    // Scrolls the row just enough to show the photo at Index.
    void ShowPhoto(int Index);
    // Moves the photo at From to To; the moved photo is selected afterwards.
    void MovePhoto(int From, int To);

    TPhotoAdder &Adder() { return FAdder; }

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    bool StartAdd(std::function<std::vector<std::string>()> Source, TPhotoAdder::TFailureRule Rule,
                  std::function<void(const TPhotoAdder::TOutcome &)> Finished);
    void Progress(int Done, int Total);
    void RevealRow();
    bool KeyPressed(QKeyEvent *event);
    bool Wheel(QWheelEvent *event);
    bool ThumbnailMouse(forms::TImage *image, QEvent *event);
    void DragTo(QPoint global);
    void EndDrag(bool drop);
    void AutoScroll();
    int SlotAt(QPoint global) const;
    // Whether the pointer is neither above nor below the row.
    bool LevelWithRow(QPoint global) const;
    int IndexOfImage(const QObject *image) const;

    TMainForm &FForm;
    TPhotoAdder FAdder;
    std::string FStatusBefore;
    bool FCursorSet = false;

    // A thumbnail pressed with the left button, and whether it is being dragged.
    QPointer<forms::TImage> FPressed;
    QPoint FPressGlobal;
    bool FDragging = false;
    int FSlot = -1;
    QWidget *FMarker = nullptr;
    QTimer *FScrollTimer = nullptr;
    int FDesignWidth = 0;
};

} // namespace quillon
