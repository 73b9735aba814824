#include "app/ui/MouseEffectImage.h"
#include "app/ui/TwoStatesPicButton.h"

#include "qtwidgets.h"

#include <gtest/gtest.h>

#include <QTest>

#include <memory>
#include <string>
#include <vector>

using namespace quillon;
using forms::TPicture;
using testsupport::Click;
using testsupport::DoubleClick;
using testsupport::MoveTo;
using testsupport::Press;
using testsupport::Release;

namespace {

TPicture SolidPicture(int w, int h, QColor colour)
{
    QImage image(w, h, QImage::Format_RGB32);
    image.fill(colour);
    TPicture picture;
    const forms::TBitmap bitmap(image);
    picture.SetGraphic(&bitmap);
    return picture;
}

// Which of the given pictures the control shows: "blank" for no graphic.
struct Shown
{
    const forms::TImage *control;
    std::vector<std::pair<std::string, const TPicture *>> pictures;

    std::string operator()() const
    {
        const forms::TBitmap *shown = control->Picture()->Graphic();
        if (!shown)
            return "blank";
        for (const auto &[name, picture] : pictures)
            if (picture->Graphic() && *picture->Graphic() == *shown)
                return name;
        return "other";
    }
};

// A window with room around the button, which stands at (40, 40).
class ButtonTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        window = std::make_unique<QWidget>();
        window->resize(200, 150);
    }

    void Show() { testsupport::ShowWindow(window.get()); }
    void Away() { MoveTo(window.get(), {190, 140}); }

    std::unique_ptr<QWidget> window;
    const TPicture up = SolidPicture(60, 30, Qt::red);
    const TPicture down = SolidPicture(60, 30, Qt::green);
    const TPicture over = SolidPicture(60, 30, Qt::blue);
};

class TwoStates : public ButtonTest
{
protected:
    void SetUp() override
    {
        ButtonTest::SetUp();
        button = new TTwoStatesPicButton(window.get());
        button->move(40, 40);
        shown = Shown{button, {{"up", &up}, {"down", &down}, {"over", &over}}};
    }

    // As the main window sets a tab up from its design.
    void Design(bool downState, bool withOver = false)
    {
        button->SetUpPicture(&up);
        button->SetDownPicture(&down);
        if (withOver)
            button->SetOverPicture(&over);
        button->SetDownState(downState);
    }

    TTwoStatesPicButton *button = nullptr;
    Shown shown;
};

} // namespace

TEST_F(TwoStates, TheDesignShowsThePictureOfTheState)
{
    EXPECT_TRUE(button->AutoSize());
    EXPECT_FALSE(button->DownState());
    EXPECT_FALSE(button->UpPicture()->HasGraphic());
    button->SetUpPicture(&up);
    EXPECT_EQ(shown(), "up");
    EXPECT_EQ(button->size(), QSize(60, 30));
    button->SetDownPicture(&down);
    button->SetOverPicture(&over);
    EXPECT_EQ(shown(), "up"); // neither write changes the display
    button->SetDownState(true);
    EXPECT_EQ(shown(), "down");
    button->SetUpPicture(nullptr); // nothing given: shows the up picture it has
    EXPECT_EQ(shown(), "up");
    EXPECT_TRUE(button->DownState());
}

TEST_F(TwoStates, ItsPicturesAreCopies)
{
    TPicture mine = SolidPicture(10, 10, Qt::yellow);
    button->SetUpPicture(&mine);
    mine.SetGraphic(nullptr);
    EXPECT_TRUE(button->UpPicture()->HasGraphic());
    EXPECT_NE(button->UpPicture(), &mine);
}

TEST_F(TwoStates, WithoutAnOverPictureEnteringChangesNothing)
{
    Design(true);
    Show();
    MoveTo(button, {5, 5});
    EXPECT_EQ(shown(), "down");
    Away();
    EXPECT_EQ(shown(), "down");
}

TEST_F(TwoStates, TheOverPictureShowsWhileThePointerIsOver)
{
    Design(false, true);
    Show();
    MoveTo(button, {5, 5});
    EXPECT_EQ(shown(), "over");
    Away();
    EXPECT_EQ(shown(), "up");
    button->SetDownState(true);
    MoveTo(button, {5, 5});
    EXPECT_EQ(shown(), "over");
    Away();
    EXPECT_EQ(shown(), "down");
}

