#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "platform/camera/CameraDevices.h"
#include "platform/sound/SoundSystem.h"

#include "model/UserSettings.h"

namespace reelbox::cli {

namespace {

// "1920x1080@15-30 fps" per frame-rate range.
QStringList formatSizes(const CameraFormat& format) {
    QStringList sizes;
    for (const FrameRateRange& range : format.frameRates)
        sizes << QStringLiteral("%1x%2@%3-%4 fps")
                     .arg(format.width)
                     .arg(format.height)
                     .arg(range.minFps, 0, 'g', 4)
                     .arg(range.maxFps, 0, 'g', 4);
    if (sizes.isEmpty())
        sizes << QStringLiteral("%1x%2").arg(format.width).arg(format.height);
    return sizes;
}

QString marks(bool isDefault, bool isStored) {
    QStringList m;
    if (isDefault)
        m << QStringLiteral("default");
    if (isStored)
        m << QStringLiteral("chosen");
    return m.isEmpty() ? QString() : QStringLiteral("  (%1)").arg(m.join(u", "));
}

// A device's name or id as the terminal should show it: control characters (an escape sequence
// in a name, a line break) become "?".
QString printable(QString text) {
    for (QChar& c : text)
        if (c.category() == QChar::Other_Control || c.category() == QChar::Other_Format)
            c = u'?';
    return text;
}

} // namespace

int runDevices(const Arguments& args) {
    const bool json = args.isSet(QStringLiteral("json"));
    const std::vector<CameraInfo> cameras = listCameras();
    const SoundSystem sound;
    const std::vector<SoundDevice> microphones = sound.microphones();
    const std::vector<SoundDevice> outputs = sound.outputs();
    const QString storedCamera = UserSettings::cameraID().value_or(QString());
    const QString storedMicrophone = UserSettings::microphoneID().value_or(QString());
    // Linux names no default camera: the first one stands in, as when choosing.
    const QString defaultCamera = cameras.empty() ? QString() : cameras.front().id;
    const QString defaultMicrophone = sound.defaultMicrophoneId();
    const QString defaultOutput = sound.defaultOutputId();

    if (json) {
        const QString yes = QStringLiteral("true"), no = QStringLiteral("false");
        QStringList cameraItems, microphoneItems, outputItems;
        for (const CameraInfo& camera : cameras) {
            QStringList formats;
            for (const CameraFormat& format : camera.formats)
                for (const QString& size : formatSizes(format))
                    formats << jsonObject(
                        {{QStringLiteral("format"), jsonString(size)},
                         {QStringLiteral("pixelFormat"), jsonString(format.pixelFormat)}});
            cameraItems << jsonObject(
                {{QStringLiteral("id"), jsonString(camera.id)},
                 {QStringLiteral("name"), jsonString(camera.name)},
                 {QStringLiteral("formats"), jsonArray(formats)},
                 {QStringLiteral("permissionDenied"), camera.permissionDenied ? yes : no},
                 {QStringLiteral("default"), camera.id == defaultCamera ? yes : no},
                 {QStringLiteral("chosen"), camera.id == storedCamera ? yes : no}});
        }
        for (const SoundDevice& mic : microphones)
            microphoneItems << jsonObject(
                {{QStringLiteral("id"), jsonString(mic.id)},
                 {QStringLiteral("name"), jsonString(mic.name)},
                 {QStringLiteral("channels"), QString::number(mic.channels)},
                 {QStringLiteral("default"), mic.id == defaultMicrophone ? yes : no},
                 {QStringLiteral("chosen"), mic.id == storedMicrophone ? yes : no}});
        for (const SoundDevice& out : outputs)
            outputItems << jsonObject(
                {{QStringLiteral("id"), jsonString(out.id)},
                 {QStringLiteral("name"), jsonString(out.name)},
                 {QStringLiteral("default"), out.id == defaultOutput ? yes : no}});
        printLine(jsonObject({{QStringLiteral("cameras"), jsonArray(cameraItems)},
                              {QStringLiteral("microphones"), jsonArray(microphoneItems)},
                              {QStringLiteral("outputs"), jsonArray(outputItems)}}));
        return success;
    }

    printLine(QStringLiteral("Cameras:"));
    if (cameras.empty())
        printLine(QStringLiteral("  none"));
    for (const CameraInfo& camera : cameras) {
        printLine(
            QStringLiteral("  %1  [%2]%3%4")
                .arg(printable(camera.name), printable(camera.id),
                     camera.permissionDenied ? QStringLiteral("  (no permission)") : QString(),
                     marks(camera.id == defaultCamera, camera.id == storedCamera)));
        for (const CameraFormat& format : camera.formats)
            for (const QString& size : formatSizes(format))
                printLine(QStringLiteral("      %1 %2").arg(size, format.pixelFormat));
    }
    printLine(QStringLiteral("Microphones:"));
    for (const SoundDevice& mic : microphones)
        printLine(QStringLiteral("  %1  [%2]  %3 channels%4")
                      .arg(printable(mic.name), printable(mic.id))
                      .arg(mic.channels)
                      .arg(marks(mic.id == defaultMicrophone, mic.id == storedMicrophone)));
    printLine(QStringLiteral("Outputs:"));
    for (const SoundDevice& out : outputs)
        printLine(QStringLiteral("  %1  [%2]%3")
                      .arg(printable(out.name), printable(out.id),
                           marks(out.id == defaultOutput, false)));
    if (!sound.hasServer())
        printLine(sound.serverProblem());
    return success;
}

} // namespace reelbox::cli
