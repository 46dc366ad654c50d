#pragma once

#include <exception>
#include <string>

namespace tarnwick {

// Base of every exception the program raises. Each carries a fixed English message text.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}

    const char* what() const noexcept override { return message_.c_str(); }
    const std::string& Message() const noexcept { return message_; }

private:
    std::string message_;
};

// A text that should have been a number: "'<text>' is not a valid integer value".
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

// Root of the network and HTTP exception family; every layer derives its exceptions from it.
class EIdException : public Exception {
public:
    using Exception::Exception;
};

}  // namespace tarnwick
