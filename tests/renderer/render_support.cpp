#include "render_support.h"

#include "renderer/mureline.h"
#include "testsupport.h"

#include "platform/win32/files.h"
#include "platform/win32/window.h"

#include <atomic>
#include <mutex>
#include <thread>

namespace rendertest {

RenderRun RunPhoto2Avi(const std::string &movie, int compressor, const std::string &sound,
                       std::function<void()> onProgress, const MurelineOptions *options)
{
    RenderRun run;
    std::mutex boxesMutex;
    win32::MessageBoxHandler previous = win32::SetMessageBoxHandler(
        [&](HWND, const std::string &text, const std::string &, UINT type) {
            std::lock_guard lock(boxesMutex);
            run.messages.push_back(text);
            run.movieAtMessage.push_back(testsupport::Exists(movie));
            const auto entries = win32::ListFolder(movie.substr(0, movie.rfind('/') + 1));
            run.entriesAtMessage.push_back(entries ? entries->size() : 0);
            return win32::DefaultButton(type);
        });
    const UINT progress = win32::RegisterWindowMessageA("WM_COMPRESS_POSITION");
    HWND window = win32::CreateWindowHandle([&](HWND, UINT msg, WPARAM w, LPARAM l) -> LRESULT {
        if (msg == progress) {
            run.progress.emplace_back(w, l);
            if (onProgress)
                onProgress();
        }
        return 0;
    });
    std::atomic<bool> done{false};
    std::thread worker([&] {
        run.result = options
                         ? photo2AviEx(window, movie.c_str(), compressor, sound.c_str(), options)
                         : photo2Avi(window, movie.c_str(), 720, 480, compressor, 0, sound.c_str());
        done = true;
    });
    win32::CurrentThreadQueue()->runUntil([&] { return done.load(); });
    worker.join();
    win32::DestroyWindowHandle(window);
    win32::SetMessageBoxHandler(std::move(previous));
    return run;
}

} // namespace rendertest
