#include "renderer/mureline.h"

#include "renderer/lookup.h"
#include "renderer/movie_file.h"

#include "platform/media/compressors.h"
#include "platform/media/dshow.h"
#include "platform/win32/files.h"
#include "platform/win32/strings.h"
#include "platform/win32/window.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <exception>
#include <string>

namespace mureline {

namespace {

constexpr DWORD kContext = CLSCTX_INPROC_SERVER | CLSCTX_INPROC_HANDLER | CLSCTX_LOCAL_SERVER;

// The reason the graph gave for ending early, for the user.
std::string GraphReason(const ComPtr<IGraphBuilder> &graph)
{
    ComPtr<IGraphErrorInfo> info;
    std::string text;
    HRESULT code = S_OK;
    if (SUCCEEDED(graph.As(&info)) && info)
        info->GetErrorReason(&code, &text);
    return text;
}

// The message, then why, for the messages that leave room for a reason.
void ShowMessageWithReason(const std::string &text, const std::string &reason)
{
    std::string message = text;
    if (!reason.empty() && !message.ends_with("\r\n\r\n"))
        message += "\r\n\r\n";
    ShowMessage((message + reason).c_str());
}

// Why no compressor came back for `index`.
std::string MissingCompressorReason(int index)
{
    const std::size_t count = media::VideoCompressorCategory().size();
    if (count == 0)
        return "There is no video compressor on this machine.";
    if (index < 0 || static_cast<std::size_t>(index) >= count)
        return "There is no video compressor at position " + std::to_string(index)
               + ": the positions go from 0 to " + std::to_string(count - 1) + ".";
    return "The video compressor at position " + std::to_string(index) + " could not be loaded.";
}

MurelineOptions OptionsOf(const MurelineOptions *given)
{
    MurelineOptions options{};
    if (given && given->size >= sizeof given->size)
        std::memcpy(&options, given, std::min<std::size_t>(given->size, sizeof options));
    options.size = sizeof options;
    return options;
}

int Render(HWND notifyWindow, const char *outputFile, int compressorIndex, const char *soundFile,
           const MurelineOptions &options)
{
    auto stopRequested = [&options] {
        return options.stopRequest && options.stopRequest->load(std::memory_order_relaxed) != 0;
    };
    // The old movie stays until the new one is complete: the render writes to a
    // new file beside it.
    MovieFile movie;
    if (outputFile) {
        if (const std::string problem = movie.Create(outputFile); !problem.empty()) {
            ShowMessage(problem.c_str());
            return -1;
        }
    }
    media::CoInitialize(nullptr);
    const UINT progressMessage = win32::RegisterWindowMessageA("WM_COMPRESS_POSITION");

    // Declared so that leaving the scope releases them in the order the
    // teardown wants: the control interfaces, the pins, the builder, the file
    // sink, the multiplexer, the compressor, the source, the graph.
    ComPtr<IGraphBuilder> graph;
    ComPtr<IBaseFilter> source;
    ComPtr<IBaseFilter> compressor;
    ComPtr<IBaseFilter> mux;
    ComPtr<IFileSinkFilter> sink;
    ComPtr<ICaptureGraphBuilder> builder;
    ComPtr<IPin> sourceOut;
    ComPtr<IPin> compressorIn;
    ComPtr<IPin> compressorOut;
    ComPtr<IPin> muxIn;
    ComPtr<IMediaControl> control;
    ComPtr<IMediaFilter> mediaFilter;
    ComPtr<IMediaEvent> events;
    ComPtr<IMediaSeeking> seeking;

    media::CoCreateInstance(CLSID_FilterGraph, nullptr, kContext, IID_IGraphBuilder,
                            graph.PutVoid());
    if (!graph) {
        ShowMessage("Could not create a graph");
        return -1;
    }

    const std::string scriptPath = win32::FixedScriptPath();
    const std::string folderProblem = win32::TempFolderProblem();
    const std::u16string script = win32::AnsiToWide(scriptPath);
    if (!scriptPath.empty())
        graph->AddSourceFilter(script.c_str(), u"Source", source.Put());
    if (!source) {
        ShowMessageWithReason("Could not load source filter for file",
                              scriptPath.empty() ? folderProblem : GraphReason(graph));
        return -1;
    }

    GetCompressor(compressorIndex, compressor.Put());
    if (compressor)
        graph->AddFilter(compressor.Get(), u"Compressor");

    media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, kContext, IID_ICaptureGraphBuilder,
                            builder.PutVoid());
    if (!builder || FAILED(builder->SetFiltergraph(graph.Get()))) {
        ShowMessage("Could not setup capture graph");
        return -1;
    }

