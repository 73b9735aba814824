// Message boxes, shell open and the ANSI/UTF-16 conversions.
#include "platform/win32/messagebox.h"
#include "platform/win32/shell.h"
#include "platform/win32/strings.h"

#include "testsupport.h"

#include <gtest/gtest.h>
#include <thread>

using namespace win32;

TEST(MessageBoxes, RecorderSeesEveryBoxFromAnyThread)
{
    testsupport::MessageBoxRecorder recorder;
    EXPECT_EQ(MessageBoxA(nullptr, "Could not create a graph", nullptr, MB_OK), IDOK);
    std::thread([] {
        EXPECT_EQ(MessageBoxA(nullptr, "DivX?", "Confirm", MB_YESNO | MB_ICONQUESTION), IDYES);
    }).join();
    auto boxes = recorder.boxes();
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "Could not create a graph");
    EXPECT_EQ(boxes[0].caption, "");
    EXPECT_EQ(boxes[1].caption, "Confirm");
    EXPECT_EQ(boxes[1].type, MB_YESNO | MB_ICONQUESTION);
}

TEST(MessageBoxes, DefaultHandlerAnswersTheDefaultButton)
{
    ::testing::internal::CaptureStderr();
    EXPECT_EQ(MessageBoxA(nullptr, "Please add some photos first.", "Tessary", MB_OK), IDOK);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO | MB_DEFBUTTON2), IDNO);
    std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_NE(printed.find("Please add some photos first."), std::string::npos);
    testsupport::MessageBoxRecorder no(IDNO);
    EXPECT_EQ(MessageBoxA(nullptr, "q", "c", MB_YESNO), IDNO);
}

TEST(Shell, RequestsReachTheInstalledHandler)
{
    std::vector<ShellRequest> seen;
    auto previous = SetShellHandler([&](const ShellRequest &r) -> std::intptr_t {
        seen.push_back(r);
        return 42;
    });
    HWND owner = reinterpret_cast<HWND>(0x10);
    EXPECT_GT(ShellExecuteA(owner, "open", "/home/u/My Movie/", nullptr, nullptr, SW_SHOWNORMAL),
              32);
    EXPECT_GT(ShellExecuteA(owner, nullptr, "http://example.invalid/", "", "", SW_SHOWMAXIMIZED),
              32);
    SetShellHandler(std::move(previous));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].verb, "open");
    EXPECT_EQ(seen[0].file, "/home/u/My Movie/");
    EXPECT_EQ(seen[0].show, SW_SHOWNORMAL);
    EXPECT_EQ(seen[1].verb, "");
    EXPECT_EQ(seen[1].show, SW_SHOWMAXIMIZED);
}

TEST(Shell, FolderChooserAnswersOrCancels)
{
    // Nobody to ask: the request counts as cancelled.
    EXPECT_EQ(SHBrowseForFolderA({nullptr, "Please specify a directory", BIF_RETURNONLYFSDIRS}),
              std::nullopt);

    std::vector<BROWSEINFOA> seen;
    std::optional<std::string> answer = "/srv/movies";
    auto previous = SetFolderChooser([&](const BROWSEINFOA &info) {
        seen.push_back(info);
        return answer;
    });
    HWND owner = reinterpret_cast<HWND>(0x20);
    EXPECT_EQ(SHBrowseForFolderA({owner, "Please specify a directory", BIF_RETURNONLYFSDIRS}),
              "/srv/movies");
    answer.reset();
    EXPECT_EQ(SHBrowseForFolderA({owner, "t", 0}), std::nullopt);
    SetFolderChooser(std::move(previous));
    ASSERT_EQ(seen.size(), 2u);
    EXPECT_EQ(seen[0].hwndOwner, owner);
    EXPECT_EQ(seen[0].lpszTitle, "Please specify a directory");
    EXPECT_EQ(seen[0].ulFlags, BIF_RETURNONLYFSDIRS);
}

TEST(Strings, Utf8AndUtf16RoundTrip)
{
    const std::string path = "/home/ü/Fotos 🌊/strand.jpg";
    std::u16string wide = AnsiToWide(path);
    EXPECT_EQ(wide, u"/home/ü/Fotos 🌊/strand.jpg");
    EXPECT_EQ(WideToAnsi(wide), path);
    // Bytes that are not UTF-8 travel as lone surrogates and come back as the
    // same bytes: a cut sequence, a stray continuation, an overlong form and an
    // encoded surrogate each keep every byte.
    const std::string bytes("a\xff"
                            "b\xc3"
                            "c\x80\xc0\xaf\xed\xa0\x80\xfe",
                            12);
    EXPECT_EQ(AnsiToWide(bytes), u"a\xDCFF"
                                 u"b\xDCC3"
                                 u"c\xDC80\xDCC0\xDCAF\xDCED\xDCA0\xDC80\xDCFE");
    EXPECT_EQ(WideToAnsi(AnsiToWide(bytes)), bytes);
    for (int b = 0; b < 256; ++b)
        for (int c : {0x41, 0x80, 0xA9, 0xC3, 0xFF}) {
            const std::string pair{static_cast<char>(b), static_cast<char>(c)};
            EXPECT_EQ(WideToAnsi(AnsiToWide(pair)), pair) << b << " " << c;
        }
    EXPECT_EQ(AnsiToWide(""), u"");
    EXPECT_EQ(WideToAnsi(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
}
