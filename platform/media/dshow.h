// The DirectShow subset: the filter graph manager, pins, the capture graph
// builder with its AVI multiplexer and file writer, media control, events and
// seeking, and the system device enumerator with the video compressor category.
//
// What stands behind the interfaces:
// - AddSourceFilter on a ".avs" file opens it with the script engine
//   (platform/avs): one video output pin, 24-bit RGB at the clip's size and rate.
//   Any other file that libavformat opens with an audio stream gets an audio
//   source with one output pin carrying that stream as it is.
// - The video compressors of CLSID_VideoCompressorCategory are FFmpeg encoders
//   (platform/media/compressors.h).
// - Connect inserts a colour converter when the two pins do not agree on a
//   picture format; Render connects an output pin to a free input pin of a
//   filter already in the graph.
// - SetOutputFileName adds the multiplexer of the file type (AVI, or ours: MP4,
//   Matroska, WebM; one free input pin at all times) and the file writer. The
//   file is created when the graph runs. AVI takes PCM sound, MP4 and Matroska
//   AAC, WebM Opus; Connect and Render put an audio encoder in front of the
//   multiplexer for decoded sound.
// - The sound track (CLSID_SoundTrack, ours) is a source of decoded sound made
//   of sound files played one after another, ended against the pictures.
// - Without a reference clock (SetSyncSource(nullptr)) the graph runs as fast as
//   its filters allow; source, conversion, encoding and writing overlap on their
//   own threads.
#pragma once

#include "platform/media/com.h"

#include <string>

