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
#include <vector>

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
std::string WithReason(const std::string &text, const std::string &reason)
{
    std::string message = text;
    if (!reason.empty() && !message.ends_with("\r\n\r\n"))
        message += "\r\n\r\n";
    return message + reason;
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

// The file type of a container; a null GUID, which the builder refuses, for a
// value that names none.
GUID SubtypeOf(int container)
{
    switch (container) {
    case MURELINE_CONTAINER_AVI:
        return MEDIASUBTYPE_Avi;
    case MURELINE_CONTAINER_MP4:
        return MEDIASUBTYPE_Mp4;
    case MURELINE_CONTAINER_MATROSKA:
        return MEDIASUBTYPE_Matroska;
    case MURELINE_CONTAINER_WEBM:
        return MEDIASUBTYPE_WebM;
    default:
        return GUID{};
    }
}

// Why the movie's container cannot carry the compressor at `index`; "" when it
// can or when there is no compressor there (the connection then says so).
std::string ContainerRefusal(int container, int index)
{
    const auto &category = media::VideoCompressorCategory();
    if (index < 0 || static_cast<std::size_t>(index) >= category.size() || container < 0
        || container > MURELINE_CONTAINER_WEBM)
        return {};
    return media::ContainerRefusal(static_cast<media::Container>(container), category[index]);
}

// The sound files of a call: the list of the options, else the one file.
std::vector<std::string> SoundFilesOf(const char *soundFile, const MurelineOptions &options)
{
    std::vector<std::string> files;
    if (options.soundFileCount > 0 && options.soundFiles) {
        for (int i = 0; i < options.soundFileCount; ++i)
            if (options.soundFiles[i] && *options.soundFiles[i])
                files.emplace_back(options.soundFiles[i]);
    } else if (soundFile && *soundFile) {
        files.emplace_back(soundFile);
    }
    return files;
}

// A PCM WAV alone that is kept whole goes into an AVI movie as it is, joined to
// the multiplexer directly. False (and the graph as it was) when the file is
// not such a one.
bool AddSoundAsItIs(const ComPtr<IGraphBuilder> &graph, IBaseFilter *mux, const std::string &file,
                    std::string *problem)
{
    const std::u16string sound = win32::AnsiToWide(file);
    ComPtr<IBaseFilter> music;
    graph->AddSourceFilter(sound.c_str(), u"Music source", music.Put());
    if (!music) {
        *problem = GraphReason(graph);
        return false;
    }
    ComPtr<IPin> musicOut = ComPtr<IPin>::Attach(OutputPinAt(music.Get(), 0));
    ComPtr<IPin> muxIn = ComPtr<IPin>::Attach(InputPinAt(mux, 1));
    if (musicOut && muxIn && SUCCEEDED(graph->ConnectDirect(musicOut.Get(), muxIn.Get(), nullptr)))
        return true;
    graph->RemoveFilter(music.Get());
    return false;
}

// The sound track: the files one after another, decoded, ended as `soundEnd`
// says and coded as the container wants. The message for the user when it
// cannot be.
std::string AddSoundTrack(const ComPtr<IGraphBuilder> &graph, const std::vector<std::string> &files,
                          int soundEnd)
{
    ComPtr<IBaseFilter> track;
    ComPtr<ISoundTrack> sounds;
    media::CoCreateInstance(CLSID_SoundTrack, nullptr, kContext, IID_IBaseFilter, track.PutVoid());
    if (!track || FAILED(track.As(&sounds))
        || FAILED(graph->AddFilter(track.Get(), u"Music source")))
        return "Could not load Music Source filter for file";
    for (const std::string &file : files) {
        std::string reason;
        if (FAILED(sounds->AddFile(win32::AnsiToWide(file).c_str(), &reason)))
            return "Could not load Music Source filter for file\r\n\r\n" + reason;
    }
    if (FAILED(sounds->SetEnd(soundEnd)))
        return "Could not load Music Source filter for file\r\n\r\nThere is no sound end "
               + std::to_string(soundEnd) + ".";
    ComPtr<IPin> trackOut = ComPtr<IPin>::Attach(OutputPinAt(track.Get(), 0));
    if (FAILED(graph->Render(trackOut.Get())))
        return "Could not load Music Source filter for file\r\n\r\nThe sound cannot be coded "
               "for this movie.";
    return {};
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
    // A failed render's new file goes before its message shows, so that a box
    // left open leaves nothing half made in the movie's folder.
    auto fail = [&movie](const std::string &message) {
        const std::string shown = movie.NamingTheMovie(message);
        movie.Discard();
        ShowMessage(shown.c_str());
        return -1;
    };
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
        return fail("Could not create a graph");
    }

    const std::string scriptPath = win32::FixedScriptPath();
    const std::string folderProblem = win32::TempFolderProblem();
    const std::u16string script = win32::AnsiToWide(scriptPath);
    if (!scriptPath.empty())
        graph->AddSourceFilter(script.c_str(), u"Source", source.Put());
    if (!source) {
        return fail(WithReason("Could not load source filter for file",
                               scriptPath.empty() ? folderProblem : GraphReason(graph)));
    }

    GetCompressor(compressorIndex, compressor.Put());
    if (compressor)
        graph->AddFilter(compressor.Get(), u"Compressor");

    media::CoCreateInstance(CLSID_CaptureGraphBuilder, nullptr, kContext, IID_ICaptureGraphBuilder,
                            builder.PutVoid());
    if (!builder || FAILED(builder->SetFiltergraph(graph.Get()))) {
        return fail("Could not setup capture graph");
    }

    const std::u16string output = win32::AnsiToWide(movie.TemporaryPath());
    const GUID subtype = SubtypeOf(options.container);
    if (FAILED(builder->SetOutputFileName(&subtype, outputFile ? output.c_str() : nullptr,
                                          mux.Put(), sink.Put()))) {
        return fail("Cannot set up MUX and File Writer");
    }
    // The movie goes into the very file made for it, in the folder it was made
    // in, not into whatever its name leads to by the time the graph runs.
    if (outputFile) {
        ComPtr<IFileSinkDescriptor> held;
        if (FAILED(sink->QueryInterface(IID_IFileSinkDescriptor, held.PutVoid()))
            || FAILED(held->SetFileDescriptor(movie.Descriptor())))
            return fail("Cannot set up MUX and File Writer");
    }

    sourceOut = ComPtr<IPin>::Attach(OutputPinAt(source.Get(), 0));
    compressorIn = ComPtr<IPin>::Attach(InputPinAt(compressor.Get(), 0));
    compressorOut = ComPtr<IPin>::Attach(OutputPinAt(compressor.Get(), 0));
    muxIn = ComPtr<IPin>::Attach(InputPinAt(mux.Get(), 0));

    if (FAILED(graph->Connect(sourceOut.Get(), compressorIn.Get()))) {
        return fail(
            WithReason("Could not connect photo source to compressor.\r\n\r\n",
                       compressor ? GraphReason(graph) : MissingCompressorReason(compressorIndex)));
    }
    if (const std::string refusal = ContainerRefusal(options.container, compressorIndex);
        !refusal.empty()) {
        return fail(WithReason("Could not connect compressor to mux.\r\n\r\n", refusal));
    }
    if (FAILED(graph->Connect(compressorOut.Get(), muxIn.Get()))) {
        return fail(WithReason("Could not connect compressor to mux.\r\n\r\n", GraphReason(graph)));
    }

    // A PCM WAV alone, kept whole, goes into an AVI movie as it always did;
    // everything else through the sound track.
    if (const std::vector<std::string> sounds = SoundFilesOf(soundFile, options); !sounds.empty()) {
        std::string problem;
        const bool asItIs = options.container == MURELINE_CONTAINER_AVI
                            && options.soundEnd == MURELINE_SOUND_KEEP && sounds.size() == 1
                            && AddSoundAsItIs(graph, mux.Get(), sounds.front(), &problem);
        if (!problem.empty()) {
            return fail(WithReason("Could not load Music Source filter for file", problem));
        }
        if (!asItIs) {
            if (const std::string message = AddSoundTrack(graph, sounds, options.soundEnd);
                !message.empty()) {
                return fail(message);
            }
        }
    }

    graph.As(&control);
    graph.As(&mediaFilter);
    graph.As(&events);
    graph.As(&seeking);
    if (!control || !mediaFilter || !events || !seeking) {
        return fail("Could not run compression graph");
    }

    if (FAILED(mediaFilter->SetSyncSource(nullptr)))
        ShowMessage("Could not SetSyncSource NULL on the graph");

    if (stopRequested())
        return MURELINE_STOPPED;

    // A container that writes as the graph starts (an MP4's first box) can
    // already meet a full disk here.
    if (FAILED(control->Run())) {
        return fail(WithReason("Could not run compression graph", GraphReason(graph)));
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
        return fail(message);
    }
    if (outputFile) {
        if (const std::string problem = movie.Commit(); !problem.empty()) {
            return fail("Could not complete compression graph\r\n\r\n" + problem);
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
    // a failed render removes it first, an exception as the render's scope ends.
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
