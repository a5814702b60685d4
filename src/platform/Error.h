#pragma once

#include <QString>
#include <optional>
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

// Runs `work` and returns what it failed with: none when it succeeded, an empty message when
// it was cancelled, else the failure's message. For work handed to another thread, whose
// failure comes back as a value.
template <class Work> std::optional<QString> failureOf(Work&& work) {
    try {
        work();
        return std::nullopt;
    } catch (const Cancelled&) {
        return QString();
    } catch (const Error& e) {
        return e.message();
    } catch (const std::exception& e) {
        return QString::fromUtf8(e.what());
    }
}

} // namespace reelbox
