#include "CliJson.h"
#include "Commands.h"
#include "Output.h"

#include "model/JsonDate.h"
#include "model/TakeLibrary.h"

namespace reelbox::cli {

int runTakes(const Arguments& args) {
    const QString root = args.value(QStringLiteral("root"), {});
    const bool json = args.isSet(QStringLiteral("json"));
    const TakeLibrary library(root.isEmpty() ? TakeLibrary::defaultRoot() : root);
    for (const Take& take : library.takes()) {
        const auto kept = take.info.edit.keptSpans(take.info.timelineDuration());
        double keptDuration = 0;
        for (const TimeSpan& s : kept)
            keptDuration += s.length();
        if (json) {
            printLine(jsonObject(
                {{QStringLiteral("folder"), jsonString(take.folderName())},
                 {QStringLiteral("name"), jsonString(take.info.name)},
                 {QStringLiteral("createdAt"), jsonString(formatJsonDate(take.info.createdAt))},
                 {QStringLiteral("keptDuration"), jsonNumber(keptDuration)}}));
        } else {
            printLine(QStringLiteral("%1\t%2\t%3\t%4")
                          .arg(take.folderName(), take.info.name,
                               formatJsonDate(take.info.createdAt),
                               QString::number(keptDuration, 'f', 2)));
        }
    }
    return success;
}

} // namespace reelbox::cli
