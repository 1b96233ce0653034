#pragma once
// The framework's exception family: every failure of the program is an Exception carrying a
// message text (single-byte, as the program's texts are).
#include <exception>
#include <string>

namespace fw {

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : m_message(std::move(message)) {}
    const std::string &Message() const noexcept { return m_message; }
    const char *what() const noexcept override { return m_message.c_str(); }

private:
    std::string m_message;
};

// No platform resource (a timer) could be had.
class EOutOfResources : public Exception {
public:
    using Exception::Exception;
};

// A file operation failed; carries the operating system's error code and its text.
class EInOutError : public Exception {
public:
    EInOutError(int errorCode, std::string message) : Exception(std::move(message)), m_errorCode(errorCode) {}
    int ErrorCode() const noexcept { return m_errorCode; }

    // From errno after a failed call: the message is the system's text for the code.
    static EInOutError FromErrno(int errnoValue);

private:
    int m_errorCode;
};

class EStreamError : public Exception {
public:
    using Exception::Exception;
};

// A file could not be created (or opened) as a stream; carries the system's error code.
class EFileStreamError : public EStreamError {
public:
    EFileStreamError(std::string message, int errorCode) : EStreamError(std::move(message)), m_errorCode(errorCode) {}
    int ErrorCode() const noexcept { return m_errorCode; }

private:
    int m_errorCode;
};
class EFCreateError : public EFileStreamError {
public:
    using EFileStreamError::EFileStreamError;
};
class EFOpenError : public EFileStreamError {
public:
    using EFileStreamError::EFileStreamError;
};

// A text could not be converted to a number or other value.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

}  // namespace fw
