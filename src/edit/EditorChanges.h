#pragma once

namespace reelbox {

// Every kind of change the take editor makes to its take, and what each one costs: when the
// take is written (at once, or once a burst of changes has settled) and what of the preview
// is rebuilt (nothing, the picture in place, or the pipeline from a stage, at once or after a
// short wait that lets a burst collapse into one run).
enum class EditorChange {
    trackField,     // mute, solo, volume, pan, an effect field
    master,         // the master settings
    trackName,      // a track renamed
    trackDeleted,   // a track removed
    overdubMoved,   // an overdub's nudge or start changed
    overdubField,   // another field of an overdub (shown video, ...)
    mainVideoShown, // the main recording's video shown or hidden
    exportPicture,  // export settings: aspect, mirror, layout or positions
    exportOther,    // export settings: nothing of the picture (the format)
    position,       // the crop position of one lane
    overdubAdded,   // a finished overdub and its tracks
    overdubDeleted, // an overdub and its tracks
    mainDeleted,    // the main recording of a take with overdubs
    edit,           // an edit operation (cut, hide, ...)
};

struct ChangePolicy {
    enum class Save { now, soon };
    enum class Rebuild { none, picture, process, stems };
    Save save;
    Rebuild rebuild;
    bool delayed = false; // the pipeline waits for the burst to end
};

constexpr ChangePolicy policyOf(EditorChange change) {
    using S = ChangePolicy::Save;
    using R = ChangePolicy::Rebuild;
    switch (change) {
    case EditorChange::trackField:
        return {S::soon, R::process, true};
    case EditorChange::master:
        return {S::soon, R::process, true};
    case EditorChange::trackName:
        return {S::soon, R::none};
    case EditorChange::trackDeleted:
        return {S::now, R::process};
    case EditorChange::overdubMoved:
        return {S::soon, R::stems, true};
    case EditorChange::overdubField:
        return {S::soon, R::picture};
    case EditorChange::mainVideoShown:
        return {S::now, R::picture};
    case EditorChange::exportPicture:
        return {S::now, R::picture};
    case EditorChange::exportOther:
        return {S::now, R::none};
    case EditorChange::position:
        return {S::soon, R::picture};
    case EditorChange::overdubAdded:
        return {S::now, R::stems};
    case EditorChange::overdubDeleted:
        return {S::now, R::stems};
    case EditorChange::mainDeleted:
        return {S::now, R::stems};
    case EditorChange::edit:
        return {S::now, R::process};
    }
    return {S::now, R::none};
}

} // namespace reelbox
