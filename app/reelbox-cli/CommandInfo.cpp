#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "edit/EditOperations.h"
#include "edit/Group.h"
#include "model/TakeInfoCodec.h"
#include "model/UuidString.h"

#include <QDir>
#include <QFile>

namespace reelbox::cli {
using reelbox::Error;

namespace {

QString groupKey(const Group& group) {
    if (group.kind == Group::Kind::take)
        return QStringLiteral("take");
    return QStringLiteral("overdub:") + uuidString(group.id);
}

QString derivedFacts(const TakeInfo& info) {
    EditingState state;
    state.info = info;
    state.sourceDuration = info.timelineDuration();
    state.mainDuration = info.mainRemoved ? 0 : info.duration;

    QStringList spans;
    for (const TimeSpan& s : playedSpans(state))
        spans << jsonArray({jsonNumber(s.start), jsonNumber(s.end)});
    QStringList groupList;
    for (const GroupLanes& entry : groups(info)) {
        QStringList laneKeys;
        for (const Lane& lane : entry.lanes)
            laneKeys << jsonString(lane.key());
        groupList << jsonObject({{QStringLiteral("group"), jsonString(groupKey(entry.group))},
                                 {QStringLiteral("name"), jsonString(groupName(info, entry.group))},
                                 {QStringLiteral("lanes"), jsonArray(laneKeys)}});
    }
    return jsonObject({{QStringLiteral("timelineDuration"), jsonNumber(state.sourceDuration)},
                       {QStringLiteral("keptSpans"), jsonArray(spans)},
                       {QStringLiteral("editedDuration"), jsonNumber(editedDuration(state))},
                       {QStringLiteral("groups"), jsonArray(groupList)}});
}

} // namespace

int runInfo(const Arguments& args) {
    const QString folder = args.positional(0);
    const bool derived = args.isSet(QStringLiteral("derived"));

    QFile file(QDir(folder).filePath(QStringLiteral("take.json")));
    if (!file.open(QIODevice::ReadOnly))
        throw Error(QStringLiteral("can't read %1: %2").arg(file.fileName(), file.errorString()));
    TakeInfo info;
    try {
        info = decodeTakeInfo(file.readAll());
    } catch (const DecodeError& e) {
        throw Error(QStringLiteral("%1 is unreadable: %2").arg(file.fileName(), e.message()));
    }
    if (derived)
        printLine(derivedFacts(info));
    else
        printLine(QString::fromUtf8(encodeTakeInfo(info)));
    return success;
}

} // namespace reelbox::cli
