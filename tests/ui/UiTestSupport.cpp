#include "ui/UiTestSupport.h"

#include "support/TestSupport.h"
#include "ui/TrackHeader.h"

#include <QAccessible>
#include <QApplication>
#include <QMessageBox>
#include <QTest>

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

void dismissProblem(QWidget* parent, const QString& title,
                    const std::function<std::optional<QString>()>& error) {
    QMessageBox* box = nullptr;
    ASSERT_TRUE(waitFor(
        [&] {
            box = parent->findChild<QMessageBox*>();
            return box && box->isVisible();
        },
        30000));
    EXPECT_EQ(box->windowTitle(), title);
    ASSERT_TRUE(error());
    EXPECT_EQ(box->informativeText(), *error());
    box->accept();
    QApplication::processEvents();
    EXPECT_FALSE(error());
}

void EditorWidgetTest::open(int overdubs) {
    take = makeTake(overdubs);
    model = EditorModelFixture::open(take);
    model->setUndoRegistry(&undo);
}

void EditorWidgetTest::showTimeline() {
    timeline = std::make_unique<ui::EditTimeline>(*model, [this](const Track& t, QWidget* parent) {
        return new ui::TrackHeader(*model, t.id, parent);
    });
    timeline->resize(ui::TimelineHeaders::columnWidth + 624, 500);
    timeline->show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(timeline.get()));
}

ui::TrackHeader* EditorWidgetTest::header(const QUuid& trackId) const {
    // Headers of an older layout are on their way out.
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    for (auto* header : timeline->headers()->findChildren<ui::TrackHeader*>())
        if (header->trackId() == trackId)
            return header;
    return nullptr;
}

} // namespace reelbox::test
