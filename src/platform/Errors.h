#pragma once
// The engine's exceptions. Every failure the user can see is one of these and
// carries the text to show; the file texts are formed here and nowhere else.

#include <stdexcept>
#include <string>

// The general error type: a message text and nothing else.
class ECorvaneError : public std::runtime_error {
public:
    explicit ECorvaneError(const std::string& message) : std::runtime_error(message) {}
};

// A file could not be opened: Cannot open file "<path>". <reason>
class EFOpenError : public ECorvaneError {
public:
    EFOpenError(const std::string& path, const std::string& reason);
    const std::string& Path() const { return path_; }
private:
    std::string path_;
};

// A file could not be created: Cannot create file "<path>". <reason>
class EFCreateError : public ECorvaneError {
public:
    EFCreateError(const std::string& path, const std::string& reason);
    const std::string& Path() const { return path_; }
    // The system's explanation alone, for raising the failure again under
    // another name (a file written under a temporary name).
    const std::string& Reason() const { return reason_; }
private:
    std::string path_;
    std::string reason_;
};

// A read or write on an open file failed.
class EInOutError : public ECorvaneError {
public:
    using ECorvaneError::ECorvaneError;
};

// The reason given when a name that should be a file names something else
// that can be opened: a FIFO, a socket, a device.
extern const char kNotRegularFileText[];

// The system's explanation of an error code (errno, or GetLastError on Windows).
std::string SystemErrorText(int code);
// The system's explanation of the calling thread's last error.
std::string LastSystemErrorText();
// The calling thread's last error code.
int LastSystemError();
