#include "platform/media/detail/file_writer.h"

#include "platform/media/detail/filters.h"
#include "platform/win32/strings.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace media::detail {

FileWriter::FileWriter(const std::u16string &path)
    : BaseFilter(u"File writer")
    , path_(path)
{
    addInputPin(u"in");
}

FileWriter::~FileWriter()
{
    if (fd_ >= 0)
        ::close(fd_);
    if (given_ >= 0)
        ::close(given_);
}

HRESULT FileWriter::QueryInterface(REFIID riid, void **object)
{
    if (object && riid == IID_IFileSinkFilter) {
        *object = static_cast<IFileSinkFilter *>(this);
        AddRef();
        return S_OK;
    }
    if (object && riid == IID_IFileSinkDescriptor) {
        *object = static_cast<IFileSinkDescriptor *>(this);
        AddRef();
        return S_OK;
    }
    return BaseFilter::QueryInterface(riid, object);
}

HRESULT FileWriter::SetFileName(LPCOLESTR fileName, const AM_MEDIA_TYPE *)
{
    if (!fileName)
        return E_POINTER;
    if (!*fileName)
        return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (fd_ >= 0)
        return VFW_E_NOT_STOPPED;
    path_ = fileName;
    return S_OK;
}

HRESULT FileWriter::SetFileDescriptor(int fd)
{
    if (fd < 0)
        return E_INVALIDARG;
    std::lock_guard lock(mutex_);
    if (fd_ >= 0)
        return VFW_E_NOT_STOPPED;
    const int copy = ::fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0)
        return ErrnoToHresult(errno);
    if (given_ >= 0)
        ::close(given_);
    given_ = copy;
    return S_OK;
}

HRESULT FileWriter::GetCurFile(LPOLESTR *fileName, AM_MEDIA_TYPE *type)
{
    if (!fileName)
        return E_POINTER;
    std::lock_guard lock(mutex_);
    const std::size_t bytes = (path_.size() + 1) * sizeof(OLECHAR);
    *fileName = static_cast<LPOLESTR>(CoTaskMemAlloc(bytes));
    if (!*fileName)
        return E_OUTOFMEMORY;
    std::memcpy(*fileName, path_.c_str(), bytes);
    if (type) {
        std::memset(type, 0, sizeof *type);
        type->majortype = MEDIATYPE_Stream;
        type->subtype = MEDIASUBTYPE_Avi;
    }
    return S_OK;
}

bool FileWriter::acceptsInput(const InputPin &, const MediaType &type) const
{
    return type.major == Major::Stream;
}

std::string FileWriter::pathUtf8() const
{
    return win32::WideToAnsi(path_);
}

void FileWriter::fail(int error, const char *what)
{
    failureCode_ = ErrnoToHresult(error);
    failure_ = std::string(what) + " \"" + pathUtf8() + "\". " + std::strerror(error);
}

HRESULT FileWriter::Open(std::string *reason)
{
    std::lock_guard lock(mutex_);
    if (fd_ >= 0)
        ::close(fd_);
    failure_.clear();
    failureCode_ = S_OK;
    // A link at the name is refused, never written through. So is a file that
    // has other names too (a hard link someone put there) or is another user's:
    // emptying it would empty a file elsewhere, or hand the movie to its owner.
    // Checked on the file opened, before it is emptied.
    fd_ = given_ >= 0 ? ::fcntl(given_, F_DUPFD_CLOEXEC, 0)
                      : ::open(pathUtf8().c_str(), O_RDWR | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0666);
    struct stat st
    {};
    int error = fd_ < 0 ? errno : ::fstat(fd_, &st) != 0 ? errno : 0;
    if (error == 0 && S_ISREG(st.st_mode)) {
        if (st.st_nlink > 1)
            error = EMLINK;
        else if (st.st_uid != ::geteuid())
            error = EPERM;
        else if (::ftruncate(fd_, 0) != 0 || ::lseek(fd_, 0, SEEK_SET) != 0)
            error = errno;
    }
    if (error != 0) {
        if (fd_ >= 0)
            ::close(fd_);
        fd_ = -1;
        fail(error, "Cannot create file");
        *reason = failure_;
        return failureCode_;
    }
    return S_OK;
}

int FileWriter::Write(const std::uint8_t *data, int size)
{
    std::lock_guard lock(mutex_);
    int done = 0;
    while (done < size) {
        const ssize_t n = ::write(fd_, data + done, size - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            const int error = n < 0 ? errno : ENOSPC;
            fail(error, "Cannot write file");
            return AVERROR(error);
        }
        done += static_cast<int>(n);
    }
    return done;
}

std::int64_t FileWriter::Size()
{
    std::lock_guard lock(mutex_);
    struct stat st;
    if (::fstat(fd_, &st) != 0)
        return AVERROR(errno);
    return st.st_size;
}

int FileWriter::ReadAt(std::int64_t offset, std::uint8_t *data, int size)
{
    std::lock_guard lock(mutex_);
    for (;;) {
        const ssize_t n = ::pread(fd_, data, static_cast<std::size_t>(size), offset);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            const int error = errno;
            fail(error, "Cannot read file");
            return AVERROR(error);
        }
        return n == 0 ? AVERROR_EOF : static_cast<int>(n);
    }
}

std::int64_t FileWriter::Seek(std::int64_t offset, int whence)
{
    if (whence & AVSEEK_SIZE)
        return Size();
    std::lock_guard lock(mutex_);
    const off_t at = ::lseek(fd_, offset, whence & ~AVSEEK_FORCE);
    if (at < 0) {
        const int error = errno;
        fail(error, "Cannot write file");
        return AVERROR(error);
    }
    return at;
}

bool FileWriter::Close()
{
    std::lock_guard lock(mutex_);
    if (fd_ < 0)
        return failureCode_ == S_OK;
    const int ret = ::close(fd_);
    fd_ = -1;
    if (ret != 0 && failureCode_ == S_OK)
        fail(errno, "Cannot write file");
    return failureCode_ == S_OK;
}

void FileWriter::Discard()
{
    Close();
    std::lock_guard lock(mutex_);
    if (given_ < 0)
        ::unlink(pathUtf8().c_str());
}

std::string FileWriter::failure() const
{
    std::lock_guard lock(mutex_);
    return failure_;
}

HRESULT FileWriter::failureCode() const
{
    std::lock_guard lock(mutex_);
    return failureCode_;
}

void FileWriter::Completed()
{
    context().EndpointComplete();
}

void FileWriter::Finish()
{
    Close();
}

ComPtr<BaseFilter> MakeFileWriter(const std::u16string &path)
{
    return MakeCom<FileWriter>(path);
}

} // namespace media::detail
