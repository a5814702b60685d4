#include "capture/ChannelMixMemory.h"

#include "model/TakeInfoCodec.h"

#include <QSettings>

namespace reelbox {

namespace {

QSettings userDefaults() {
    return QSettings(QStringLiteral("Reelbox"), QStringLiteral("Reelbox"));
}

QString mixKey(const QString& microphoneID) {
    return QStringLiteral("mix.") + microphoneID;
}

} // namespace

std::vector<ChannelMix> rememberedChannelMix(const QString& microphoneID, int channelCount) {
    const std::vector<ChannelMix> defaults(size_t(std::max(0, channelCount)),
                                           ChannelMix{true, 0, 0});
    const QVariant stored = userDefaults().value(mixKey(microphoneID));
    if (!stored.isValid())
        return defaults;
    try {
        std::vector<ChannelMix> mix = decodeChannelMixes(stored.toByteArray());
        return int(mix.size()) == channelCount ? mix : defaults;
    } catch (const Error&) {
        return defaults;
    }
}

void rememberChannelMix(const QString& microphoneID, const std::vector<ChannelMix>& channels) {
    try {
        userDefaults().setValue(mixKey(microphoneID), encodeChannelMixes(channels));
    } catch (const Error&) {
    }
}

} // namespace reelbox
