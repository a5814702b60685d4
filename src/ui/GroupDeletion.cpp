#include "ui/GroupDeletion.h"

namespace reelbox::ui {

DeleteConfirmation deleteConfirmation(const TakeInfo& info, const Group& group) {
    if (group.kind == Group::Kind::take && info.overdubs.empty())
        return {QStringLiteral("Delete this take?"),
                QStringLiteral("The whole take is moved to the Trash.")};
    const QString title = QStringLiteral("Delete ") + groupName(info, group) + QLatin1Char('?');
    if (group.kind == Group::Kind::take)
        return {title, QStringLiteral("The original video and sound are moved to the Trash. The "
                                      "overdubs stay where they are.")};
    return {title, QStringLiteral("Its video and sound are moved to the Trash. You can record a "
                                  "new overdub afterwards.")};
}

} // namespace reelbox::ui