TEST_F(TwoStates, EachClickFlipsTheStateBeforeTheClickEvent)
{
    Design(false, true);
    std::vector<std::string> seen;
    button->OnClick = [&](QObject *) {
        seen.push_back(std::string(button->DownState() ? "true " : "false ") + shown());
    };
    Show();
    Click(button, {10, 10});
    EXPECT_EQ(shown(), "down"); // over the button, but the click showed the state
    Click(button, {10, 10});
    EXPECT_EQ(shown(), "up");
    EXPECT_EQ(seen, (std::vector<std::string>{"true down", "false up"}));
}

TEST_F(TwoStates, WithoutAClickHandlerItAlternates)
{
    Design(false);
    Show();
    for (const char *expected : {"down", "up", "down"}) {
        Click(button, {10, 10});
        EXPECT_EQ(shown(), expected);
    }
}

TEST_F(TwoStates, AClickHandlerMaySetTheStateAgain)
{
    // The main window's photo tab: a click on the tab that is already down
    // leaves it down.
    Design(true);
    button->OnClick = [&](QObject *) { button->SetDownState(true); };
    Show();
    Click(button, {10, 10});
    EXPECT_TRUE(button->DownState());
    EXPECT_EQ(shown(), "down");
}

TEST_F(TwoStates, WritingUpPictureWhileDownShowsUpUntilTheNextLeave)
{
    Design(true);
    Show();
    MoveTo(button, {5, 5});
    button->SetUpPicture(&up);
    EXPECT_EQ(shown(), "up");
    EXPECT_TRUE(button->DownState());
    Away();
    EXPECT_EQ(shown(), "down");
}

TEST_F(TwoStates, DownStateWithoutADownPictureIsBlank)
{
    button->SetUpPicture(&up);
    button->SetDownState(true);
    EXPECT_EQ(shown(), "blank");
}

TEST_F(TwoStates, AReleaseOutsideFlipsNothing)
{
    Design(false);
    int clicks = 0;
    button->OnClick = [&](QObject *) { ++clicks; };
    Show();
    Press(button, {10, 10});
    MoveTo(window.get(), {5, 5});
    Release(window.get(), {5, 5});
    EXPECT_EQ(clicks, 0);
    EXPECT_FALSE(button->DownState());
    EXPECT_EQ(shown(), "up");
}

TEST_F(TwoStates, ADoubleClickIsOneClick)
{
    Design(false);
    int clicks = 0;
    button->OnClick = [&](QObject *) { ++clicks; };
    Show();
    DoubleClick(button, {10, 10});
    EXPECT_EQ(clicks, 1);
    EXPECT_TRUE(button->DownState());
    EXPECT_EQ(shown(), "down");
}

namespace {

class MouseEffect : public ButtonTest
{
protected:
    void SetUp() override
    {
        ButtonTest::SetUp();
        button = new TMouseEffectImage(window.get());
        button->move(40, 40);
        shown = Shown{button, {{"origin", &origin}, {"over", &over}, {"down", &down}}};
        forms::AllocateHandle(window.get(), [this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
            messages.push_back({msg, w, l});
            return 0;
        });
    }

    // As the main window sets a command button up from its design.
    void Design(bool revertOnLeave = false)
    {
        button->SetOriginPicture(&origin);
        button->SetOverPicture(&over);
        button->SetDownPicture(&down);
        button->SetRevertOnLeave(revertOnLeave);
    }

    struct Message
    {
        UINT msg;
        WPARAM w;
        LPARAM l;
        bool operator==(const Message &) const = default;
    };

    TMouseEffectImage *button = nullptr;
    const TPicture origin = SolidPicture(60, 30, Qt::gray);
    Shown shown;
    std::vector<Message> messages;
};

} // namespace

