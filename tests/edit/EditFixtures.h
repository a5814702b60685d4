#pragma once

#include "edit/EditingState.h"

namespace reelbox::test {

// A 10 s take with two input tracks and one overdub with video and one track.
struct EditFixture {
    EditingState state;
    QUuid input1 = QUuid::createUuid();
    QUuid input2 = QUuid::createUuid();
    QUuid overdubId = QUuid::createUuid();
    QUuid overdubTrack = QUuid::createUuid();

    EditFixture() {
        TakeInfo& info = state.info;
        info.name = QStringLiteral("Fixture");
        info.duration = 10;
        for (const QUuid& id : {input1, input2}) {
            Track t;
            t.id = id;
            t.source = Track::Source::input(id == input1 ? 0 : 1);
            info.tracks.push_back(t);
        }
        Overdub o;
        o.id = overdubId;
        o.fileName = QStringLiteral("o.mov");
        o.start = 2;
        o.nudge = -0.5;
        o.duration = 6;
        o.hasVideo = true;
        info.overdubs.push_back(o);
        Track t;
        t.id = overdubTrack;
        t.source = Track::Source::overdub(overdubId, 0);
        info.tracks.push_back(t);
        state.sourceDuration = info.timelineDuration();
        state.mainDuration = 10;
    }

    Lane audio1() const { return Lane::audio(input1); }
    Lane audio2() const { return Lane::audio(input2); }
};

} // namespace reelbox::test
