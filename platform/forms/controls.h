// The controls that the system's own controls derive from, on Qt widgets.
//
// TControl<QtBase> gives a widget the framework's mouse rules: a left press
// marks the press (Qt grabs the mouse for the widget until the release); the
// release raises the click step when the press was marked and the pointer is
// inside, then mouse-up; the second press of a double click raises the
// double-click step and marks nothing, so its release raises no click. The
// protected WM* and CM* members are the message handlers that a derived control
// overrides, calling the base afterwards as the framework's controls do.
#pragma once

#include "platform/forms/graphics.h"
#include "platform/win32/window.h"

#include <QLabel>
#include <QWidget>

#include <cstdint>
#include <functional>
#include <string>

class QEnterEvent;

namespace forms {

using WORD = std::uint16_t;

enum TMouseButton { mbLeft, mbRight, mbMiddle };

using TShiftState = unsigned;
constexpr TShiftState ssShift = 0x01;
constexpr TShiftState ssAlt = 0x02;
constexpr TShiftState ssCtrl = 0x04;
constexpr TShiftState ssLeft = 0x08;
constexpr TShiftState ssRight = 0x10;
constexpr TShiftState ssMiddle = 0x20;
constexpr TShiftState ssDouble = 0x40;

using TNotifyEvent = std::function<void(QObject *Sender)>;
using TMouseEvent
    = std::function<void(QObject *Sender, TMouseButton Button, TShiftState Shift, int X, int Y)>;
using TMouseMoveEvent = std::function<void(QObject *Sender, TShiftState Shift, int X, int Y)>;
using TKeyEvent = std::function<void(QObject *Sender, WORD &Key, TShiftState Shift)>;

// What a mouse message carries: the buttons and keys held, and the position.
struct TWMMouse
{
    TShiftState Keys = 0;
    int XPos = 0;
    int YPos = 0;
};

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons = {});
// The Windows virtual-key code of a Qt key (letters and digits are the same).
WORD VirtualKeyOf(int qtKey);

template <class QtBase>
class TControl : public QtBase
{
public:
    explicit TControl(QWidget *parent = nullptr);

    int Tag = 0;
    TNotifyEvent OnClick;
    TNotifyEvent OnDblClick;
    TMouseEvent OnMouseDown;
    TMouseEvent OnMouseUp;
    TMouseMoveEvent OnMouseMove;
    TNotifyEvent OnMouseEnter;
    TNotifyEvent OnMouseLeave;

protected:
    // The click step and the double-click step: raise the events.
    virtual void Click();
    virtual void DblClick();
    virtual void MouseDown(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseUp(TMouseButton button, TShiftState shift, int x, int y);
    virtual void MouseMove(TShiftState shift, int x, int y);

    virtual void WMLButtonDown(const TWMMouse &message);
    virtual void WMLButtonDblClk(const TWMMouse &message);
    virtual void WMLButtonUp(const TWMMouse &message);
    // Pointer entering and leaving the control.
    virtual void CMMouseEnter();
    virtual void CMMouseLeave();

    void mousePressEvent(QMouseEvent *event) override;
    void mouseDoubleClickEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;

private:
    bool clicked_ = false;
};

extern template class TControl<QWidget>;
extern template class TControl<QLabel>;

// The picture control: paints its picture unscaled at its top-left corner and,
// with AutoSize on, takes the picture's size. Where there is no picture the
// parent shows through.
class TImage : public TControl<QWidget>
{
public:
    explicit TImage(QWidget *parent = nullptr);

    // The displayed picture; writing to it repaints the control.
    TPicture *Picture() { return &picture_; }
    const TPicture *Picture() const { return &picture_; }
    void SetPicture(const TPicture *picture) { picture_.Assign(picture); }

    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);

    // While the picture is empty and this is not, the control shows a framed
    // cell with this text instead of nothing.
    const std::string &EmptyText() const { return emptyText_; }
    void SetEmptyText(const std::string &value);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    void PictureChanged();

    TPicture picture_;
    bool autoSize_ = false;
    std::string emptyText_;
};

// A text label: plain text at the top-left, sized to its text while AutoSize is
// on; transparent labels let the parent show through.
class TLabel : public TControl<QLabel>
{
public:
    explicit TLabel(QWidget *parent = nullptr);

    std::string Caption() const;
    void SetCaption(const std::string &caption);
    bool AutoSize() const { return autoSize_; }
    void SetAutoSize(bool value);
    bool Transparent() const { return transparent_; }
    void SetTransparent(bool value);
    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TColor FontColor() const { return fontColor_; }
    void SetFontColor(TColor color);
    // At most `width` pixels of caption show: a longer one ends in "…" and its
    // whole text is the hint. 0 (the default): no bound.
    void SetMaxWidth(int width);

private:
    void Adjust();
    void ShowCaption();

    QString caption_;
    int maxWidth_ = 0;
    bool autoSize_ = true;
    bool transparent_ = false;
    TColor color_ = clBtnFace;
    TColor fontColor_ = clWindowText;
};

// A rectangle filled with the brush colour and outlined with the pen.
class TShape : public TControl<QWidget>
{
public:
    explicit TShape(QWidget *parent = nullptr);

    TColor BrushColor() const { return brushColor_; }
    void SetBrushColor(TColor color);
    TColor PenColor() const { return penColor_; }
    void SetPenColor(TColor color);
    int PenWidth() const { return penWidth_; }
    void SetPenWidth(int width);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    TColor brushColor_ = clWhite;
    TColor penColor_ = clBlack;
    int penWidth_ = 1;
};

enum class TBevelCut { bvNone, bvLowered, bvRaised };

// A panel: fills its client area with its colour and draws its outer bevel.
// Key releases reach KeyUp, whose base raises OnKeyUp.
class TCustomPanel : public TControl<QWidget>
{
public:
    explicit TCustomPanel(QWidget *parent = nullptr);

    TColor Color() const { return color_; }
    void SetColor(TColor color);
    TBevelCut BevelOuter() const { return bevelOuter_; }
    void SetBevelOuter(TBevelCut bevel);

    TKeyEvent OnKeyUp;
    virtual void KeyUp(WORD &key, TShiftState shift);

protected:
    void paintEvent(QPaintEvent *event) override;
    void keyReleaseEvent(QKeyEvent *event) override;

private:
    TColor color_ = clBtnFace;
    TBevelCut bevelOuter_ = TBevelCut::bvRaised;
};

// Window handles of controls, for the messages of platform/win32. A handle lives
// as long as its control and belongs to the GUI thread, so sends and posts from
// other threads run its procedure there. All three are for the GUI thread.
//
// Gives `control` a handle whose procedure is `proc`, or gives its existing
// handle that procedure.
HWND AllocateHandle(QWidget *control, win32::WindowProc proc);
// The control's handle, made on first use with a procedure that answers 0.
HWND HandleOf(QWidget *control);
// The control that owns `handle`; null for none.
QWidget *FindControl(HWND handle);

} // namespace forms
