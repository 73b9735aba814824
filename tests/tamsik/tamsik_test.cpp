// Tamsik as the program meets it: the real library, a real window handle that
// receives the list, and the real settings dialog on the offscreen display.
#include "platform/tamsik/tamsik.h"

#include "platform/forms/controls.h"
#include "platform/media/compressors.h"
#include "platform/win32/window.h"

#include "testsupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDialog>
#include <QLabel>
#include <QSpinBox>
#include <QTest>
#include <QTimer>

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <functional>
#include <thread>

namespace {

// A window handle that keeps the bytes of every WM_COPYDATA block it receives.
class ListWindow
{
public:
    ListWindow()
    {
        handle = win32::CreateWindowHandle([this](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
            if (msg != win32::WM_COPYDATA)
                return 0;
            const auto *data = reinterpret_cast<const win32::COPYDATASTRUCT *>(l);
            const auto *bytes = static_cast<const unsigned char *>(data->lpData);
            blocks.emplace_back(bytes, bytes + data->cbData);
            tags.push_back(data->dwData);
            wParams.push_back(w);
            return 0;
        });
    }
    ~ListWindow() { win32::DestroyWindowHandle(handle); }

    HWND handle;
    std::vector<std::vector<unsigned char>> blocks;
    std::vector<ULONG_PTR> tags;
    std::vector<WPARAM> wParams;
};

// The settings live under $XDG_CONFIG_HOME, here a folder of the test's own.
class TamsikTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        if (const char *old = std::getenv("XDG_CONFIG_HOME"))
            oldConfig = old;
        ::setenv("XDG_CONFIG_HOME", dir.path().c_str(), 1);
        ASSERT_FALSE(media::VideoCompressorCategory().empty());
    }
    void TearDown() override
    {
        if (oldConfig.empty())
            ::unsetenv("XDG_CONFIG_HOME");
        else
            ::setenv("XDG_CONFIG_HOME", oldConfig.c_str(), 1);
    }

    // Runs `work` on the dialog that the next call opens, then closes it with
    // `accept`; records what the dialog was.
    void WhenTheDialogOpens(std::function<void(QDialog *)> work, bool accept)
    {
        QTimer::singleShot(0, [=, this] {
            auto *dialog = qobject_cast<QDialog *>(QApplication::activeModalWidget());
            seenDialog = dialog;
            if (!dialog)
                return;
            seenParent = dialog->parentWidget();
            seenModal = dialog->isModal();
            if (auto *name = dialog->findChild<QLabel *>(QStringLiteral("name")))
                seenName = name->text().toStdString();
            work(dialog);
            accept ? dialog->accept() : dialog->reject();
        });
    }

    testsupport::TempDir dir;
    std::string oldConfig;
    QDialog *seenDialog = nullptr;
    QWidget *seenParent = nullptr;
    bool seenModal = false;
    std::string seenName;
};

} // namespace

TEST_F(TamsikTest, ListBlockIsTheCategoryByteForByte)
{
    const auto &category = media::VideoCompressorCategory();
    std::vector<unsigned char> expected(4 + 255 * category.size(), 0);
    const std::uint32_t n = static_cast<std::uint32_t>(category.size());
    expected[0] = n & 0xFF;
    expected[1] = (n >> 8) & 0xFF;
    expected[2] = (n >> 16) & 0xFF;
    expected[3] = (n >> 24) & 0xFF;
    for (std::size_t k = 0; k < category.size(); ++k)
        std::memcpy(expected.data() + 4 + 255 * k, category[k].friendlyName.data(),
                    category[k].friendlyName.size());

    ListWindow window;
    EXPECT_EQ(GetCompressorsList(window.handle), static_cast<int>(category.size()));
    ASSERT_EQ(window.blocks.size(), 1u);
    EXPECT_EQ(window.blocks[0], expected);
    EXPECT_EQ(window.wParams[0], 0u);
    // The program's preferred entry is among them, first in the category.
    EXPECT_EQ(category[0].friendlyName.find("DivX? 5"), 0u);

    // Each call sends the whole list again.
    GetCompressorsList(window.handle);
    ASSERT_EQ(window.blocks.size(), 2u);
    EXPECT_EQ(window.blocks[1], expected);
}

