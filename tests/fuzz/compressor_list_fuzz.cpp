// Feeds arbitrary bytes to the main window as the compressor list that the
// compressor-list library sends: first to the block reader, then as the block
// of a WM_COPYDATA message to the real window. The reader takes no more names
// than the block holds, each the bytes of its slot up to the first NUL; the
// window lists exactly those names and selects the first "DivX? 5" entry, else
// the first one, else none.
#include "fuzz_support.h"

#include "app/job/compressor_list.h"
#include "app/ui/mainunit.h"
#include "platform/forms/application.h"
#include "platform/win32/messagebox.h"
#include "platform/win32/window.h"

#include <QComboBox>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace {

// One application and one window for the whole run, made before the first
// input. They are never destroyed: the framework's application must go before
// its thread's own data does, and at exit that is already gone.
quillon::TMainForm &Window()
{
    static quillon::TMainForm *window = [] {
        ::setenv("QT_QPA_PLATFORM", "offscreen", 1);
        // The window's start-up may want to tell the user something; nobody is there.
        win32::SetMessageBoxHandler([](HWND, const std::string &, const std::string &, UINT type) {
            return win32::DefaultButton(type);
        });
        static int argc = 1;
        static char name[] = "compressor_list_fuzz";
        static char *argv[] = {name, nullptr};
        new forms::TApplication(argc, argv);
        return new quillon::TMainForm;
    }();
    return *window;
}

void checkReader(const std::uint8_t *data, std::size_t size, const std::vector<std::string> &names)
{
    if (size < 4) {
        FUZZ_CHECK(names.empty());
        return;
    }
    std::int32_t count = 0;
    std::memcpy(&count, data, 4); // little-endian, as the machine
    const std::size_t wholeSlots = (size - 4) / quillon::CompressorNameSlot;
    FUZZ_CHECK(names.size() == (count <= 0 ? 0 : std::min<std::size_t>(count, wholeSlots)));
    for (std::size_t k = 0; k < names.size(); ++k) {
        const char *slot
            = reinterpret_cast<const char *>(data + 4 + k * quillon::CompressorNameSlot);
        FUZZ_CHECK(names[k].size() <= quillon::CompressorNameSlot);
        FUZZ_CHECK(names[k].find('\0') == std::string::npos);
        FUZZ_CHECK(std::memcmp(names[k].data(), slot, names[k].size()) == 0);
        FUZZ_CHECK(names[k].size() == quillon::CompressorNameSlot || slot[names[k].size()] == '\0');
    }
}

} // namespace

// Fontconfig keeps its caches until the application that loaded them is
// destroyed, which this one never is.
extern "C" __attribute__((visibility("default"))) const char *__lsan_default_suppressions()
{
    return "leak:libfontconfig.so\n";
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    Window();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    // A copy of exactly `size` bytes, so that a read past the block's end is
    // seen by AddressSanitizer.
    const std::unique_ptr<std::uint8_t[]> block(new std::uint8_t[size ? size : 1]);
    if (size)
        std::memcpy(block.get(), data, size);
    const std::vector<std::string> names = quillon::CompressorNamesFromBlock(block.get(), size);
    checkReader(block.get(), size, names);

    quillon::TMainForm &window = Window();
    win32::COPYDATASTRUCT message{7, static_cast<DWORD>(size), block.get()};
    FUZZ_CHECK(win32::SendMessageA(window.Handle(), win32::WM_COPYDATA, 0,
                                   reinterpret_cast<LPARAM>(&message))
               == 0);
    QComboBox &list = *window.cmbCompressorList;
    FUZZ_CHECK(list.count() == static_cast<int>(names.size()));
    for (int i = 0; i < list.count(); ++i)
        FUZZ_CHECK(list.itemText(i) == QString::fromStdString(names[static_cast<std::size_t>(i)]));
    const int preferred = quillon::PreferredCompressorIndex(names);
    FUZZ_CHECK(list.currentIndex() == (preferred >= 0 ? preferred : names.empty() ? -1 : 0));
    return 0;
}
