#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "capture/LatencyCalibration.h"
#include "model/UserSettings.h"
#include "platform/Error.h"
#include "platform/sound/SoundSystem.h"

#include <algorithm>
#include <cmath>

namespace reelbox::cli {

namespace {

bool virtualDevicesAlways() {
    return qEnvironmentVariable("REELBOX_VIRTUAL_DEVICES") == QLatin1String("1");
}

// The test device with the virtual devices or without a sound server, else the server's default,
// else the first listed.
QString chooseDevice(const SoundSystem& sound, const std::vector<SoundDevice>& devices,
                     const QString& testId, const QString& defaultId) {
    if (virtualDevicesAlways() || !sound.hasServer())
        return testId;
    if (!defaultId.isEmpty())
        return defaultId;
    return devices.empty() ? testId : devices.front().id;
}

// Milliseconds to the microsecond, seconds to the tenth of a microsecond; never "-0".
double rounded(double value, double scale) {
    return std::round(value * scale) / scale + 0.0;
}

} // namespace

int runCalibrate(const Arguments& args, const std::stop_token& stop) {
    QString output = args.value(QStringLiteral("output"), {});
    QString microphone = args.value(QStringLiteral("microphone"), {});
    int input = 0;
    if (const auto text = args.value(QStringLiteral("input"))) {
        bool ok = false;
        input = text->toInt(&ok);
        if (!ok || input < 1)
            throw UsageError{QStringLiteral("calibrate: --input needs an input number from 1")};
    }
    SoundSystem sound;
    const std::vector<SoundDevice> microphones = sound.microphones();
    if (output.isEmpty())
        output = chooseDevice(sound, sound.outputs(), testOutputId(), sound.defaultOutputId());
    if (microphone.isEmpty())
        microphone =
            chooseDevice(sound, microphones, testMicrophoneId(), sound.defaultMicrophoneId());
    const auto mic = std::find_if(microphones.begin(), microphones.end(),
                                  [&](const SoundDevice& d) { return d.id == microphone; });
    if (mic == microphones.end())
        throw Error(QStringLiteral("The microphone \"%1\" isn't connected.").arg(microphone));
    if (input == 0)
        input = mic->channels;
    if (input > mic->channels)
        throw Error(QStringLiteral("%1 has %2 inputs; there is no input %3.")
                        .arg(mic->name)
                        .arg(mic->channels)
                        .arg(input));

    const RoundTrip trip = measureRoundTrip(sound, output, microphone, input - 1, stop);
    UserSettings::setOverdubNudge(microphone, trip.nudgeSeconds());
    QStringList measurements;
    for (const double seconds : trip.measurementsSeconds)
        measurements << jsonNumber(rounded(seconds * 1000, 1e3));
    printLine(
        jsonObject({{QStringLiteral("roundTripMs"), jsonNumber(rounded(trip.seconds * 1000, 1e3))},
                    {QStringLiteral("nudge"), jsonNumber(rounded(trip.nudgeSeconds(), 1e7))},
                    {QStringLiteral("measurementsMs"), jsonArray(measurements)}}));
    return success;
}

} // namespace reelbox::cli
