// Base exception of the whole program: carries a message text and nothing else.
// Portable: used by the Win32 components and by the portable core alike.
#pragma once
#include <exception>
#include <string>
#include <utility>

class Exception : public std::exception {
public:
    explicit Exception(std::string message) : Message(std::move(message)) {}
    const char* what() const noexcept override { return Message.c_str(); }
    std::string Message;
};

// Raised by file streams that cannot open or create their file.
class EFOpenError : public Exception {
public:
    using Exception::Exception;
};
class EFCreateError : public Exception {
public:
    using Exception::Exception;
};