TEST_F(MouseEffect, TheDesignEndsShowingTheOriginPicture)
{
    EXPECT_TRUE(button->AutoSize());
    EXPECT_FALSE(button->RevertOnLeave());
    Design();
    EXPECT_EQ(shown(), "origin");
    EXPECT_EQ(button->size(), QSize(60, 30));
    button->SetOverPicture(nullptr);
    EXPECT_FALSE(button->OverPicture()->HasGraphic());
    button->SetOriginPicture(nullptr);
    EXPECT_EQ(shown(), "blank");
}

TEST_F(MouseEffect, EveryEntryPostsMessage2025ToTheParentsWindowAndShowsOver)
{
    Design();
    Show();
    MoveTo(button, {5, 5});
    EXPECT_EQ(shown(), "over");
    Away();
    EXPECT_EQ(shown(), "origin");
    MoveTo(button, {6, 6});
    QTRY_COMPARE(messages.size(), std::size_t(2));
    EXPECT_EQ(messages[0], (Message{2025, 0, 0}));
    EXPECT_EQ(messages[1], (Message{2025, 0, 0}));
}

TEST_F(MouseEffect, WithoutAnOverPictureEnteringBlanksIt)
{
    button->SetOriginPicture(&origin);
    Show();
    MoveTo(button, {5, 5});
    EXPECT_EQ(shown(), "blank");
    EXPECT_EQ(button->size(), QSize(60, 30)); // still under the pointer
    Away();
    EXPECT_EQ(shown(), "origin");
}

TEST_F(MouseEffect, TheOriginPictureIsBackBeforeTheClickEvent)
{
    Design();
    std::vector<std::string> seen;
    button->OnMouseDown = [&](QObject *, forms::TMouseButton, forms::TShiftState, int, int) {
        seen.push_back("down event: " + shown());
    };
    button->OnClick = [&](QObject *) { seen.push_back("click event: " + shown()); };
    Show();
    MoveTo(button, {10, 10});
    EXPECT_EQ(shown(), "over");
    Press(button, {10, 10});
    EXPECT_EQ(shown(), "down");
    Release(button, {10, 10});
    EXPECT_EQ(shown(), "origin"); // the hover picture waits for the next entry
    EXPECT_EQ(seen, (std::vector<std::string>{"down event: down", "click event: origin"}));
}

TEST_F(MouseEffect, RevertOnLeaveKeepsThePressedPictureUntilThePointerLeaves)
{
    Design(true);
    int clicks = 0;
    button->OnClick = [&](QObject *) { ++clicks; };
    Show();
    Click(button, {10, 10});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(shown(), "down");
    Away();
    EXPECT_EQ(shown(), "origin");
}

TEST_F(MouseEffect, APressReleasedOutsideRaisesNoClick)
{
    Design();
    int clicks = 0;
    button->OnClick = [&](QObject *) { ++clicks; };
    Show();
    Press(button, {10, 10});
    MoveTo(window.get(), {5, 5});
    Release(window.get(), {5, 5});
    EXPECT_EQ(clicks, 0);
    EXPECT_EQ(shown(), "origin");
}

TEST_F(MouseEffect, ADoubleClickIsOneClickAndItsSecondPressShowsNoPressedPicture)
{
    Design();
    int clicks = 0;
    std::vector<std::string> presses;
    button->OnClick = [&](QObject *) { ++clicks; };
    button->OnMouseDown = [&](QObject *, forms::TMouseButton, forms::TShiftState shift, int, int) {
        presses.push_back(std::string(shift & forms::ssDouble ? "double " : "single ") + shown());
    };
    Show();
    DoubleClick(button, {10, 10});
    EXPECT_EQ(clicks, 1);
    EXPECT_EQ(presses, (std::vector<std::string>{"single down", "double origin"}));
    EXPECT_EQ(shown(), "origin");
}

TEST(MouseEffectAlone, AButtonWithoutAParentStillShowsItsOverPicture)
{
    TMouseEffectImage lone; // no parent window to post to
    const TPicture over = SolidPicture(8, 8, Qt::blue);
    lone.SetOverPicture(&over);
    QEnterEvent enter(QPointF(1, 1), QPointF(1, 1), QPointF(1, 1));
    QApplication::sendEvent(&lone, &enter);
    ASSERT_TRUE(lone.Picture()->HasGraphic());
    EXPECT_TRUE(*lone.Picture()->Graphic() == *over.Graphic());
}
