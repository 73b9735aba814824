#include "platform/forms/controls.h"

#include "platform/forms/application.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>

#include <algorithm>
#include <memory>
#include <mutex>
#include <unordered_map>

namespace forms {

TShiftState ShiftStateOf(Qt::KeyboardModifiers modifiers, Qt::MouseButtons buttons)
{
    TShiftState shift = 0;
    if (modifiers & Qt::ShiftModifier)
        shift |= ssShift;
    if (modifiers & Qt::AltModifier)
        shift |= ssAlt;
    if (modifiers & Qt::ControlModifier)
        shift |= ssCtrl;
    if (buttons & Qt::LeftButton)
        shift |= ssLeft;
    if (buttons & Qt::RightButton)
        shift |= ssRight;
    if (buttons & Qt::MiddleButton)
        shift |= ssMiddle;
    return shift;
}

WORD VirtualKeyOf(int qtKey)
{
    if ((qtKey >= Qt::Key_0 && qtKey <= Qt::Key_9) || (qtKey >= Qt::Key_A && qtKey <= Qt::Key_Z))
        return static_cast<WORD>(qtKey);
    if (qtKey >= Qt::Key_F1 && qtKey <= Qt::Key_F24)
        return static_cast<WORD>(0x70 + (qtKey - Qt::Key_F1));
    switch (qtKey) {
    case Qt::Key_Backspace:
        return 0x08;
    case Qt::Key_Tab:
        return 0x09;
    case Qt::Key_Return:
    case Qt::Key_Enter:
        return 0x0D;
    case Qt::Key_Shift:
        return 0x10;
    case Qt::Key_Control:
        return 0x11;
    case Qt::Key_Alt:
        return 0x12;
    case Qt::Key_Pause:
        return 0x13;
    case Qt::Key_CapsLock:
        return 0x14;
    case Qt::Key_Escape:
        return 0x1B;
    case Qt::Key_Space:
        return 0x20;
    case Qt::Key_PageUp:
        return 0x21;
    case Qt::Key_PageDown:
        return 0x22;
    case Qt::Key_End:
        return 0x23;
    case Qt::Key_Home:
        return 0x24;
    case Qt::Key_Left:
        return 0x25;
    case Qt::Key_Up:
        return 0x26;
    case Qt::Key_Right:
        return 0x27;
    case Qt::Key_Down:
        return 0x28;
    case Qt::Key_Insert:
        return 0x2D;
    case Qt::Key_Delete:
        return 0x2E;
    default:
        return 0;
    }
}

// TControl

template <class QtBase>
TControl<QtBase>::TControl(QWidget *parent)
    : QtBase(parent)
{
    // Mouse-move events arrive while the pointer merely hovers, as on Windows.
    this->setMouseTracking(true);
}

template <class QtBase>
void TControl<QtBase>::Click()
{
    // Called through a copy: a handler may replace the control's handler.
    if (const TNotifyEvent handler = OnClick)
        handler(this);
}

template <class QtBase>
void TControl<QtBase>::DblClick()
{
    if (const TNotifyEvent handler = OnDblClick)
        handler(this);
}

template <class QtBase>
void TControl<QtBase>::MouseDown(TMouseButton button, TShiftState shift, int x, int y)
{
    if (const TMouseEvent handler = OnMouseDown)
        handler(this, button, shift, x, y);
}

template <class QtBase>
void TControl<QtBase>::MouseUp(TMouseButton button, TShiftState shift, int x, int y)
{
    if (const TMouseEvent handler = OnMouseUp)
        handler(this, button, shift, x, y);
}

template <class QtBase>
void TControl<QtBase>::MouseMove(TShiftState shift, int x, int y)
{
    if (const TMouseMoveEvent handler = OnMouseMove)
        handler(this, shift, x, y);
}

template <class QtBase>
void TControl<QtBase>::WMLButtonDown(const TWMMouse &message)
{
    clicked_ = true;
    MouseDown(mbLeft, message.Keys, message.XPos, message.YPos);
}

template <class QtBase>
void TControl<QtBase>::WMLButtonDblClk(const TWMMouse &message)
{
    DblClick();
    MouseDown(mbLeft, message.Keys | ssDouble, message.XPos, message.YPos);
}

template <class QtBase>
void TControl<QtBase>::WMLButtonUp(const TWMMouse &message)
{
    if (clicked_) {
        clicked_ = false;
        if (this->rect().contains(message.XPos, message.YPos))
            Click();
    }
    MouseUp(mbLeft, message.Keys, message.XPos, message.YPos);
}

template <class QtBase>
void TControl<QtBase>::CMMouseEnter()
{
    if (const TNotifyEvent handler = OnMouseEnter)
        handler(this);
}

template <class QtBase>
void TControl<QtBase>::CMMouseLeave()
{
    if (const TNotifyEvent handler = OnMouseLeave)
        handler(this);
}

namespace {

// An error of an event handler ends that handler only; it is shown and must not
// unwind through Qt's event delivery, which does not expect it.
template <class Work>
void Guarded(Work &&work)
{
    try {
        work();
    } catch (...) {
        HandleException(std::current_exception());
    }
}

TWMMouse messageOf(const QMouseEvent *event)
{
    const QPoint pos = event->position().toPoint();
    return {ShiftStateOf(event->modifiers(), event->buttons()), pos.x(), pos.y()};
}

} // namespace

template <class QtBase>
void TControl<QtBase>::mousePressEvent(QMouseEvent *event)
{
    const TWMMouse message = messageOf(event);
    event->accept();
    Guarded([&] {
        switch (event->button()) {
        case Qt::LeftButton:
            WMLButtonDown(message);
            break;
        case Qt::RightButton:
            MouseDown(mbRight, message.Keys, message.XPos, message.YPos);
            break;
        case Qt::MiddleButton:
            MouseDown(mbMiddle, message.Keys, message.XPos, message.YPos);
            break;
        default:
            event->ignore();
            break;
        }
    });
}

template <class QtBase>
void TControl<QtBase>::mouseDoubleClickEvent(QMouseEvent *event)
{
    const TWMMouse message = messageOf(event);
    event->accept();
    Guarded([&] {
        switch (event->button()) {
        case Qt::LeftButton:
            WMLButtonDblClk(message);
            break;
        case Qt::RightButton:
            MouseDown(mbRight, message.Keys | ssDouble, message.XPos, message.YPos);
            break;
        case Qt::MiddleButton:
            MouseDown(mbMiddle, message.Keys | ssDouble, message.XPos, message.YPos);
            break;
        default:
            event->ignore();
            break;
        }
    });
}

template <class QtBase>
void TControl<QtBase>::mouseReleaseEvent(QMouseEvent *event)
{
    const TWMMouse message = messageOf(event);
    event->accept();
    Guarded([&] {
        switch (event->button()) {
        case Qt::LeftButton:
            WMLButtonUp(message);
            break;
        case Qt::RightButton:
            MouseUp(mbRight, message.Keys, message.XPos, message.YPos);
            break;
        case Qt::MiddleButton:
            MouseUp(mbMiddle, message.Keys, message.XPos, message.YPos);
            break;
        default:
            event->ignore();
            break;
        }
    });
}

template <class QtBase>
void TControl<QtBase>::mouseMoveEvent(QMouseEvent *event)
{
    const TWMMouse message = messageOf(event);
    event->accept();
    Guarded([&] { MouseMove(message.Keys, message.XPos, message.YPos); });
}

template <class QtBase>
void TControl<QtBase>::enterEvent(QEnterEvent *)
{
    Guarded([&] { CMMouseEnter(); });
}

template <class QtBase>
void TControl<QtBase>::leaveEvent(QEvent *)
{
    Guarded([&] { CMMouseLeave(); });
}

template class TControl<QWidget>;
template class TControl<QLabel>;

// TImage

TImage::TImage(QWidget *parent)
    : TControl<QWidget>(parent)
{
    resize(105, 105);
    picture_.OnChange = [this] { PictureChanged(); };
}

void TImage::SetAutoSize(bool value)
{
    autoSize_ = value;
    if (value)
        PictureChanged();
}

void TImage::PictureChanged()
{
    // An empty picture leaves the size alone: a control that shrank to nothing
    // under the pointer would lose the pointer and flicker back and forth.
    if (autoSize_ && picture_.Width() > 0 && picture_.Height() > 0)
        resize(picture_.Width(), picture_.Height());
    update();
}

void TImage::SetEmptyText(const std::string &value)
{
    emptyText_ = value;
    update();
}

void TImage::paintEvent(QPaintEvent *)
{
    const TBitmap *graphic = picture_.Graphic();
    if (!graphic || graphic->Empty()) {
        if (emptyText_.empty())
            return;
        // Light on whatever lies behind, so that the cell is seen on a dark one too.
        QPainter painter(this);
        const QRect cell = rect().adjusted(0, 0, -1, -1);
        painter.fillRect(cell, QColor(0xE8, 0xEC, 0xF2));
        painter.setPen(QColor(0x8A, 0x94, 0xA6));
        painter.drawRect(cell);
        painter.setPen(QColor(0x20, 0x2D, 0x46));
        const QRect room = cell.adjusted(4, 4, -4, -4);
        const QString text = QString::fromStdString(emptyText_);
        painter.drawText(room, Qt::AlignCenter | Qt::TextWrapAnywhere,
                         painter.fontMetrics().elidedText(text, Qt::ElideMiddle, room.width() * 3));
        return;
    }
    QPainter painter(this);
    // On a scaled screen the picture is enlarged: evenly, not by repeating
    // some of its rows and columns.
    if (devicePixelRatioF() != 1.0)
        painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(0, 0, graphic->Image());
}

// TLabel

TLabel::TLabel(QWidget *parent)
    : TControl<QLabel>(parent)
{
    setTextFormat(Qt::PlainText);
    setAlignment(Qt::AlignLeft | Qt::AlignTop);
    setMargin(0);
    setIndent(0);
    setWordWrap(false);
    SetTransparent(false);
    SetFontColor(fontColor_);
    Adjust();
}

std::string TLabel::Caption() const
{
    return (maxWidth_ > 0 ? caption_ : text()).toStdString();
}

void TLabel::SetCaption(const std::string &caption)
{
    caption_ = QString::fromStdString(caption);
    ShowCaption();
}

void TLabel::SetMaxWidth(int width)
{
    if (maxWidth_ == 0)
        caption_ = text();
    maxWidth_ = std::max(width, 0);
    ShowCaption();
}

void TLabel::ShowCaption()
{
    if (maxWidth_ > 0) {
        const QString shown = fontMetrics().elidedText(caption_, Qt::ElideRight, maxWidth_);
        setText(shown);
        setToolTip(shown == caption_ ? QString() : caption_);
    } else {
        setText(caption_);
    }
    Adjust();
}

void TLabel::SetAutoSize(bool value)
{
    autoSize_ = value;
    Adjust();
}

void TLabel::SetTransparent(bool value)
{
    transparent_ = value;
    setAutoFillBackground(!value);
    SetColor(color_);
}

void TLabel::SetColor(TColor color)
{
    color_ = color;
    QPalette pal = palette();
    pal.setColor(QPalette::Window, ColorToQColor(color));
    setPalette(pal);
}

void TLabel::SetFontColor(TColor color)
{
    fontColor_ = color;
    QPalette pal = palette();
    pal.setColor(QPalette::WindowText, ColorToQColor(color));
    setPalette(pal);
}

void TLabel::Adjust()
{
    if (autoSize_)
        resize(sizeHint());
}

// TShape

TShape::TShape(QWidget *parent)
    : TControl<QWidget>(parent)
{
    resize(65, 65);
}

void TShape::SetBrushColor(TColor color)
{
    brushColor_ = color;
    update();
}

void TShape::SetPenColor(TColor color)
{
    penColor_ = color;
    update();
}

void TShape::SetPenWidth(int width)
{
    penWidth_ = width < 0 ? 0 : width;
    update();
}

void TShape::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    const int w = width();
    const int h = height();
    painter.fillRect(0, 0, w, h, ColorToQColor(brushColor_));
    // The outline lies inside the bounds, as the framework's shapes draw it.
    const QColor pen = ColorToQColor(penColor_);
    for (int i = 0; i < penWidth_ && 2 * i < w && 2 * i < h; ++i) {
        painter.fillRect(i, i, w - 2 * i, 1, pen);
        painter.fillRect(i, h - 1 - i, w - 2 * i, 1, pen);
        painter.fillRect(i, i, 1, h - 2 * i, pen);
        painter.fillRect(w - 1 - i, i, 1, h - 2 * i, pen);
    }
}

