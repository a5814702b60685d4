// The edit timeline at length: a 10-minute take with 8 audio lanes (its waveforms and
// filmstrip read), drawn offscreen.
//   - the cached layer: every lane, card and overlay drawn once (goal: at most 30 ms);
//   - a playhead move: the two thin strips it repaints (goal: at most 1 ms).
#include "capture/SyntheticTake.h"
#include "edit/Group.h"
#include "edit/TakeEditorModel.h"
#include "model/TakeLibrary.h"
#include "platform/sound/SoundDevice.h"
#include "platform/sound/SoundSystem.h"
#include "ui/Style.h"
#include "ui/TimelineLayer.h"
#include "ui/TimelineLayout.h"
#include "ui/TimelineView.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QPainter>
#include <QPixmap>
#include <QTemporaryDir>
#include <QTest>
#include <algorithm>
#include <cstdio>
#include <vector>

using namespace reelbox;

namespace {

// Counts the paints a widget gets, so a repaint that did not happen is not timed as fast.
class PaintCounter : public QObject {
public:
    PaintCounter(int& count, QObject* parent) : QObject(parent), m_count(count) {}
    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint)
            ++m_count;
        return false;
    }

private:
    int& m_count;
};

double median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication::setOrganizationName(QStringLiteral("Reelbox"));
    QApplication::setApplicationName(QStringLiteral("Reelbox"));
    QApplication app(argc, argv);
    ui::applyStyle(app);

    QTemporaryDir dir;
    TakeLibrary library(dir.filePath(QStringLiteral("Takes")));
    QElapsedTimer made;
    made.start();
    const Take take = makeSyntheticTake(library, {600, 8, QSize(320, 180), 30, 0, false});
    SoundSystem sound;
    TakeEditorModel model(take, &library, sound, testOutputId());
    // The waveforms and the filmstrip are read by the pipeline.
    while (model.waveforms().empty() || model.filmstrip().empty() || !model.isIdle())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    std::printf("10-minute take with 8 tracks made and read in %lld ms\n",
                (long long)made.elapsed());

    const ui::TimelineLayout layout = ui::timelineLayout(groups(model.take().info));
    const ui::TimeAxis axis{1600, model.sourceDuration()};
    std::vector<double> builds;
    for (int i = 0; i < 20; ++i) {
        QPixmap layer(QSize(1600, int(layout.height)));
        layer.fill(app.palette().color(QPalette::Window));
        QElapsedTimer timer;
        timer.start();
        QPainter painter(&layer);
        ui::drawTimelineLayer(painter, model, layout, axis, app.palette());
        painter.end();
        builds.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    std::printf("layer of %d rows, 1600 x %.0f points: median %.2f ms, worst %.2f ms (goal: at "
                "most 30)\n",
                int(layout.rows.size()), layout.height, median(builds),
                *std::max_element(builds.begin(), builds.end()));

    ui::TimelineView view(model);
    view.setTimelineLayout(layout);
    view.resize(1600, int(layout.height));
    view.show();
    if (!QTest::qWaitForWindowExposed(&view))
        return 1;
    int painted = 0;
    view.installEventFilter(new PaintCounter(painted, &view));
    view.repaint(); // the layer is built here
    std::vector<double> moves;
    for (int i = 0; i < 200; ++i) {
        model.seek(1.0 + i * 2.5);
        QElapsedTimer timer;
        timer.start();
        // The strip a playhead move repaints, at the old place and at the new one.
        view.repaint(QRect(int(view.playheadX()) - 3, 0, 8, view.height()));
        moves.push_back(double(timer.nsecsElapsed()) / 1e6);
    }
    if (painted < 200) {
        std::printf("the view was not painted (%d paints)\n", painted);
        return 1;
    }
    std::printf("playhead strip repaint: median %.3f ms, worst %.3f ms (goal: at most 1 for a "
                "move, two strips)\n",
                median(moves), *std::max_element(moves.begin(), moves.end()));
    model.tearDown();
    return 0;
}
