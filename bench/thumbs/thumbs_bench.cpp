// The add-folder command of the real main window over a folder of photos: the
// folder scan and one thumbnail per photo, timed from the click to the end of
// the command. Prints "photos N seconds S" on standard output; run.sh sets the
// figure beside libjpeg-turbo's own full-size decode of the same files.
#include "app/ui/mainunit.h"
#include "platform/forms/application.h"
#include "platform/win32/messagebox.h"
#include "platform/win32/shell.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>

int main(int argc, char **argv)
{
    if (argc != 2) {
        std::fprintf(stderr, "usage: thumbs_bench FOLDER\n");
        return 2;
    }
    ::setenv("QT_QPA_PLATFORM", "offscreen", 0);
    const std::string folder = argv[1];
    forms::TApplication app(argc, argv);
    win32::SetMessageBoxHandler([](HWND, const std::string &text, const std::string &, UINT) {
        std::fprintf(stderr, "message: %s\n", text.c_str());
        return 1;
    });
    win32::SetFolderChooser([&](const win32::BROWSEINFOA &) -> std::optional<std::string> {
        return folder.back() == '/' ? folder : folder + "/";
    });

    quillon::TMainForm form;
    const auto start = std::chrono::steady_clock::now();
    form.pnl1_btnAddFolderClick(nullptr);
    const double seconds
        = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    std::printf("photos %d seconds %.3f\n", form.PhotoThumbPanel1->ThumbItems()->Count(), seconds);
    return 0;
}
