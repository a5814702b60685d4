#pragma once

#include <QString>
#include <stdexcept>

namespace reelbox {

// Every failure a screen can show derives from Error; what() is the user-facing message.
class Error : public std::runtime_error {
public:
    explicit Error(const QString& message) : std::runtime_error(message.toStdString()) {}
    explicit Error(const std::string& message) : std::runtime_error(message) {}
    QString message() const { return QString::fromUtf8(what()); }
};

// Thrown when a cancellation token fires; callers treat it as silent.
class Cancelled : public std::exception {
public:
    const char* what() const noexcept override { return "Cancelled"; }
};

} // namespace reelbox
