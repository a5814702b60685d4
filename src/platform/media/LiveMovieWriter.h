#pragma once

#include "platform/media/MovieWriter.h"
#include "platform/media/YuvPicture.h"

#include <QString>
#include <QtGlobal>
#include <atomic>
#include <condition_variable>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace reelbox {

// A MovieWriter fed live: pictures and sound queue up and a thread of its own encodes and
// writes them, so whoever feeds it never waits for the encoder or the disk. Sound has a queue
// of its own that goes first and never waits behind pictures, and is never dropped. A picture
// that waits longer than `maxPictureAgeSeconds` behind the newest one is dropped and counted
// (never the first one, nor those taken while the encoder opened): what reaches the disk stays
// close to now.
class LiveMovieWriter {
public:
    // Opens the file and the encoder (as MovieWriter) on its own thread; a failure to open
    // shows in failed() and failure().
    LiveMovieWriter(const QString& path, const MovieWriterSettings& settings,
                    double maxPictureAgeSeconds = 0.3);
    // Ends the thread; whatever was not finished stays as the writer left it.
    ~LiveMovieWriter();
    LiveMovieWriter(const LiveMovieWriter&) = delete;
    LiveMovieWriter& operator=(const LiveMovieWriter&) = delete;

    // False when the picture was dropped (queue full, or after a failure or finish()).
    bool addPicture(const YuvPicture& picture, double ptsSeconds);
    // Copies the samples; `position` in frames on the movie's time line.
    void addAudio(const float* interleaved, qint64 frames, qint64 position);
    // Writes what is queued, cuts the sound at `endSeconds` and completes the file; done()
    // tells when that has happened.
    void finish(double endSeconds);

    bool done() const { return m_done.load(); }
    // The first failure's message (the file keeps what was written before it); empty if none.
    QString failure() const;
    bool failed() const { return m_failed.load(); }

    qint64 droppedPictures() const { return m_dropped.load(); }
    qint64 writtenPictures() const { return m_written.load(); }
    // steady_clock ns when the first picture had been encoded into the file; 0 before.
    qint64 firstPictureWrittenNs() const { return m_firstWrittenNs.load(); }

private:
    struct Item {
        enum class Kind { picture, audio, finish } kind = Kind::picture;
        YuvPicture picture;
        double seconds = 0; // picture time, or the end for finish
        std::vector<float> samples;
        qint64 frames = 0;
        qint64 position = 0;
    };

    void run(std::stop_token stop);
    void fail(const QString& message);

    std::unique_ptr<MovieWriter> m_writer; // touched by the thread only once it runs
    int m_channels = 0;
    double m_maxAge;

    mutable std::mutex m_mutex;
    std::condition_variable_any m_wake;
    std::deque<Item> m_items; // pictures, then the finish
    std::deque<Item> m_sound; // goes first
    bool m_opening = true;    // the encoder is being opened
    // Pictures at the queue's front that are never dropped: the first one, and those taken
    // while the encoder opened (the take's start) or caught up after it, up to a few seconds
    // of them.
    size_t m_protected = 0;
    bool m_firstPictureQueued = false;
    static constexpr size_t openingQueue = 90;
    bool m_closed = false; // finish() was asked for
    QString m_failure;

    std::atomic<bool> m_done{false};
    std::atomic<bool> m_failed{false};
    std::atomic<qint64> m_dropped{0};
    std::atomic<qint64> m_written{0};
    std::atomic<qint64> m_firstWrittenNs{0};
    std::jthread m_thread;
};

} // namespace reelbox
