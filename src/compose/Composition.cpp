#include "compose/Composition.h"

#include <QFileInfo>
#include <algorithm>

namespace reelbox {

Ticks CompositionTrack::end() const {
    return segments.empty() ? 0 : segments.back().end();
}

const CompositionSegment* CompositionTrack::segmentAt(Ticks t) const {
    auto it =
        std::upper_bound(segments.begin(), segments.end(), t,
                         [](Ticks time, const CompositionSegment& s) { return time < s.start; });
    if (it == segments.begin())
        return nullptr;
    --it;
    return t < it->end() ? &*it : nullptr;
}

std::int32_t Composition::addTrack(CompositionTrack::Kind kind) {
    CompositionTrack track;
    track.trackID = m_nextID++;
    track.kind = kind;
    m_tracks.push_back(std::move(track));
    return m_tracks.back().trackID;
}

void Composition::removeTrack(std::int32_t trackID) {
    std::erase_if(m_tracks, [=](const CompositionTrack& t) { return t.trackID == trackID; });
}

CompositionTrack* Composition::track(std::int32_t trackID) {
    for (CompositionTrack& t : m_tracks)
        if (t.trackID == trackID)
            return &t;
    return nullptr;
}

const CompositionTrack* Composition::track(std::int32_t trackID) const {
    return const_cast<Composition*>(this)->track(trackID);
}

std::vector<const CompositionTrack*> Composition::tracks(CompositionTrack::Kind kind) const {
    std::vector<const CompositionTrack*> result;
    for (const CompositionTrack& t : m_tracks)
        if (t.kind == kind)
            result.push_back(&t);
    return result;
}

void Composition::insert(std::int32_t trackID, const CompositionSegment& segment) {
    CompositionTrack* t = track(trackID);
    if (!t || segment.duration <= 0)
        return;
    auto at =
        std::upper_bound(t->segments.begin(), t->segments.end(), segment.start,
                         [](Ticks time, const CompositionSegment& s) { return time < s.start; });
    t->segments.insert(at, segment);
}

void Composition::removeTimeRange(Ticks start, Ticks duration) {
    if (duration <= 0)
        return;
    const Ticks end = start + duration;
    for (CompositionTrack& t : m_tracks) {
        std::vector<CompositionSegment> kept;
        for (const CompositionSegment& s : t.segments) {
            if (s.end() <= start) {
                kept.push_back(s);
                continue;
            }
            if (s.start < start) { // the part before the range
                CompositionSegment before = s;
                before.duration = start - s.start;
                kept.push_back(before);
            }
            if (s.end() > end) { // the part after it, moved earlier
                CompositionSegment after = s;
                const Ticks from = std::max(s.start, end);
                after.sourceStart = s.sourceStart + (from - s.start);
                after.duration = s.end() - from;
                after.start = from - duration;
                kept.push_back(after);
            }
        }
        t.segments = std::move(kept);
    }
}

Ticks Composition::duration() const {
    Ticks result = 0;
    for (const CompositionTrack& t : m_tracks)
        result = std::max(result, t.end());
    return result;
}

std::ostream& operator<<(std::ostream& out, const CompositionSegment& s) {
    return out << QFileInfo(s.sourcePath).fileName().toStdString() << "#" << s.sourceTrack << " ["
               << s.sourceStart << "+" << s.duration << "] at " << s.start;
}

std::ostream& operator<<(std::ostream& out, const LayerInstruction& l) {
    return out << "track " << l.trackID << " crop " << l.crop << " transform " << l.transform;
}

} // namespace reelbox
