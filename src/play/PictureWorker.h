#pragma once

#include "compose/Composition.h"
#include "compose/LiveLayout.h"

#include <QImage>
#include <QSize>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace reelbox {

// Decodes and draws the preview's pictures on its own thread, ahead of time, into a small
// queue. The main thread asks for a start time and takes the pictures that are due; it never
// waits for decoding.
class PictureWorker {
public:
    struct Picture {
        double seconds = 0; // item time the picture belongs to
        int generation = 0;
        QImage image;
    };

    static constexpr double frameRate = 30;
    static constexpr int queueLength = 4;

    PictureWorker(Composition composition, std::shared_ptr<const LiveLayout> layout,
                  QSize outputSize, double durationSeconds);
    ~PictureWorker();
    PictureWorker(const PictureWorker&) = delete;
    PictureWorker& operator=(const PictureWorker&) = delete;

    // Draws from `seconds` on: one picture when not `ahead`, else every 1/30 s until the end.
    // Pictures of earlier requests are dropped.
    void start(double seconds, int generation, bool ahead);

    // The newest picture of the current generation due at `seconds` (skipping later ones that
    // are already late); none when nothing new is due.
    std::optional<Picture> takeDue(double seconds);
    // The first picture of the current generation, whatever its time (for a finished seek).
    std::optional<Picture> takeFirst();

    // The last error while decoding, if any.
    QString problem() const;

private:
    void run(std::stop_token stop);

    Composition m_composition;
    std::shared_ptr<const LiveLayout> m_layout;
    QSize m_outputSize;
    double m_duration;

    mutable std::mutex m_mutex;
    std::condition_variable_any m_changed;
    std::deque<Picture> m_ready;
    double m_next = 0;
    int m_generation = 0;
    bool m_ahead = false;
    bool m_requested = false;
    QString m_problem;
    std::jthread m_thread;
};

} // namespace reelbox
