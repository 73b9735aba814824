#include "platform/media/detail/ffmpeg.h"

#include <cerrno>
#include <new>

namespace media::detail {

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