// Public DirectShow identifiers.
inline constexpr CLSID CLSID_FilterGraph{
    0xE436EBB3, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr CLSID CLSID_CaptureGraphBuilder{
    0xBF87B6E0, 0x8C27, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr CLSID CLSID_SystemDeviceEnum{
    0x62BE5D10, 0x60EB, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr CLSID CLSID_VideoCompressorCategory{
    0x33D9A760, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr CLSID CLSID_AudioCompressorCategory{
    0x33D9A761, 0x90C8, 0x11D0, {0xBD, 0x43, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr CLSID CLSID_SystemClock{
    0xE436EBB1, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};

inline constexpr GUID MEDIATYPE_Video{
    0x73646976, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIATYPE_Audio{
    0x73647561, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71}};
inline constexpr GUID MEDIATYPE_Stream{
    0xE436EB83, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr GUID MEDIASUBTYPE_Avi{
    0xE436EB88, 0x524F, 0x11CE, {0x9F, 0x53, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
// Ours: the file types beyond AVI that SetOutputFileName writes.
inline constexpr GUID MEDIASUBTYPE_Mp4{
    0x0CC6243A, 0x79D9, 0x4709, {0xA9, 0x39, 0x7D, 0x84, 0x35, 0xB8, 0xB4, 0x10}};
inline constexpr GUID MEDIASUBTYPE_Matroska{
    0xE2B179DE, 0x1125, 0x4DB6, {0xAC, 0x93, 0x93, 0x80, 0xDA, 0x2F, 0x7E, 0xD6}};
inline constexpr GUID MEDIASUBTYPE_WebM{
    0x0EA8E48C, 0x7925, 0x4EDA, {0x92, 0x0E, 0xE5, 0x87, 0x99, 0xAA, 0x21, 0xAB}};
// Ours: the sound track filter and its interface.
inline constexpr CLSID CLSID_SoundTrack{
    0x312A46B9, 0x253B, 0x449C, {0x99, 0xD7, 0x21, 0x94, 0x0D, 0xD5, 0xB4, 0x32}};

inline constexpr IID IID_IBaseFilter{
    0x56A86895, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IPin{
    0x56A86891, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IEnumPins{
    0x56A86892, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IEnumFilters{
    0x56A86893, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IReferenceClock{
    0x56A86897, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaFilter{
    0x56A86899, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IFilterGraph{
    0x56A8689F, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IGraphBuilder{
    0x56A868A9, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaControl{
    0x56A868B1, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaEvent{
    0x56A868B6, 0x0AD4, 0x11CE, {0xB0, 0x3A, 0x00, 0x20, 0xAF, 0x0B, 0xA7, 0x70}};
inline constexpr IID IID_IMediaSeeking{
    0x36B73880, 0xC2C8, 0x11CF, {0x8B, 0x46, 0x00, 0x80, 0x5F, 0x6C, 0xEF, 0x60}};
inline constexpr IID IID_ICaptureGraphBuilder{
    0xBF87B6E0, 0x8C27, 0x11D0, {0xB3, 0xF0, 0x00, 0xAA, 0x00, 0x37, 0x61, 0xC5}};
inline constexpr IID IID_IFileSinkFilter{
    0xA2104830, 0x7C70, 0x11CF, {0x8B, 0xCE, 0x00, 0xAA, 0x00, 0xA3, 0xF1, 0xA6}};
inline constexpr IID IID_ICreateDevEnum{
    0x29840822, 0x5B84, 0x11D0, {0xBD, 0x3B, 0x00, 0xA0, 0xC9, 0x11, 0xCE, 0x86}};
inline constexpr IID IID_ISoundTrack{
    0xAD682E9E, 0x1194, 0x47C1, {0xA4, 0x62, 0xEF, 0x6E, 0xB8, 0x5D, 0x36, 0x8A}};
// Ours: a file writer handed a file already open.
inline constexpr IID IID_IFileSinkDescriptor{
    0x3D0B6C1E, 0x5A27, 0x4F8E, {0x9B, 0x14, 0x6E, 0x2C, 0x81, 0xD3, 0x57, 0xA9}};
// Ours: why the graph failed, as text for the user.
inline constexpr IID IID_IGraphErrorInfo{
    0x6A1F3C52, 0x93D4, 0x4E0B, {0x8C, 0x61, 0x2B, 0x7E, 0x05, 0xD9, 0x4A, 0x13}};

// DirectShow result codes (vfwmsgs.h).
inline constexpr HRESULT VFW_S_DUPLICATE_NAME = 0x0004022D;
inline constexpr HRESULT VFW_E_INVALIDMEDIATYPE = static_cast<HRESULT>(0x80040200);
inline constexpr HRESULT VFW_E_ALREADY_CONNECTED = static_cast<HRESULT>(0x80040204);
inline constexpr HRESULT VFW_E_NO_ACCEPTABLE_TYPES = static_cast<HRESULT>(0x80040207);
inline constexpr HRESULT VFW_E_INVALID_DIRECTION = static_cast<HRESULT>(0x80040208);
inline constexpr HRESULT VFW_E_NOT_CONNECTED = static_cast<HRESULT>(0x80040209);
inline constexpr HRESULT VFW_E_RUNTIME_ERROR = static_cast<HRESULT>(0x8004020B);
inline constexpr HRESULT VFW_E_NOT_FOUND = static_cast<HRESULT>(0x80040216);
inline constexpr HRESULT VFW_E_CANNOT_CONNECT = static_cast<HRESULT>(0x80040217);
inline constexpr HRESULT VFW_E_CANNOT_RENDER = static_cast<HRESULT>(0x80040218);
inline constexpr HRESULT VFW_E_NOT_STOPPED = static_cast<HRESULT>(0x80040224);
inline constexpr HRESULT VFW_E_WRONG_STATE = static_cast<HRESULT>(0x80040227);
inline constexpr HRESULT VFW_E_TYPE_NOT_ACCEPTED = static_cast<HRESULT>(0x8004022A);
inline constexpr HRESULT VFW_E_UNKNOWN_FILE_TYPE = static_cast<HRESULT>(0x80040240);
inline constexpr HRESULT VFW_E_CANNOT_LOAD_SOURCE_FILTER = static_cast<HRESULT>(0x80040241);
inline constexpr HRESULT VFW_E_NOT_IN_GRAPH = static_cast<HRESULT>(0x8004025F);
inline constexpr HRESULT VFW_E_UNSUPPORTED_STREAM = static_cast<HRESULT>(0x80040265);

// Event codes.
inline constexpr LONG EC_COMPLETE = 0x01;
inline constexpr LONG EC_USERABORT = 0x02;
inline constexpr LONG EC_ERRORABORT = 0x03;

inline constexpr LONG INFINITE = -1;

enum PIN_DIRECTION { PINDIR_INPUT = 0, PINDIR_OUTPUT = 1 };
enum FILTER_STATE { State_Stopped = 0, State_Paused = 1, State_Running = 2 };
using OAFilterState = LONG;

struct IBaseFilter;
struct IFilterGraph;

struct AM_MEDIA_TYPE
{
    GUID majortype;
    GUID subtype;
    BOOL bFixedSizeSamples;
    BOOL bTemporalCompression;
    ULONG lSampleSize;
    GUID formattype;
    IUnknown *pUnk;
    ULONG cbFormat;
    BYTE *pbFormat;
};

// QueryFilterInfo and QueryPinInfo add a reference to the graph and filter they
// hand out; the caller releases it.
struct FILTER_INFO
{
    OLECHAR achName[128];
    IFilterGraph *pGraph;
};

struct PIN_INFO
{
    IBaseFilter *pFilter;
    PIN_DIRECTION dir;
    OLECHAR achName[128];
};

struct IReferenceClock : IUnknown
{
    static constexpr const IID &uuid = IID_IReferenceClock;
    virtual HRESULT GetTime(REFERENCE_TIME *time) = 0;
};

struct IPin : IUnknown
{
    static constexpr const IID &uuid = IID_IPin;
    // VFW_E_NOT_CONNECTED (and null) when not connected.
    virtual HRESULT ConnectedTo(IPin **pin) = 0;
    virtual HRESULT QueryPinInfo(PIN_INFO *info) = 0;
    virtual HRESULT QueryDirection(PIN_DIRECTION *direction) = 0;
};

struct IEnumPins : IUnknown
{
    static constexpr const IID &uuid = IID_IEnumPins;
    // S_OK when `count` pins came back, S_FALSE when fewer did. `fetched` may
    // be null only when count is 1.
    virtual HRESULT Next(ULONG count, IPin **pins, ULONG *fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
};

struct IBaseFilter : IUnknown
{
    static constexpr const IID &uuid = IID_IBaseFilter;
    // The pins in a fixed order (the multiplexer: its output, then its inputs).
    virtual HRESULT EnumPins(IEnumPins **pins) = 0;
    virtual HRESULT QueryFilterInfo(FILTER_INFO *info) = 0;
};

struct IEnumFilters : IUnknown
{
    static constexpr const IID &uuid = IID_IEnumFilters;
    virtual HRESULT Next(ULONG count, IBaseFilter **filters, ULONG *fetched) = 0;
    virtual HRESULT Skip(ULONG count) = 0;
    virtual HRESULT Reset() = 0;
};

struct IFilterGraph : IUnknown
{
    static constexpr const IID &uuid = IID_IFilterGraph;
    // A null name is replaced by a made-up one; a name that is taken gets a
    // number appended and the result is VFW_S_DUPLICATE_NAME.
    virtual HRESULT AddFilter(IBaseFilter *filter, LPCWSTR name) = 0;
    virtual HRESULT RemoveFilter(IBaseFilter *filter) = 0;
    virtual HRESULT EnumFilters(IEnumFilters **filters) = 0;
    virtual HRESULT FindFilterByName(LPCWSTR name, IBaseFilter **filter) = 0;
    // Connects the two pins as they are, without converting filters; `type`
    // must be null.
    virtual HRESULT ConnectDirect(IPin *output, IPin *input, const AM_MEDIA_TYPE *type) = 0;
};

struct IGraphBuilder : IFilterGraph
{
    static constexpr const IID &uuid = IID_IGraphBuilder;
    // Intelligent connect: inserts a colour converter when the pins do not agree
    // on a picture format. Either pin may be given first.
    virtual HRESULT Connect(IPin *output, IPin *input) = 0;
    // Connects `output` to a free input pin of a filter already in the graph.
    virtual HRESULT Render(IPin *output) = 0;
    // Adds the source that fits the file; `filter` is null when there is none.
    virtual HRESULT AddSourceFilter(LPCWSTR fileName, LPCWSTR filterName, IBaseFilter **filter) = 0;
};

struct IFileSinkFilter : IUnknown
{
    static constexpr const IID &uuid = IID_IFileSinkFilter;
    virtual HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE *type) = 0;
    // `fileName` is allocated with media::CoTaskMemAlloc; the caller frees it.
    virtual HRESULT GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *type) = 0;
};

// Ours, on the file writer: the file to write is one the caller has open for
// reading and writing (`fd`, duplicated here; the caller keeps its own), not
// one the writer opens by its name, which then only names it in messages. What
// is written reaches that file whatever happens to names meanwhile. It is
// emptied when the graph runs, as a named file is, and the writer never
// removes it: that is left to whoever made it.
struct IFileSinkDescriptor : IUnknown
{
    static constexpr const IID &uuid = IID_IFileSinkDescriptor;
    virtual HRESULT SetFileDescriptor(int fd) = 0;
};

struct ICaptureGraphBuilder : IUnknown
{
    static constexpr const IID &uuid = IID_ICaptureGraphBuilder;
    virtual HRESULT SetFiltergraph(IGraphBuilder *graph) = 0;
    virtual HRESULT GetFiltergraph(IGraphBuilder **graph) = 0;
    // Adds a multiplexer and a file writer for `fileName`, connected to each
    // other. `type` is MEDIASUBTYPE_Avi, _Mp4, _Matroska or _WebM; `sink` may
    // be null.
    virtual HRESULT SetOutputFileName(const GUID *type, LPCOLESTR fileName, IBaseFilter **mux,
                                      IFileSinkFilter **sink)
        = 0;
};

struct IMediaControl : IUnknown
{
    static constexpr const IID &uuid = IID_IMediaControl;
    // Prepares every filter (encoders opened, the output file created) and starts
    // streaming; on a failure nothing runs and the result says why.
    virtual HRESULT Run() = 0;
    // Ends streaming and lets the multiplexer finish the file. Safe in any
    // state, and twice.
    virtual HRESULT Stop() = 0;
    virtual HRESULT GetState(LONG msTimeout, OAFilterState *state) = 0;
};

struct IMediaFilter : IUnknown
{
    static constexpr const IID &uuid = IID_IMediaFilter;
    virtual HRESULT Stop() = 0;
    // There is no paused state: E_NOTIMPL.
    virtual HRESULT Pause() = 0;
    virtual HRESULT Run(REFERENCE_TIME start) = 0;
    virtual HRESULT GetState(DWORD msTimeout, FILTER_STATE *state) = 0;
    // With a clock (the graph starts with the system clock) the source delivers
    // in real time; with none, as fast as the filters allow. Takes effect at the
    // next Run.
    virtual HRESULT SetSyncSource(IReferenceClock *clock) = 0;
    virtual HRESULT GetSyncSource(IReferenceClock **clock) = 0;
};

struct IMediaEvent : IUnknown
{
    static constexpr const IID &uuid = IID_IMediaEvent;
    // The next event (EC_COMPLETE with S_OK, or EC_ERRORABORT with the failure's
    // HRESULT in param1); E_ABORT when none came within the timeout.
    virtual HRESULT GetEvent(LONG *code, LONG_PTR *param1, LONG_PTR *param2, LONG msTimeout) = 0;
    // Waits at most `msTimeout` (INFINITE: no limit) for the running graph to
    // end. S_OK with EC_COMPLETE or EC_ERRORABORT in `code` once it has ended;
    // E_ABORT with code 0 while it runs; VFW_E_WRONG_STATE with code 0 when it
    // is not running.
    virtual HRESULT WaitForCompletion(LONG msTimeout, LONG *code) = 0;
    virtual HRESULT FreeEventParams(LONG code, LONG_PTR param1, LONG_PTR param2) = 0;
};

struct IMediaSeeking : IUnknown
{
    static constexpr const IID &uuid = IID_IMediaSeeking;
    // In 100-nanosecond units: the start time of the latest video sample that the
    // multiplexer has taken; once the graph has completed, the movie's length.
    virtual HRESULT GetCurrentPosition(LONGLONG *position) = 0;
    // The length of the longest source stream.
    virtual HRESULT GetDuration(LONGLONG *duration) = 0;
};

// Ours, on the graph manager: the reason for the graph's latest failure, for
// the user. After an error abort it is the abort's reason (a picture that could
// not be read, a full disk); otherwise the latest failed call's (a script that
// would not open, an output file that could not be created).
struct IGraphErrorInfo : IUnknown
{
    static constexpr const IID &uuid = IID_IGraphErrorInfo;
    // S_FALSE, with S_OK and an empty text, when nothing has failed.
    virtual HRESULT GetErrorReason(HRESULT *code, std::string *text) = 0;
};

struct ICreateDevEnum : IUnknown
{
    static constexpr const IID &uuid = IID_ICreateDevEnum;
    // S_FALSE and a null enumerator for an empty or unknown category.
    virtual HRESULT CreateClassEnumerator(REFCLSID category, IEnumMoniker **monikers, DWORD flags)
        = 0;
};

// How a sound track ends against the pictures.
enum SOUND_TRACK_END {
    SoundEnd_Cut = 0,  // cut where the pictures end, fading out over the last 2 s
                       // (half the movie when it is shorter than 4 s)
    SoundEnd_Keep = 1, // every file to its end, however long the pictures last
    SoundEnd_Loop = 2, // the files again from the first until the pictures end,
                       // then cut as SoundEnd_Cut does
};

// Ours, on the sound track filter (CLSID_SoundTrack): a source with one output
// pin of decoded sound, 32-bit float, at the first file's rate, in mono when the
// first file is mono and else in stereo (unless what it is connected to asks
// for another rate or format). The files play one after another, each
// resampled to that. The pictures' length is that of the graph's video source
// when the graph runs; a graph without pictures keeps every file whole.
struct ISoundTrack : IUnknown
{
    static constexpr const IID &uuid = IID_ISoundTrack;
    // Appends a file: any file with a sound stream that FFmpeg decodes, opened
    // now and only when it is a plain file. On failure `reason` says why, for
    // the user.
    virtual HRESULT AddFile(LPCOLESTR fileName, std::string *reason) = 0;
    // A SOUND_TRACK_END; SoundEnd_Cut until set. E_INVALIDARG for another value.
    virtual HRESULT SetEnd(LONG how) = 0;
};