TEST_F(TamsikTest, ListSentFromAnotherThreadArrivesOnTheWindowsThread)
{
    ListWindow window;
    std::thread sender([&] { GetCompressorsList(window.handle); });
    // The window belongs to the GUI thread, whose event loop runs the procedure.
    EXPECT_TRUE(QTest::qWaitFor([&] { return !window.blocks.empty(); }, 5000));
    sender.join();
    EXPECT_EQ(window.blocks.size(), 1u);
    // A handle that is gone receives nothing and breaks nothing.
    EXPECT_EQ(GetCompressorsList(nullptr),
              static_cast<int>(media::VideoCompressorCategory().size()));
}

TEST_F(TamsikTest, IndexOutsideTheCategoryFailsWithoutADialog)
{
    QWidget owner;
    const HWND handle = forms::HandleOf(&owner);
    WhenTheDialogOpens([](QDialog *) {}, false);
    EXPECT_FALSE(setCompressorProperty(handle, -1));
    EXPECT_FALSE(
        setCompressorProperty(handle, static_cast<int>(media::VideoCompressorCategory().size())));
    QApplication::processEvents();
    EXPECT_EQ(seenDialog, nullptr);
    EXPECT_FALSE(testsupport::Exists(media::CompressorSettingsPath()));
}

TEST_F(TamsikTest, ConfirmedSettingsReachTheSettingsFileThatTheRendererReads)
{
    const media::CompressorEntry &entry = media::VideoCompressorCategory()[0];
    ASSERT_TRUE(entry.hasQuality && entry.hasKeyFrames);
    QWidget owner;
    const HWND handle = forms::HandleOf(&owner);
    win32::SetPropA(handle, "QWidget", &owner);

    WhenTheDialogOpens(
        [](QDialog *dialog) {
            dialog->findChild<QSpinBox *>(QStringLiteral("quality"))->setValue(40);
            dialog->findChild<QSpinBox *>(QStringLiteral("keyFrameInterval"))->setValue(12);
            auto *everyFrame = dialog->findChild<QCheckBox *>(QStringLiteral("encodeEveryFrame"));
            EXPECT_FALSE(everyFrame->isChecked()); // off by default
            everyFrame->setChecked(true);
        },
        true);
    EXPECT_TRUE(setCompressorProperty(handle, 0));
    EXPECT_TRUE(seenModal);
    EXPECT_EQ(seenParent, &owner);
    EXPECT_EQ(seenName, entry.friendlyName);
    media::CompressorSettings saved = media::ReadCompressorSettings(entry);
    EXPECT_EQ(saved.quality, 40);
    EXPECT_EQ(saved.keyFrameInterval, 12);
    EXPECT_TRUE(saved.encodeEveryFrame);

    // The dialog opens with what was saved; a cancel saves nothing.
    int shownQuality = -1;
    WhenTheDialogOpens(
        [&](QDialog *dialog) {
            auto *quality = dialog->findChild<QSpinBox *>(QStringLiteral("quality"));
            shownQuality = quality->value();
            quality->setValue(90);
        },
        false);
    EXPECT_TRUE(setCompressorProperty(handle, 0));
    EXPECT_EQ(shownQuality, 40);
    EXPECT_EQ(media::ReadCompressorSettings(entry).quality, 40);

    // Another window saves a quality while this dialog is open, where only the
    // key frame interval is changed: both changes stay.
    WhenTheDialogOpens(
        [&](QDialog *dialog) {
            media::CompressorSettings other = media::ReadCompressorSettings(entry);
            other.quality = 70;
            ASSERT_TRUE(media::WriteCompressorSettings(entry, other));
            dialog->findChild<QSpinBox *>(QStringLiteral("keyFrameInterval"))->setValue(25);
        },
        true);
    EXPECT_TRUE(setCompressorProperty(handle, 0));
    saved = media::ReadCompressorSettings(entry);
    EXPECT_EQ(saved.quality, 70);
    EXPECT_EQ(saved.keyFrameInterval, 25);
    EXPECT_TRUE(saved.encodeEveryFrame);
}

TEST_F(TamsikTest, SettingsThatCannotBeSavedAreAFailure)
{
    // A file where the settings folder should be.
    testsupport::WriteFile(dir.file("quillon"), "not a folder");
    QWidget owner;
    WhenTheDialogOpens([](QDialog *) {}, true);
    EXPECT_FALSE(setCompressorProperty(forms::HandleOf(&owner), 0));
    EXPECT_NE(seenDialog, nullptr);
}
