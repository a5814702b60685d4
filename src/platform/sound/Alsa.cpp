#include "platform/sound/internal/Alsa.h"

#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/Log.h"

#include <QLoggingCategory>
#include <alsa/asoundlib.h>

#include <chrono>
#include <cstdarg>
#include <cstdio>
#include <mutex>
#include <optional>
#include <thread>

namespace reelbox::alsa {

namespace {

// ALSA explains every device it probes and cannot find; that is noise unless asked for
// (QT_LOGGING_RULES="reelbox.alsa.debug=true").
Q_LOGGING_CATEGORY(alsaLog, "reelbox.alsa", QtInfoMsg)

constexpr snd_pcm_uframes_t periodFrames = 480;
constexpr int waitMs = 50;

struct PcmCloser {
    void operator()(snd_pcm_t* pcm) const { snd_pcm_close(pcm); }
};
using PcmPtr = std::unique_ptr<snd_pcm_t, PcmCloser>;

struct HintsFree {
    void operator()(void** hints) const { snd_device_name_free_hint(hints); }
};

struct Free {
    void operator()(char* p) const { free(p); }
};
using CString = std::unique_ptr<char, Free>;

// ALSA's own complaints go to our log instead of straight to stderr.
void alsaMessageToLog(const char*, int, const char* function, int err, const char* format, ...) {
    char text[512];
    va_list args;
    va_start(args, format);
    std::vsnprintf(text, sizeof text, format, args);
    va_end(args);
    qCDebug(alsaLog, "ALSA %s: %s%s%s", function ? function : "", text, err ? ": " : "",
            err ? snd_strerror(err) : "");
}

void routeAlsaMessages() {
    static std::once_flag once;
    std::call_once(once, [] { snd_lib_error_set_handler(alsaMessageToLog); });
}

QString alsaText(int err) {
    return QString::fromLocal8Bit(snd_strerror(err));
}

// The most channels a stream carries; a device with more gives its first ones.
constexpr unsigned int maxChannels = 64;

// What a card's device really has in one direction: the raw hw: device answers, where plughw:
// would offer any count by remixing. Asked before the plug is opened, since a card's raw
// device can be open only once. 0 when it can't be asked.
unsigned int hardwareChannels(const QString& name, snd_pcm_stream_t direction) {
    QString hwName = name;
    if (hwName.startsWith(u"plughw:"))
        hwName.remove(0, 4);
    snd_pcm_t* raw = nullptr;
    if (snd_pcm_open(&raw, hwName.toUtf8().constData(), direction, SND_PCM_NONBLOCK) < 0)
        return 0;
    PcmPtr pcm(raw);
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    unsigned int count = 0;
    if (snd_pcm_hw_params_any(pcm.get(), hw) < 0 ||
        snd_pcm_hw_params_get_channels_max(hw, &count) < 0)
        return 0;
    return count;
}

struct Opened {
    PcmPtr pcm;
    int channels = 0;
};

// Non-blocking open, so a busy device answers at once instead of hanging; F32 at 48 kHz
// interleaved, every channel (or `channels`), host timestamps on CLOCK_MONOTONIC.
Opened openPcm(const QString& name, snd_pcm_stream_t direction, int channels) {
    auto fail = [&](int err) {
        return Error(QStringLiteral("Can't use %1: %2").arg(name, alsaText(err)));
    };
    unsigned int count = unsigned(channels);
    if (count == 0)
        count = hardwareChannels(name, direction);
    snd_pcm_t* raw = nullptr;
    int err = snd_pcm_open(&raw, name.toUtf8().constData(), direction, SND_PCM_NONBLOCK);
    if (err < 0)
        throw fail(err);
    Opened opened{PcmPtr(raw), 0};
    snd_pcm_t* pcm = raw;
    snd_pcm_hw_params_t* hw = nullptr;
    snd_pcm_hw_params_alloca(&hw);
    if ((err = snd_pcm_hw_params_any(pcm, hw)) < 0 ||
        (err = snd_pcm_hw_params_set_access(pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
        (err = snd_pcm_hw_params_set_format(pcm, hw, SND_PCM_FORMAT_FLOAT_LE)) < 0)
        throw fail(err);
    if (count == 0 && (err = snd_pcm_hw_params_get_channels_max(hw, &count)) < 0)
        throw fail(err);
    count = std::min(count, maxChannels);
    if ((err = snd_pcm_hw_params_set_channels(pcm, hw, count)) < 0)
        throw fail(err);
    unsigned int rate = soundSampleRate;
    if ((err = snd_pcm_hw_params_set_rate(pcm, hw, rate, 0)) < 0)
        throw fail(err);
    snd_pcm_uframes_t period = periodFrames;
    snd_pcm_uframes_t buffer = periodFrames * 8;
    snd_pcm_hw_params_set_period_size_near(pcm, hw, &period, nullptr);
    snd_pcm_hw_params_set_buffer_size_near(pcm, hw, &buffer);
    if ((err = snd_pcm_hw_params(pcm, hw)) < 0)
        throw fail(err);
    snd_pcm_sw_params_t* sw = nullptr;
    snd_pcm_sw_params_alloca(&sw);
    snd_pcm_sw_params_current(pcm, sw);
    snd_pcm_sw_params_set_tstamp_mode(pcm, sw, SND_PCM_TSTAMP_ENABLE);
    snd_pcm_sw_params_set_tstamp_type(pcm, sw, SND_PCM_TSTAMP_TYPE_MONOTONIC);
    snd_pcm_sw_params_set_avail_min(pcm, sw, period);
    snd_pcm_sw_params_set_start_threshold(pcm, sw, period);
    if ((err = snd_pcm_sw_params(pcm, sw)) < 0 || (err = snd_pcm_prepare(pcm)) < 0)
        throw fail(err);
    opened.channels = int(count);
    return opened;
}

// The host instant of the device's current position and the frames between it and the
// application's: from the PCM's own monotonic timestamp where the driver gives one.
bool position(snd_pcm_t* pcm, qint64* atNs, qint64* delayFrames) {
    snd_pcm_status_t* status = nullptr;
    snd_pcm_status_alloca(&status);
    if (snd_pcm_status(pcm, status) < 0)
        return false;
    snd_htimestamp_t ts{};
    snd_pcm_status_get_htstamp(status, &ts);
    *delayFrames = snd_pcm_status_get_delay(status);
    *atNs = ts.tv_sec || ts.tv_nsec ? qint64(ts.tv_sec) * nsPerSecond + ts.tv_nsec : hostNowNs();
    return true;
}

// After a PCM call: nothing when it succeeded or recovery mended it, else why the stream
// stopped. Recovery only prepares the device; a capture is started again here (a playback
// starts by itself with the next write).
std::optional<QString> unrecoverable(snd_pcm_t* pcm, snd_pcm_sframes_t err, const QString& name) {
    if (err >= 0 || err == -EAGAIN)
        return std::nullopt;
    int res = snd_pcm_recover(pcm, int(err), 1);
    if (res >= 0 && snd_pcm_stream(pcm) == SND_PCM_STREAM_CAPTURE &&
        snd_pcm_state(pcm) == SND_PCM_STATE_PREPARED)
        res = snd_pcm_start(pcm);
    if (res >= 0)
        return std::nullopt;
    return QStringLiteral("%1 stopped: %2").arg(name, alsaText(int(err)));
}

class AlsaInput final : public AudioInputStream {
public:
    AlsaInput(Opened opened, const QString& name, SoundInputCallback onBuffer,
              SoundErrorCallback onError)
        : AudioInputStream(SoundDevice{name, name, opened.channels}, std::move(onBuffer),
                           std::move(onError)),
          m_pcm(std::move(opened.pcm)), m_buffer(periodFrames * size_t(opened.channels)) {
        snd_pcm_start(m_pcm.get());
        m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
    }

private:
    void run(std::stop_token stop) {
        snd_pcm_t* pcm = m_pcm.get();
        while (!stop.stop_requested()) {
            const int ready = snd_pcm_wait(pcm, waitMs);
            if (const auto why = unrecoverable(pcm, ready, device().name))
                return fail(*why);
            if (ready <= 0)
                continue;
            const snd_pcm_sframes_t frames = snd_pcm_readi(pcm, m_buffer.data(), periodFrames);
            if (frames < 0) {
                if (const auto why = unrecoverable(pcm, frames, device().name))
                    return fail(*why);
                continue;
            }
            qint64 at = 0, delay = 0;
            if (!position(pcm, &at, &delay)) {
                at = hostNowNs();
                delay = 0;
            }
            // The frames just read came before the `delay` frames still waiting in the device.
            deliver(m_buffer.data(), int(frames), at - framesToNs(delay + frames));
        }
    }

    PcmPtr m_pcm;
    std::vector<float> m_buffer;
    std::jthread m_thread; // last: stopped and joined before the rest goes
};

class AlsaOutput final : public AudioOutputStream {
public:
    AlsaOutput(Opened opened, const QString& name, SoundOutputCallback render,
               SoundErrorCallback onError)
        : AudioOutputStream(SoundDevice{name, name, opened.channels}, opened.channels,
                            std::move(render), std::move(onError)),
          m_pcm(std::move(opened.pcm)), m_buffer(periodFrames * size_t(opened.channels)) {
        m_thread = std::jthread([this](std::stop_token stop) { run(stop); });
    }

private:
    void run(std::stop_token stop) {
        snd_pcm_t* pcm = m_pcm.get();
        while (!stop.stop_requested()) {
            const snd_pcm_sframes_t avail = snd_pcm_avail_update(pcm);
            if (avail < 0) {
                if (const auto why = unrecoverable(pcm, avail, device().name))
                    return fail(*why);
                continue;
            }
            if (snd_pcm_uframes_t(avail) < periodFrames) {
                if (const auto why = unrecoverable(pcm, snd_pcm_wait(pcm, waitMs), device().name))
                    return fail(*why);
                continue;
            }
            qint64 at = 0, delay = 0;
            if (!position(pcm, &at, &delay)) {
                at = hostNowNs();
                delay = 0;
            }
            // What is written now is heard after everything already queued.
            setLatencyNs(framesToNs(delay));
            render(m_buffer.data(), int(periodFrames), at + framesToNs(delay));
            const snd_pcm_sframes_t written = snd_pcm_writei(pcm, m_buffer.data(), periodFrames);
            if (const auto why = unrecoverable(pcm, written, device().name))
                return fail(*why);
        }
    }

    PcmPtr m_pcm;
    std::vector<float> m_buffer;
    std::jthread m_thread; // last: stopped and joined before the rest goes
};

} // namespace

std::vector<Device> listDevices() {
    routeAlsaMessages();
    void** raw = nullptr;
    if (snd_device_name_hint(-1, "pcm", &raw) < 0 || !raw)
        return {};
    std::unique_ptr<void*, HintsFree> hints(raw);
    std::vector<Device> devices;
    for (void** hint = raw; *hint; ++hint) {
        const CString name(snd_device_name_get_hint(*hint, "NAME"));
        const CString description(snd_device_name_get_hint(*hint, "DESC"));
        const CString io(snd_device_name_get_hint(*hint, "IOID"));
        // The cards' own devices, converted in format and rate only (never remixed).
        if (!name || qstrncmp(name.get(), "plughw:", 7) != 0)
            continue;
        Device device;
        device.device.id = QString::fromUtf8(name.get());
        device.device.name =
            description ? QString::fromUtf8(description.get()).section(u'\n', 0, 0).trimmed()
                        : device.device.id;
        device.capture = !io || qstrcmp(io.get(), "Input") == 0;
        device.playback = !io || qstrcmp(io.get(), "Output") == 0;
        // A device that records is listed with its inputs.
        const unsigned int channels = hardwareChannels(
            device.device.id, device.capture ? SND_PCM_STREAM_CAPTURE : SND_PCM_STREAM_PLAYBACK);
        device.device.channels = channels > 0 ? int(std::min(channels, maxChannels)) : 2;
        devices.push_back(device);
    }
    return devices;
}

std::unique_ptr<AudioInputStream> openInput(const QString& name, SoundInputCallback onBuffer,
                                            SoundErrorCallback onError) {
    routeAlsaMessages();
    return std::make_unique<AlsaInput>(openPcm(name, SND_PCM_STREAM_CAPTURE, 0), name,
                                       std::move(onBuffer), std::move(onError));
}

std::unique_ptr<AudioOutputStream> openOutput(const QString& name, int channels,
                                              SoundOutputCallback render,
                                              SoundErrorCallback onError) {
    routeAlsaMessages();
    return std::make_unique<AlsaOutput>(openPcm(name, SND_PCM_STREAM_PLAYBACK, channels), name,
                                        std::move(render), std::move(onError));
}

} // namespace reelbox::alsa
