#include "play/PictureWorker.h"

#include "compose/CompositionFrameSource.h"
#include "compose/FrameRenderer.h"
#include "platform/Error.h"

#include <cmath>

namespace reelbox {

PictureWorker::PictureWorker(Composition composition, std::shared_ptr<const LiveLayout> layout,
                             QSize outputSize, double durationSeconds)
    : m_composition(std::move(composition)), m_layout(std::move(layout)), m_outputSize(outputSize),
      m_duration(durationSeconds),
      m_thread([this](std::stop_token stop) { run(std::move(stop)); }) {}

PictureWorker::~PictureWorker() {
    m_thread.request_stop();
    m_changed.notify_all();
}

void PictureWorker::start(double seconds, int generation, bool ahead) {
    std::lock_guard lock(m_mutex);
    m_ready.clear();
    m_next = std::clamp(seconds, 0.0, m_duration);
    m_generation = generation;
    m_ahead = ahead;
    m_requested = true;
    m_changed.notify_all();
}

std::optional<PictureWorker::Picture> PictureWorker::takeDue(double seconds) {
    std::lock_guard lock(m_mutex);
    std::optional<Picture> due;
    // Everything due now: the newest one is shown, the older ones were late and are skipped.
    while (!m_ready.empty() && m_ready.front().seconds <= seconds + 1e-6) {
        due = std::move(m_ready.front());
        m_ready.pop_front();
    }
    if (due)
        m_changed.notify_all();
    return due;
}

std::optional<PictureWorker::Picture> PictureWorker::takeFirst() {
    std::lock_guard lock(m_mutex);
    if (m_ready.empty())
        return std::nullopt;
    Picture first = std::move(m_ready.front());
    m_ready.pop_front();
    m_changed.notify_all();
    return first;
}

QString PictureWorker::problem() const {
    std::lock_guard lock(m_mutex);
    return m_problem;
}

void PictureWorker::run(std::stop_token stop) {
    CompositionFrameSource source(m_composition);
    for (;;) {
        double at = 0;
        int generation = 0;
        {
            std::unique_lock lock(m_mutex);
            const bool go = m_changed.wait(
                lock, stop, [&] { return m_requested && int(m_ready.size()) < queueLength; });
            if (!go)
                return;
            at = m_next;
            generation = m_generation;
        }
        std::map<std::int32_t, QImage> frames;
        QString problem;
        try {
            frames = source.framesAt(toTicks(at));
        } catch (const Error& e) {
            problem = e.message();
        }
        const auto ops = drawOps(m_layout ? m_layout->current() : LiveSnapshot{}, m_outputSize);
        QImage image(m_outputSize, QImage::Format_RGB32);
        renderFrame(image, ops, [&](std::int32_t id) -> const QImage* {
            auto it = frames.find(id);
            return it == frames.end() ? nullptr : &it->second;
        });

        std::lock_guard lock(m_mutex);
        if (!problem.isEmpty())
            m_problem = problem;
        if (generation != m_generation)
            continue; // a newer request came in while drawing
        m_ready.push_back({at, generation, std::move(image)});
        // The next picture is on the 1/30 s grid after this one.
        const double next = (std::floor(at * frameRate + 1e-6) + 1) / frameRate;
        if (!m_ahead || next >= m_duration)
            m_requested = false;
        else
            m_next = next;
    }
}

} // namespace reelbox
