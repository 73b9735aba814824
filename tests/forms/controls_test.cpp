#include "platform/forms/controls.h"

#include "qtwidgets.h"

#include <gtest/gtest.h>

#include <QKeyEvent>
#include <QTest>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

using namespace forms;
using testsupport::Click;
using testsupport::DoubleClick;
using testsupport::Grab;
using testsupport::MoveTo;
using testsupport::Press;
using testsupport::Release;

namespace {

TBitmap SolidBitmap(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    return TBitmap(image);
}

std::string ButtonName(TMouseButton b)
{
    return b == mbLeft ? "L" : b == mbRight ? "R" : "M";
}

// A window with one picture control at (50, 40), 40 × 30 pixels, that records
// its events in order.
class ImageControl : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(200, 150);
        window->setStyleSheet("background: rgb(0, 0, 255)");
        window->setAutoFillBackground(true);
        image = new TImage(window.get());
        image->move(50, 40);
        image->SetAutoSize(true);
        const TBitmap red = SolidBitmap(40, 30, Qt::red);
        image->Picture()->SetGraphic(&red);
        image->OnClick = [this](QObject *s) { log.push_back(s == image ? "click" : "click?"); };
        image->OnDblClick = [this](QObject *) { log.push_back("dblclick"); };
        image->OnMouseDown = [this](QObject *, TMouseButton b, TShiftState s, int x, int y) {
            log.push_back("down " + ButtonName(b) + ((s & ssDouble) ? " double" : "")
                          + ((s & ssLeft) ? " left" : "") + " " + std::to_string(x) + ","
                          + std::to_string(y));
        };
        image->OnMouseUp = [this](QObject *, TMouseButton b, TShiftState, int, int) {
            log.push_back("up " + ButtonName(b));
        };
        image->OnMouseEnter = [this](QObject *) { log.push_back("enter"); };
        image->OnMouseLeave = [this](QObject *) { log.push_back("leave"); };
        testsupport::ShowWindow(window.get());
        MoveTo(window.get(), {5, 5});
        log.clear();
    }

    std::unique_ptr<QWidget> window;
    TImage *image = nullptr;
    std::vector<std::string> log;
};

using Log = std::vector<std::string>;

} // namespace

TEST_F(ImageControl, TakesThePictureSizeAndPaintsItUnscaledAtTheTopLeft)
{
    EXPECT_EQ(image->size(), QSize(40, 30));
    image->SetAutoSize(false);
    image->resize(60, 50);
    const TBitmap small = SolidBitmap(10, 8, Qt::green);
    image->Picture()->SetGraphic(&small);
    EXPECT_EQ(image->size(), QSize(60, 50)); // auto-size off
    const QImage shot = Grab(window.get());
    EXPECT_EQ(QColor(shot.pixel(50, 40)), QColor(Qt::green));
    EXPECT_EQ(QColor(shot.pixel(59, 47)), QColor(Qt::green));
    EXPECT_EQ(QColor(shot.pixel(60, 40)), QColor(Qt::blue)); // the parent shows through
    EXPECT_EQ(QColor(shot.pixel(50, 48)), QColor(Qt::blue));
}

TEST_F(ImageControl, AnEmptyPictureLeavesTheSizeAndShowsNothing)
{
    image->Picture()->SetGraphic(nullptr);
    EXPECT_FALSE(image->Picture()->HasGraphic());
    EXPECT_EQ(image->size(), QSize(40, 30));
    EXPECT_EQ(QColor(Grab(window.get()).pixel(60, 50)), QColor(Qt::blue));
}

TEST_F(ImageControl, ClickRaisesDownClickUpInThatOrder)
{
    Click(image, {10, 12});
    EXPECT_EQ(log, (Log{"enter", "down L left 10,12", "click", "up L"}));
}

TEST_F(ImageControl, AReleaseOutsideRaisesNoClick)
{
    Press(image, {10, 10});
    MoveTo(window.get(), {150, 120});
    Release(window.get(), {150, 120});
    EXPECT_EQ(std::count(log.begin(), log.end(), "click"), 0);
    EXPECT_NE(std::find(log.begin(), log.end(), "up L"), log.end());

    // The next press starts afresh.
    log.clear();
    Click(image, {5, 5});
    EXPECT_EQ(std::count(log.begin(), log.end(), "click"), 1);
}

