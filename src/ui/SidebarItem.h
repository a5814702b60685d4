#pragma once

#include <QString>

namespace reelbox::ui {

// What the sidebar selects: nothing, the recorder entry, or a take by its folder.
struct SidebarItem {
    enum class Kind { none, recorder, take };
    Kind kind = Kind::none;
    QString folder;

    static SidebarItem recorder() { return {Kind::recorder, {}}; }
    static SidebarItem take(const QString& folder) { return {Kind::take, folder}; }
    bool operator==(const SidebarItem&) const = default;
};

} // namespace reelbox::ui