// TCustomPanel

TCustomPanel::TCustomPanel(QWidget *parent)
    : TControl<QWidget>(parent)
{
    resize(185, 41);
    setFocusPolicy(Qt::NoFocus);
}

void TCustomPanel::SetColor(TColor color)
{
    color_ = color;
    update();
}

void TCustomPanel::SetBevelOuter(TBevelCut bevel)
{
    bevelOuter_ = bevel;
    update();
}

void TCustomPanel::KeyUp(WORD &key, TShiftState shift)
{
    if (const TKeyEvent handler = OnKeyUp)
        handler(this, key, shift);
}

void TCustomPanel::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.fillRect(rect(), ColorToQColor(color_));
    if (bevelOuter_ == TBevelCut::bvNone)
        return;
    const QColor light = ColorToQColor(clSystemColor | 20);
    const QColor dark = ColorToQColor(clSystemColor | 16);
    const QColor &topLeft = bevelOuter_ == TBevelCut::bvRaised ? light : dark;
    const QColor &bottomRight = bevelOuter_ == TBevelCut::bvRaised ? dark : light;
    const int w = width();
    const int h = height();
    painter.fillRect(0, 0, w, 1, topLeft);
    painter.fillRect(0, 0, 1, h, topLeft);
    painter.fillRect(0, h - 1, w, 1, bottomRight);
    painter.fillRect(w - 1, 0, 1, h, bottomRight);
}

