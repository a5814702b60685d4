// The audio threads neither allocate nor take a lock once running: malloc and
// pthread_mutex_lock are counted per thread, and a cycle of every stream kind (from one
// callback to the next, the server's part and ours) must leave the counts unchanged.
#include "support/PrivatePipeWire.h"

#include "platform/sound/SoundSystem.h"

#include <gtest/gtest.h>

#include <QThread>

#include <atomic>
#include <dlfcn.h>
#include <optional>
#include <pthread.h>

namespace {
thread_local long long allocations = 0;
thread_local long long locks = 0;
} // namespace

extern "C" {
void* __libc_malloc(size_t);
void* __libc_calloc(size_t, size_t);
void* __libc_realloc(void*, size_t);

void* malloc(size_t size) {
    ++allocations;
    return __libc_malloc(size);
}
void* calloc(size_t count, size_t size) {
    ++allocations;
    return __libc_calloc(count, size);
}
void* realloc(void* p, size_t size) {
    ++allocations;
    return __libc_realloc(p, size);
}
int pthread_mutex_lock(pthread_mutex_t* mutex) {
    using Lock = int (*)(pthread_mutex_t*);
    static const Lock real = reinterpret_cast<Lock>(dlsym(RTLD_NEXT, "pthread_mutex_lock"));
    ++locks;
    return real(mutex);
}
}

using namespace reelbox;

namespace {

// The thread's counts at each callback, in storage allocated before the stream starts.
struct Probe {
    static constexpr size_t capacity = 512;
    std::vector<long long> allocs = std::vector<long long>(capacity);
    std::vector<long long> lockCounts = std::vector<long long>(capacity);
    std::atomic<size_t> count{0};

    void sample() noexcept {
        const size_t n = count.load(std::memory_order_relaxed);
        if (n >= capacity)
            return;
        allocs[n] = allocations;
        lockCounts[n] = locks;
        count.store(n + 1, std::memory_order_release);
    }

    // After a few warm-up cycles, nothing changes from one callback to the next.
    void expectQuiet(const char* what) const {
        const size_t n = count.load();
        ASSERT_GT(n, 12u) << what;
        EXPECT_EQ(allocs[n - 1] - allocs[5], 0) << what << ": allocations on the audio thread";
        EXPECT_EQ(lockCounts[n - 1] - lockCounts[5], 0) << what << ": locks on the audio thread";
    }
};

// A source and an output of each kind: the virtual devices, and a PipeWire null sink (read
// through its monitor). First, the counters see allocations (operator new too) and locks.
class RealtimeCallbacks : public ::testing::TestWithParam<std::string> {};

TEST_P(RealtimeCallbacks, NeitherAllocateNorLock) {
    const long long allocated = allocations, locked = locks;
    pthread_mutex_t mutex = PTHREAD_MUTEX_INITIALIZER;
    pthread_mutex_lock(&mutex);
    pthread_mutex_unlock(&mutex);
    EXPECT_EQ(locks - locked, 1);
    EXPECT_GT(std::make_unique<std::vector<int>>(100)->size(), 0u);
    EXPECT_GE(allocations - allocated, 2);
    const bool pipeWire = GetParam() == "PipeWire";
    std::optional<test::PrivatePipeWire> daemon;
    if (pipeWire) {
        daemon.emplace();
        daemon->addNullNode(u"rt-sink"_qs, u"RT"_qs, u"Audio/Sink"_qs, 4);
    }
    SoundSystem sound;
    Probe in, out;
    auto output = sound.openOutput(
        pipeWire ? u"rt-sink"_qs : testOutputId(),
        [&](float* d, int frames, int ch, qint64) {
            std::fill(d, d + frames * ch, 0.25f);
            out.sample();
        },
        {}, 4);
    auto input = sound.openInput(pipeWire ? u"rt-sink"_qs : testMicrophoneId(),
                                 [&](const float*, int, int, qint64) { in.sample(); });
    QThread::msleep(400);
    input->readLevels();
    input.reset();
    output.reset();
    in.expectQuiet((GetParam() + " input").c_str());
    out.expectQuiet((GetParam() + " output").c_str());
}

INSTANTIATE_TEST_SUITE_P(Backends, RealtimeCallbacks, ::testing::Values("Virtual", "PipeWire"),
                         [](const auto& info) { return info.param; });

} // namespace
