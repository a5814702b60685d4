#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/sound/SoundSystem.h"

#include "model/UserSettings.h"

#include <chrono>
#include <cmath>
#include <mutex>
#include <thread>

namespace reelbox::cli {

namespace {

// The stored microphone while it is connected, else the system default, else the first.
QString chooseMicrophone(const SoundSystem& sound) {
    const std::vector<SoundDevice> microphones = sound.microphones();
    const QString stored = UserSettings::microphoneID().value_or(QString());
    for (const SoundDevice& mic : microphones)
        if (!stored.isEmpty() && mic.id == stored)
            return stored;
    if (!sound.defaultMicrophoneId().isEmpty())
        return sound.defaultMicrophoneId();
    return microphones.empty() ? QString() : microphones.front().id;
}

// Levels to a tenth of a decibel, as the meters show them.
double tenths(float db) {
    return std::round(double(db) * 10.0) / 10.0;
}

} // namespace

int runMeter(const Arguments& args, const std::stop_token& stop) {
    QString microphone = args.value(QStringLiteral("microphone"), {});
    double seconds = -1;
    if (const auto text = args.value(QStringLiteral("seconds"))) {
        bool ok = false;
        seconds = text->toDouble(&ok);
        if (!ok || seconds < 0)
            throw UsageError{QStringLiteral("meter: --seconds needs a number of seconds")};
    }
    SoundSystem sound;
    if (microphone.isEmpty())
        microphone = chooseMicrophone(sound);
    std::mutex mutex;
    QString failure;
    bool reported = false;
    auto stream = sound.openInput(microphone, {}, [&](const QString& message) {
        std::lock_guard lock(mutex);
        failure = message.isEmpty() ? QStringLiteral("The microphone stopped.") : message;
        reported = true;
    });

    using Clock = HostClock;
    const auto start = Clock::now();
    auto next = start;
    stream->readLevels(); // start the first interval now
    for (;;) {
        next += std::chrono::milliseconds(50);
        std::this_thread::sleep_until(next);
        if (stop.stop_requested())
            throw Cancelled();
        {
            // The stream is marked failed a moment before its message arrives: wait for it.
            std::lock_guard lock(mutex);
            if (reported)
                throw Error(failure);
        }
        QStringList levels;
        for (const LevelMeter::Level& level : stream->readLevels())
            levels << jsonObject({{QStringLiteral("average"), jsonNumber(tenths(level.average))},
                                  {QStringLiteral("peak"), jsonNumber(tenths(level.peak))}});
        printLine(jsonArray(levels));
        if (seconds >= 0 && Clock::now() - start >= std::chrono::duration<double>(seconds))
            return success;
    }
}

} // namespace reelbox::cli
