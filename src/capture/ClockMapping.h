#pragma once

#include <QtGlobal>

namespace reelbox {

// Maps host-clock instants onto a sound device's sample counter: a straight line fitted by
// least squares over the (host time, sample position) pairs of the recent buffers, older ones
// fading out over about `memoryBuffers` buffers. A device whose clock runs fast or slow gets
// its own rate; jitter in the buffers' host stamps averages out.
class ClockMapping {
public:
    explicit ClockMapping(int memoryBuffers = 1000);

    void add(qint64 hostTimeNs, qint64 position);
    void reset();

    bool isValid() const { return m_count > 0; }
    // Sample position (fractional) at a host instant. Needs isValid().
    double positionAt(qint64 hostTimeNs) const;
    // Samples per second of host time: the fitted rate once the buffers span a second or so,
    // the nominal rate before.
    double samplesPerSecond() const;

private:
    double m_forget;
    qint64 m_originNs = 0;
    qint64 m_originPosition = 0;
    long long m_count = 0;
    // Weighted sums over x = host seconds since the origin, y = samples since the origin.
    double m_w = 0, m_x = 0, m_y = 0, m_xx = 0, m_xy = 0;
};

} // namespace reelbox