    const std::u16string output = win32::AnsiToWide(movie.TemporaryPath());
    if (FAILED(builder->SetOutputFileName(&MEDIASUBTYPE_Avi, outputFile ? output.c_str() : nullptr,
                                          mux.Put(), sink.Put()))) {
        ShowMessage("Cannot set up MUX and File Writer");
        return -1;
    }

    sourceOut = ComPtr<IPin>::Attach(OutputPinAt(source.Get(), 0));
    compressorIn = ComPtr<IPin>::Attach(InputPinAt(compressor.Get(), 0));
    compressorOut = ComPtr<IPin>::Attach(OutputPinAt(compressor.Get(), 0));
    muxIn = ComPtr<IPin>::Attach(InputPinAt(mux.Get(), 0));

    if (FAILED(graph->Connect(sourceOut.Get(), compressorIn.Get()))) {
        ShowMessageWithReason("Could not connect photo source to compressor.\r\n\r\n",
                              compressor ? GraphReason(graph)
                                         : MissingCompressorReason(compressorIndex));
        return -1;
    }
    if (FAILED(graph->Connect(compressorOut.Get(), muxIn.Get()))) {
        ShowMessageWithReason("Could not connect compressor to mux.\r\n\r\n", GraphReason(graph));
        return -1;
    }

    if (soundFile && *soundFile) {
        const std::u16string sound = win32::AnsiToWide(soundFile);
        ComPtr<IBaseFilter> music;
        graph->AddSourceFilter(sound.c_str(), u"Music source", music.Put());
        if (!music) {
            ShowMessageWithReason("Could not load Music Source filter for file",
                                  GraphReason(graph));
            return -1;
        }
        ComPtr<IPin> musicOut = ComPtr<IPin>::Attach(OutputPinAt(music.Get(), 0));
        graph->Render(musicOut.Get());
    }

    graph.As(&control);
    graph.As(&mediaFilter);
    graph.As(&events);
    graph.As(&seeking);
    if (!control || !mediaFilter || !events || !seeking) {
        ShowMessage("Could not run compression graph");
        return -1;
    }

    if (FAILED(mediaFilter->SetSyncSource(nullptr)))
        ShowMessage("Could not SetSyncSource NULL on the graph");

    if (stopRequested())
        return MURELINE_STOPPED;

    if (FAILED(control->Run())) {
        ShowMessage("Could not run compression graph");
        return -1;
    }

    LONG code = 0;
    bool stopped = false;
    do {
        code = 0;
        events->WaitForCompletion(100, &code);
        LONGLONG position = 0;
        seeking->GetCurrentPosition(&position);
        const auto milliseconds = static_cast<std::uint32_t>(position / 10000);
        win32::SendMessageA(notifyWindow, progressMessage, static_cast<WPARAM>(milliseconds), 0);
        stopped = code == 0 && stopRequested();
    } while (code == 0 && !stopped);

    control->Stop();
    if (stopped)
        return MURELINE_STOPPED;

    // An aborted graph is a failed render, not a finished movie: the multiplexer
    // has closed what it had written into a playable but short file, which must
    // not stand under the movie's name.
    if (code != EC_COMPLETE) {
        const std::string message
            = "Could not complete compression graph\r\n\r\n" + GraphReason(graph);
        ShowMessage(message.c_str());
        return -1;
    }
    if (outputFile) {
        if (const std::string problem = movie.Commit(); !problem.empty()) {
            ShowMessage(("Could not complete compression graph\r\n\r\n" + problem).c_str());
            return -1;
        }
    }
    return 0;
}

} // namespace

} // namespace mureline

extern "C" int photo2AviEx(HWND notifyWindow, const char *outputFile, int compressorIndex,
                           const char *soundFile, const MurelineOptions *options)
{
    // Whatever happens, the movie's new file is gone before the message shows:
    // it is removed as the render's scope ends.
    try {
        return mureline::Render(notifyWindow, outputFile, compressorIndex, soundFile,
                                mureline::OptionsOf(options));
    } catch (const std::exception &e) {
        const std::string message
            = std::string("Could not complete compression graph\r\n\r\n") + e.what();
        mureline::ShowMessage(message.c_str());
    } catch (...) {
        mureline::ShowMessage("Could not complete compression graph");
    }
    return -1;
}

extern "C" int photo2Avi(HWND notifyWindow, const char *outputFile, int frameWidth, int frameHeight,
                         int compressorIndex, int durationSeconds, const char *soundFile)
{
    (void)frameWidth;
    (void)frameHeight;
    (void)durationSeconds;
    return photo2AviEx(notifyWindow, outputFile, compressorIndex, soundFile, nullptr);
}
