// The file writer: the end of the graph. The multiplexer connected to it
// writes through it; the file is created when the graph runs.
#pragma once

#include "platform/media/detail/filter.h"

#include <mutex>
#include <string>

namespace media::detail {

class FileWriter final : public BaseFilter, public IFileSinkFilter, public IFileSinkDescriptor
{
public:
    explicit FileWriter(const std::u16string &path);

    HRESULT QueryInterface(REFIID riid, void **object) override;
    ULONG AddRef() override { return BaseFilter::AddRef(); }
    ULONG Release() override { return BaseFilter::Release(); }

    HRESULT SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE *type) override;
    HRESULT GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *type) override;
    HRESULT SetFileDescriptor(int fd) override;

    bool acceptsInput(const InputPin &pin, const MediaType &type) const override;

    // The multiplexer's side, from one thread at a time. Open creates (or
    // empties) the file; Write and Seek answer as libavformat's I/O callbacks
    // do (a negative AVERROR on failure); Close reports whether everything
    // reached the file.
    HRESULT Open(std::string *reason);
    int Write(const std::uint8_t *data, int size);
    std::int64_t Seek(std::int64_t offset, int whence);
    // Reads back what was written, at `offset`, leaving the writing position
    // as it is (the MP4 multiplexer moves its index to the front this way).
    int ReadAt(std::int64_t offset, std::uint8_t *data, int size);
    std::int64_t Size();
    bool Close();
    // Removes a file that Open created and nothing good was written to.
    void Discard();
    // Why the latest operation failed, for the user; and as an HRESULT.
    std::string failure() const;
    HRESULT failureCode() const;
    // The whole file is written and closed: the end of the stream.
    void Completed();

    void Finish() override;

private:
    ~FileWriter() override;
    std::string pathUtf8() const;
    void fail(int error, const char *what);

    mutable std::mutex mutex_;
    std::u16string path_;
    int fd_ = -1;
    int given_ = -1; // the file handed over, or -1 to open path_
    std::string failure_;
    HRESULT failureCode_ = S_OK;
};

} // namespace media::detail
