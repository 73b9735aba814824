// The errors that the system raises, each with the text the user sees. An error
// that a command does not catch reaches the application's error handler, which
// shows what() in a message box.
#pragma once

#include <cstring>
#include <exception>
#include <stdexcept>
#include <string>

namespace forms {

class Exception : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

// A text that should have been a number.
class EConvertError : public Exception
{
public:
    using Exception::Exception;
    static EConvertError invalidInteger(const std::string &text)
    {
        return EConvertError("'" + text + "' is not a valid integer value");
    }
};

// A file that cannot be created (or written in full).
class EFCreateError : public Exception
{
public:
    using Exception::Exception;
    static EFCreateError forFile(const std::string &path, int error)
    {
        return forFile(path, std::string(std::strerror(error)));
    }
    static EFCreateError forFile(const std::string &path, const std::string &reason)
    {
        return EFCreateError("Cannot create file \"" + path + "\". " + reason);
    }
};

// An INI file that cannot be written.
class EIniFileException : public Exception
{
public:
    using Exception::Exception;
    static EIniFileException forFile(const std::string &path)
    {
        return EIniFileException("Unable to write to " + path);
    }
};

// A worker thread that cannot be started.
class EThread : public Exception
{
public:
    using Exception::Exception;
    static EThread creationFailed(int error)
    {
        return EThread(std::string("Thread creation error: ") + std::strerror(error));
    }
};

// A control handed over as a kind it is not.
class EInvalidCast : public Exception
{
public:
    EInvalidCast()
        : Exception("Invalid class typecast")
    {}
};

// A picture file that cannot be opened or decoded.
class EInvalidGraphic : public Exception
{
public:
    using Exception::Exception;
    static EInvalidGraphic forFile(const std::string &path, const std::string &reason)
    {
        return EInvalidGraphic("Cannot read the picture \"" + path + "\": " + reason);
    }
};

// The text an error shows the user: what() of a standard error.
inline std::string MessageOf(const std::exception_ptr &error)
{
    try {
        std::rethrow_exception(error);
    } catch (const std::exception &e) {
        return e.what();
    } catch (...) {
        return "Unknown exception";
    }
}

} // namespace forms