void TCustomPanel::keyReleaseEvent(QKeyEvent *event)
{
    WORD key = VirtualKeyOf(event->key());
    event->accept();
    Guarded([&] { KeyUp(key, ShiftStateOf(event->modifiers())); });
}

// Window handles

namespace {

constexpr const char *kHandleHolderName = "forms-window-handle";

std::mutex g_handlesMutex;
std::unordered_map<HWND, QWidget *> g_controls;

// Lives as a child of its control, so the handle dies with the control.
class HandleHolder : public QObject
{
public:
    HandleHolder(QWidget *control, win32::WindowProc proc)
        : QObject(control)
        , proc_(std::make_shared<win32::WindowProc>(std::move(proc)))
    {
        setObjectName(QString::fromLatin1(kHandleHolderName));
        // The procedure runs on the GUI thread only, where it is also replaced.
        handle_ = win32::CreateWindowHandle(
            [procRef = proc_](HWND hwnd, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
                const win32::WindowProc proc = *procRef;
                return proc ? proc(hwnd, msg, w, l) : 0;
            });
        std::lock_guard lock(g_handlesMutex);
        g_controls[handle_] = control;
    }

    ~HandleHolder() override
    {
        {
            std::lock_guard lock(g_handlesMutex);
            g_controls.erase(handle_);
        }
        win32::DestroyWindowHandle(handle_);
    }

    HWND handle() const { return handle_; }
    void setProc(win32::WindowProc proc) { *proc_ = std::move(proc); }

private:
    std::shared_ptr<win32::WindowProc> proc_;
    HWND handle_ = nullptr;
};

HandleHolder *holderOf(QWidget *control)
{
    QObject *child = control->findChild<QObject *>(QString::fromLatin1(kHandleHolderName),
                                                   Qt::FindDirectChildrenOnly);
    return dynamic_cast<HandleHolder *>(child);
}

} // namespace

HWND AllocateHandle(QWidget *control, win32::WindowProc proc)
{
    if (!control)
        return nullptr;
    if (HandleHolder *holder = holderOf(control)) {
        holder->setProc(std::move(proc));
        return holder->handle();
    }
    return (new HandleHolder(control, std::move(proc)))->handle();
}

HWND HandleOf(QWidget *control)
{
    if (!control)
        return nullptr;
    if (HandleHolder *holder = holderOf(control))
        return holder->handle();
    return (new HandleHolder(control, {}))->handle();
}

QWidget *FindControl(HWND handle)
{
    std::lock_guard lock(g_handlesMutex);
    const auto it = g_controls.find(handle);
    return it == g_controls.end() ? nullptr : it->second;
}

} // namespace forms
