#include "ui/UiTestSupport.h"

#include <QAccessible>

namespace reelbox::test {

void walkAccessible(QAccessibleInterface* root,
                    const std::function<void(QAccessibleInterface*)>& visit) {
    if (!root)
        return;
    visit(root);
    for (int i = 0; i < root->childCount(); ++i)
        walkAccessible(root->child(i), visit);
}

QAccessibleInterface* findAccessible(QObject* root, int role, const QString& name) {
    QAccessibleInterface* found = nullptr;
    walkAccessible(QAccessible::queryAccessibleInterface(root), [&](QAccessibleInterface* e) {
        if (found || int(e->role()) != role || e->state().invisible)
            return;
        // A combo box's name on Linux is its value; its label is a relation, as screen readers
        // read it.
        bool named = e->text(QAccessible::Name) == name;
        for (const auto& [label, relation] : e->relations(QAccessible::Label))
            named = named || label->text(QAccessible::Name) == name;
        if (named)
            found = e;
    });
    return found;
}

} // namespace reelbox::test
