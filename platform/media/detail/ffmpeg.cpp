#include "platform/media/detail/ffmpeg.h"

#include <algorithm>
#include <cerrno>
#include <new>
#include <sched.h>
#include <thread>

namespace media::detail {

int UsableCores()
{
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
        return CPU_COUNT(&set);
    return static_cast<int>(std::max(1u, std::thread::hardware_concurrency()));
}

FramePtr NewFrame()
{
    FramePtr frame(av_frame_alloc());
    if (!frame)
        throw std::bad_alloc();
    return frame;
}

PacketPtr NewPacket()
{
    PacketPtr packet(av_packet_alloc());
    if (!packet)
        throw std::bad_alloc();
    return packet;
}

std::string AvError(int code)
{
    char text[AV_ERROR_MAX_STRING_SIZE] = {};
    av_strerror(code, text, sizeof text);
    return text;
}

HRESULT ErrnoToHresult(int error)
{
    switch (error) {
    case 0:
        return E_FAIL;
    case ENOENT:
        return HRESULT_FROM_WIN32(ERROR_PATH_NOT_FOUND);
    case EACCES:
    case EPERM:
    case EISDIR:
    case EROFS:
        return HRESULT_FROM_WIN32(ERROR_ACCESS_DENIED);
    case ENOSPC:
    case EDQUOT:
    case EFBIG:
        return HRESULT_FROM_WIN32(ERROR_DISK_FULL);
    case ENAMETOOLONG:
        return HRESULT_FROM_WIN32(ERROR_FILENAME_EXCED_RANGE);
    case ENOMEM:
        return E_OUTOFMEMORY;
    case EIO:
        return HRESULT_FROM_WIN32(ERROR_WRITE_FAULT);
    default:
        return E_FAIL;
    }
}

HRESULT AvErrorToHresult(int code)
{
    if (code == AVERROR(ENOMEM))
        return E_OUTOFMEMORY;
    if (code < 0 && code > -4096)
        return ErrnoToHresult(AVUNERROR(code));
    return E_FAIL;
}

} // namespace media::detail
