// A stand-in ALSA sound card for tests, loaded by ALSA itself as an external PCM plugin
// ("type reelboxtest"). It runs in real time like a card: a timer paces the position, a reader
// that falls a whole buffer behind gets an overrun, and each direction can be opened once at a
// time, as a card's raw device. It has 80 capture channels (delivering silence) and 2 playback
// channels.
#include <alsa/asoundlib.h>
#include <alsa/pcm_external.h>

#include <atomic>
#include <cerrno>
#include <cstdint>
#include <ctime>
#include <memory>
#include <poll.h>
#include <sys/timerfd.h>
#include <unistd.h>

namespace {

std::atomic<int> openCount[2]{0, 0}; // per direction

std::int64_t nowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return std::int64_t(t.tv_sec) * 1'000'000'000 + t.tv_nsec;
}

struct TestPcm {
    snd_pcm_ioplug_t io{};
    int timer = -1;
    std::int64_t startNs = 0;
    bool running = false;

    snd_pcm_uframes_t position() const {
        return running
                   ? snd_pcm_uframes_t((nowNs() - startNs) * std::int64_t(io.rate) / 1'000'000'000)
                   : 0;
    }
};

TestPcm* self(snd_pcm_ioplug_t* io) {
    return static_cast<TestPcm*>(io->private_data);
}

void arm(TestPcm* pcm, bool on) {
    itimerspec timing{};
    if (on) {
        const long periodNs = long(pcm->io.period_size * 1'000'000'000ull / pcm->io.rate);
        timing.it_value.tv_nsec = periodNs;
        timing.it_interval.tv_nsec = periodNs;
    }
    timerfd_settime(pcm->timer, 0, &timing, nullptr);
}

int start(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = self(io);
    pcm->startNs = nowNs();
    pcm->running = true;
    arm(pcm, true);
    return 0;
}

int stop(snd_pcm_ioplug_t* io) {
    self(io)->running = false;
    arm(self(io), false);
    return 0;
}

snd_pcm_sframes_t pointer(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = self(io);
    const snd_pcm_uframes_t position = pcm->position();
    // The reader fell a whole buffer behind: what the card wrote over is lost.
    if (io->stream == SND_PCM_STREAM_CAPTURE && position - io->appl_ptr >= io->buffer_size)
        return -EPIPE;
    return snd_pcm_sframes_t(position % io->buffer_size);
}

snd_pcm_sframes_t transfer(snd_pcm_ioplug_t* io, const snd_pcm_channel_area_t* areas,
                           snd_pcm_uframes_t offset, snd_pcm_uframes_t size) {
    if (io->stream == SND_PCM_STREAM_CAPTURE)
        snd_pcm_areas_silence(areas, offset, io->channels, size, io->format);
    return snd_pcm_sframes_t(size);
}

int pollRevents(snd_pcm_ioplug_t* io, struct pollfd* pfd, unsigned int, unsigned short* revents) {
    std::uint64_t ticks = 0;
    [[maybe_unused]] const ssize_t n = read(pfd[0].fd, &ticks, sizeof ticks);
    const snd_pcm_sframes_t avail = snd_pcm_avail_update(io->pcm);
    if (avail < 0)
        *revents = POLLERR;
    else
        *revents = snd_pcm_uframes_t(avail) >= io->period_size
                       ? (io->stream == SND_PCM_STREAM_CAPTURE ? POLLIN : POLLOUT)
                       : 0;
    return 0;
}

int closePcm(snd_pcm_ioplug_t* io) {
    TestPcm* pcm = self(io);
    close(pcm->timer);
    --openCount[io->stream == SND_PCM_STREAM_CAPTURE];
    const std::unique_ptr<TestPcm> owned(pcm);
    return 0;
}

const snd_pcm_ioplug_callback_t callbacks = [] {
    snd_pcm_ioplug_callback_t c{};
    c.start = start;
    c.stop = stop;
    c.pointer = pointer;
    c.transfer = transfer;
    c.prepare = stop;
    c.poll_revents = pollRevents;
    c.close = closePcm;
    return c;
}();

} // namespace

extern "C" SND_PCM_PLUGIN_DEFINE_FUNC(reelboxtest) {
    (void)root;
    (void)conf;
    const bool capture = stream == SND_PCM_STREAM_CAPTURE;
    if (openCount[capture].fetch_add(1) > 0) {
        --openCount[capture];
        return -EBUSY;
    }
    auto owned = std::make_unique<TestPcm>();
    TestPcm* pcm = owned.get();
    pcm->timer = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    pcm->io.version = SND_PCM_IOPLUG_VERSION;
    pcm->io.name = "Reelbox test card";
    pcm->io.callback = &callbacks;
    pcm->io.private_data = pcm;
    pcm->io.poll_fd = pcm->timer;
    pcm->io.poll_events = POLLIN;
    pcm->io.mmap_rw = 1; // ALSA keeps a buffer of its own, so a plug can remix
    int err = snd_pcm_ioplug_create(&pcm->io, name, stream, mode);
    if (err < 0) {
        close(pcm->timer);
        --openCount[capture];
        return err;
    }
    owned.release(); // ALSA owns it now; closePcm frees it
    const unsigned channels = capture ? 80u : 2u;
    static const unsigned access[] = {SND_PCM_ACCESS_RW_INTERLEAVED,
                                      SND_PCM_ACCESS_MMAP_INTERLEAVED};
    static const unsigned formats[] = {SND_PCM_FORMAT_FLOAT_LE};
    snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_ACCESS, 2, access);
    snd_pcm_ioplug_set_param_list(&pcm->io, SND_PCM_IOPLUG_HW_FORMAT, 1, formats);
    snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_CHANNELS, channels, channels);
    snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_RATE, 48000, 48000);
    snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIODS, 2, 64);
    snd_pcm_ioplug_set_param_minmax(&pcm->io, SND_PCM_IOPLUG_HW_PERIOD_BYTES, 64 * 4 * channels,
                                    65536 * 4 * channels);
    *pcmp = pcm->io.pcm;
    return 0;
}

SND_PCM_PLUGIN_SYMBOL(reelboxtest);
