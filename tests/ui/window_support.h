// What the main window's tests share: a fresh window with every outside service
// answered by the test (message boxes, shell, folder chooser), modal dialogs
// driven while they are open, compressor list messages and photo files.
#pragma once

#include "app/ui/mainunit.h"

#include "testsupport.h"

#include <gtest/gtest.h>

#include <QFileDialog>

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace windowtest {

// Records every message box and task dialog (its main text as the box's text)
// and answers it: by `answer` when set, else with the box's default button. `onBox` sees each box
// before it is answered, on the thread that asked (the GUI thread for the window's own boxes).
class BoxScript
{
public:
    BoxScript();
    ~BoxScript();
    BoxScript(const BoxScript &) = delete;
    BoxScript &operator=(const BoxScript &) = delete;

    std::function<int(const testsupport::RecordedBox &)> answer;
    std::function<void(const testsupport::RecordedBox &)> onBox;

    std::vector<testsupport::RecordedBox> boxes() const;
    std::vector<std::string> texts() const;
    void clear();

private:
    mutable std::mutex mutex_;
    std::vector<testsupport::RecordedBox> boxes_;
    win32::MessageBoxHandler previous_;
    win32::TaskDialogHandler previousTask_;
};

// Runs `work` on the next modal widget of type T as soon as it is open (from
// the event loop of its own exec), then leaves it to `work` to close it.
// Gives up after a few seconds, so that a dialog that never opens fails the
// test instead of hanging it.
void WhenModalOpens(std::function<void(QWidget *)> work);

template <class T>
void WhenDialogOpens(std::function<void(T *)> work)
{
    WhenModalOpens([work](QWidget *widget) {
        T *dialog = dynamic_cast<T *>(widget);
        ASSERT_NE(dialog, nullptr) << "another kind of window opened";
        work(dialog);
    });
}

// Chooses `files` (full paths, all in one folder) in an open file dialog and
// confirms; an empty list cancels.
void ChooseFiles(QFileDialog *dialog, const std::vector<std::string> &files);

// The compressor list message as the library sends it. `count` replaces the
// block's count field; `slotCount` how many name slots the block really has.
LRESULT SendCompressorList(HWND window, const std::vector<std::string> &names,
                           std::optional<std::int32_t> count = {},
                           std::optional<std::size_t> slotCount = {});

// Waits, serving the event loop, until `done` holds; false after `ms`.
bool WaitUntil(const std::function<bool()> &done, int ms = 20000);

// A fresh main window, shown, with the temporary folder, the message boxes,
// the shell and the folder chooser in the test's hands. The window is torn
// down only once a run it started has ended.
class MainFormTest : public ::testing::Test
{
protected:
    void SetUp() override;
    void TearDown() override;

    // Pictures the thumbnail maker and the renderer can read.
    std::string Jpeg(const std::string &name, int width = 64, int height = 48, int seed = 0);
    std::string Bmp(const std::string &name, int width = 40, int height = 30, int seed = 0);
    // Adds the files through the real add-files command and its dialog, and
    // waits until they are in.
    void AddFiles(const std::vector<std::string> &files);
    // Adds a folder through the real add-folder command.
    void AddFolder(const std::string &folder);
    // The add commands end once their photos are in: waits for that.
    void WaitForAdd();

    // The photo list in slide order, the selection and the status line.
    std::vector<std::string> List() const;
    int Selected() const;
    std::string Status() const;

    testsupport::TempDir dir;
    BoxScript boxes;
    testsupport::ShellRecorder shell;
    testsupport::FolderChooserAnswers folders;
    std::unique_ptr<quillon::TMainForm> form;
};

} // namespace windowtest