TEST_F(ImageControl, ADoubleClickRaisesOneClickAndOneDoubleClick)
{
    DoubleClick(image, {20, 20});
    EXPECT_EQ(log, (Log{"enter", "down L left 20,20", "click", "up L", "dblclick",
                        "down L double left 20,20", "up L"}));
}

TEST_F(ImageControl, OtherButtonsRaiseDownAndUpButNoClick)
{
    Click(image, {3, 3}, Qt::RightButton);
    EXPECT_EQ(log, (Log{"enter", "down R 3,3", "up R"}));
}

TEST_F(ImageControl, PointerEnteringAndLeaving)
{
    MoveTo(image, {5, 5});
    MoveTo(image, {6, 6});
    MoveTo(window.get(), {180, 5});
    EXPECT_EQ(log, (Log{"enter", "leave"}));
}

TEST(Shape, FillsWithTheBrushAndOutlinesInsideItsBounds)
{
    QWidget window;
    window.resize(100, 100);
    auto *shape = new TShape(&window);
    shape->setGeometry(10, 10, 30, 20);
    shape->SetBrushColor(clBlack);
    shape->SetPenColor(0x1C1711);
    const QImage shot = Grab(&window);
    const QColor outline(0x11, 0x17, 0x1C);
    EXPECT_EQ(QColor(shot.pixel(10, 10)), outline);
    EXPECT_EQ(QColor(shot.pixel(39, 29)), outline);
    EXPECT_EQ(QColor(shot.pixel(25, 29)), outline);
    EXPECT_EQ(QColor(shot.pixel(11, 11)), QColor(Qt::black));
    EXPECT_EQ(QColor(shot.pixel(38, 28)), QColor(Qt::black));
}

TEST(Panel, PaintsItsColourAndHandsKeyReleasesToKeyUp)
{
    TCustomPanel panel;
    panel.resize(50, 40);
    panel.SetColor(0x00FF00);
    panel.SetBevelOuter(TBevelCut::bvNone);
    const QImage shot = Grab(&panel);
    EXPECT_EQ(QColor(shot.pixel(0, 0)), QColor(Qt::green));
    EXPECT_EQ(QColor(shot.pixel(49, 39)), QColor(Qt::green));

    std::vector<WORD> keys;
    std::vector<TShiftState> shifts;
    panel.OnKeyUp = [&](QObject *, WORD &key, TShiftState shift) {
        keys.push_back(key);
        shifts.push_back(shift);
    };
    // QTest lets go of the Shift key after each of them.
    QTest::keyRelease(&panel, Qt::Key_Delete, Qt::ShiftModifier);
    QTest::keyRelease(&panel, Qt::Key_A, Qt::ControlModifier);
    EXPECT_EQ(keys, (std::vector<WORD>{0x2E, 0x10, 'A', 0x11}));
    EXPECT_EQ(shifts[0], ssShift);
    EXPECT_EQ(shifts[2], ssCtrl);
}

TEST(Label, SizesItselfToItsTextUntilAutoSizeIsOff)
{
    TLabel label;
    label.SetCaption("1");
    const QSize one = label.size();
    label.SetCaption("Photo 10");
    EXPECT_GT(label.width(), one.width());
    EXPECT_EQ(label.height(), one.height());
    label.SetAutoSize(false);
    label.resize(62, label.height());
    label.SetCaption("Photo 123456789");
    EXPECT_EQ(label.width(), 62);
}

TEST(WindowHandles, OneHandlePerControlThatDiesWithIt)
{
    auto control = std::make_unique<QWidget>();
    HWND handle = HandleOf(control.get());
    ASSERT_NE(handle, nullptr);
    EXPECT_EQ(HandleOf(control.get()), handle);
    EXPECT_EQ(FindControl(handle), control.get());
    EXPECT_EQ(win32::SendMessageA(handle, win32::WM_USER, 1, 2), 0); // the default answers 0

    EXPECT_EQ(AllocateHandle(control.get(),
                             [](HWND, UINT, WPARAM w, LPARAM l) -> LRESULT { return w + l; }),
              handle);
    EXPECT_EQ(win32::SendMessageA(handle, win32::WM_USER, 40, 2), 42);

    control.reset();
    EXPECT_FALSE(win32::IsWindow(handle));
    EXPECT_EQ(FindControl(handle), nullptr);
}
