// The recording encoder's headroom: 1080p pictures from the Test Camera encoded with the
// capture settings (HEVC, live x265 settings, fragmented movie synced per fragment, 8 sound
// channels) as fast as they go. "fps" is what the encoder sustains; 30 must fit with room.

#include "platform/camera/CameraStream.h"
#include "platform/media/MovieWriter.h"

#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <condition_variable>
#include <mutex>
#include <vector>

using namespace reelbox;

namespace {

// A second of real pictures from the Test Camera at 1080p.
std::vector<YuvPicture> cameraPictures() {
    qputenv("REELBOX_VIRTUAL_DEVICES", "1");
    const CameraInfo camera = testCameraInfo();
    CameraFormat format;
    for (const CameraFormat& f : camera.formats)
        if (f.width == 1920 && f.height == 1080)
            format = f;
    std::unique_ptr<CameraStream> stream = CameraStream::open(camera.id, format, 30);
    std::mutex mutex;
    std::condition_variable done;
    std::vector<YuvPicture> pictures;
    stream->start([&](const CameraFrame& frame) {
        std::lock_guard lock(mutex);
        if (pictures.size() < 30)
            pictures.push_back(frame.picture);
        done.notify_one();
    });
    std::unique_lock lock(mutex);
    done.wait(lock, [&] { return pictures.size() >= 30; });
    lock.unlock();
    stream->stop();
    return pictures;
}

void BM_RecordEncode1080p(benchmark::State& state) {
    static const std::vector<YuvPicture> pictures = cameraPictures();
    QTemporaryDir dir;
    MovieWriterSettings settings;
    settings.videoSize = QSize(1920, 1080);
    settings.videoBitRate = 1920 * 1080 * 8;
    settings.audioChannels = 8;
    settings.realTime = true;
    settings.syncToDisk = true;
    MovieWriter writer(dir.filePath(QStringLiteral("take.mov")), settings);
    std::vector<float> sound(1600 * 8, 0.1f);
    qint64 frame = 0;
    for (auto _ : state) {
        writer.writeVideoPicture(pictures[size_t(frame % 30)], double(frame) / 30);
        writer.writeAudioAt(sound.data(), 1600, frame * 1600);
        ++frame;
    }
    writer.finish();
    state.counters["fps"] = benchmark::Counter(double(frame), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RecordEncode1080p)->Unit(benchmark::kMillisecond)->MinTime(5.0)->UseRealTime();

} // namespace

BENCHMARK_MAIN();
