#include "model/UserSettings.h"

#include "model/TakeInfoCodec.h"
#include "platform/Error.h"

#include <QSettings>
#include <cmath>

namespace reelbox::UserSettings {

namespace {

QSettings open() {
    return QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"));
}

bool readBool(const QString& key, bool fallback) {
    const QVariant value = open().value(key);
    if (value.typeId() == QMetaType::Bool)
        return value.toBool();
    const QString text = value.toString();
    if (text == u"true" || text == u"false")
        return text == u"true";
    return fallback;
}

std::optional<QString> readId(const QString& key) {
    const QString value = open().value(key).toString();
    return value.isEmpty() ? std::nullopt : std::optional(value);
}

void writeId(const QString& key, const std::optional<QString>& id) {
    QSettings settings = open();
    if (id)
        settings.setValue(key, *id);
    else
        settings.remove(key);
}

QString mixKey(const QString& microphoneID) {
    return QStringLiteral("mix.") + microphoneID;
}

QString nudgeKey(const QString& microphoneID) {
    return QStringLiteral("overdubNudge.") + microphoneID;
}

} // namespace

int countdownSeconds() {
    const QVariant stored = open().value(QStringLiteral("countdown"));
    bool ok = false;
    const int seconds = stored.toInt(&ok);
    return ok && stored.typeId() != QMetaType::Bool ? seconds : 3;
}

void setCountdownSeconds(int seconds) {
    open().setValue(QStringLiteral("countdown"), seconds);
}

bool mirrorPreview() {
    return readBool(QStringLiteral("mirrorPreview"), true);
}

void setMirrorPreview(bool mirror) {
    open().setValue(QStringLiteral("mirrorPreview"), mirror);
}

std::optional<QString> cameraID() {
    return readId(QStringLiteral("cameraID"));
}

void setCameraID(const std::optional<QString>& id) {
    writeId(QStringLiteral("cameraID"), id);
}

std::optional<QString> microphoneID() {
    return readId(QStringLiteral("microphoneID"));
}

void setMicrophoneID(const std::optional<QString>& id) {
    writeId(QStringLiteral("microphoneID"), id);
}

std::optional<std::vector<ChannelMix>> channelMix(const QString& microphoneID) {
    const QVariant stored = open().value(mixKey(microphoneID));
    if (!stored.isValid())
        return std::nullopt;
    try {
        return decodeChannelMixes(stored.toByteArray());
    } catch (const Error&) {
        return std::nullopt;
    }
}

void setChannelMix(const QString& microphoneID, const std::vector<ChannelMix>& channels) {
    try {
        open().setValue(mixKey(microphoneID), encodeChannelMixes(channels));
    } catch (const Error&) {
    }
}

bool overdubVideo() {
    return readBool(QStringLiteral("overdubVideo"), true);
}

void setOverdubVideo(bool record) {
    open().setValue(QStringLiteral("overdubVideo"), record);
}

std::optional<QString> overdubOutput() {
    return readId(QStringLiteral("overdubOutput"));
}

void setOverdubOutput(const std::optional<QString>& id) {
    writeId(QStringLiteral("overdubOutput"), id);
}

double overdubNudge(const QString& microphoneID) {
    const QVariant stored = open().value(nudgeKey(microphoneID));
    bool ok = false;
    const double value = stored.toDouble(&ok);
    return ok && stored.typeId() != QMetaType::Bool && std::isfinite(value) ? value : 0.0;
}

void setOverdubNudge(const QString& microphoneID, double nudgeSeconds) {
    QSettings settings = open();
    settings.setValue(nudgeKey(microphoneID), nudgeSeconds);
    settings.sync();
    if (settings.status() != QSettings::NoError)
        throw Error(
            QStringLiteral("Couldn't store the timing nudge in %1.").arg(settings.fileName()));
}

} // namespace reelbox::UserSettings
