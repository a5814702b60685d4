// libFuzzer target: the take.json decoder must never crash, and whatever it accepts must
// survive a save and a second read unchanged.
#include "model/TakeInfoCodec.h"

#include <cstdio>
#include <cstdlib>

using namespace reelbox;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));
    try {
        const TakeInfo info = decodeTakeInfo(bytes);
        const QByteArray saved = encodeTakeInfo(info);
        if (!(decodeTakeInfo(saved) == info)) {
            std::fprintf(stderr, "round trip changed the record:\n%s\n", saved.constData());
            std::abort();
        }
    } catch (const DecodeError&) {
    }
    try {
        const auto channels = decodeChannelMixes(bytes);
        if (!(decodeChannelMixes(encodeChannelMixes(channels)) == channels))
            std::abort();
    } catch (const DecodeError&) {
    }
    return 0;
}
