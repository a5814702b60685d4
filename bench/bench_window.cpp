// The window's costs, offscreen on the virtual devices:
//   - how long the window takes to show with 1,000 takes in the library (thumbnails follow);
//   - the camera preview at 1080p30: CPU for conversion and painting, as a share of one core
//     (the process's CPU time with the picture shown, less the same time with it hidden);
//   - the longest time the main thread is kept from its event loop while recording.
#include "MainThreadWatch.h"
#include "capture/CameraPreview.h"
#include "capture/RecorderModel.h"
#include "model/TakeInfoCodec.h"
#include "model/TakeLibrary.h"
#include "ui/CameraView.h"
#include "ui/MainWindow.h"
#include "ui/RecorderScreen.h"
#include "ui/ReelboxApp.h"
#include "ui/Sidebar.h"
#include "ui/Style.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QTest>
#include <cstdio>
#include <ctime>

using namespace reelbox;

namespace {

double processCpuMs() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
}

void run(int ms) {
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QApplication::processEvents(QEventLoop::AllEvents, 5);
}

// Process CPU per wall-clock second over `ms`, in percent of one core.
double cpuPercent(int ms) {
    const double before = processCpuMs();
    QElapsedTimer clock;
    clock.start();
    run(ms);
    return 100.0 * (processCpuMs() - before) / double(clock.elapsed());
}

} // namespace

int main(int argc, char** argv) {
    qputenv("QT_QPA_PLATFORM", "offscreen");
    qputenv("REELBOX_VIRTUAL_DEVICES", "1");
    QTemporaryDir home;
    for (const char* name : {"HOME", "XDG_CONFIG_HOME", "XDG_DATA_HOME", "XDG_CACHE_HOME"})
        qputenv(name, home.path().toUtf8());
    QApplication::setOrganizationName(QStringLiteral("Reelbox"));
    QApplication::setApplicationName(QStringLiteral("Reelbox"));
    QApplication app(argc, argv);
    ui::applyStyle(app);

    const QString root = home.filePath(QStringLiteral("Takes"));
    for (int i = 0; i < 1000; ++i) {
        TakeInfo info;
        info.name = QStringLiteral("Take %1").arg(i);
        info.createdAt = QDateTime::currentDateTimeUtc().addSecs(-60 * i);
        info.duration = 30;
        const QString folder = QDir(root).filePath(QStringLiteral("take %1").arg(i));
        QDir().mkpath(folder);
        QFile file(QDir(folder).filePath(QStringLiteral("take.json")));
        if (!file.open(QIODevice::WriteOnly))
            return 1;
        file.write(encodeTakeInfo(info));
        QFile movie(QDir(folder).filePath(QStringLiteral("take.mov"))); // no picture: placeholders
        if (!movie.open(QIODevice::WriteOnly))
            return 1;
    }

    QElapsedTimer shown;
    shown.start();
    ui::ReelboxApp reelbox(root);
    const qint64 models = shown.elapsed();
    ui::MainWindow window(reelbox);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return 1;
    QApplication::processEvents();
    const qint64 windowMs = shown.elapsed();
    while (!reelbox.library().isRead())
        QApplication::processEvents(QEventLoop::WaitForMoreEvents, 50);
    QApplication::processEvents();
    std::printf("window shown: %lld ms (%lld ms of it making the models; goal: at most 1000), "
                "%zu takes listed: %lld ms\n",
                (long long)windowMs, (long long)models, reelbox.library().takes().size(),
                (long long)shown.elapsed());

    window.resize(1920 + 280, 1080 + 260);
    window.sidebar().select(ui::SidebarItem::recorder());
    run(2000);
    int frames = 0;
    QObject::connect(&reelbox.recorder().cameraPreview(), &CameraPreview::frameReady,
                     [&] { ++frames; });
    const double withPicture = cpuPercent(5000);
    const int shownFrames = frames;
    window.recorderScreen().hide(); // the session goes on, nothing is converted or painted
    run(500);
    const double without = cpuPercent(5000);
    window.recorderScreen().show();
    const QSize view = window.recorderScreen().camera().size();
    std::printf("camera preview at 1080p30 in a %dx%d view, %d frames in 5 s: %.1f %% of one core "
                "for conversion and painting (%.1f %% shown, %.1f %% hidden; goal: at most 15)\n",
                view.width(), view.height(), shownFrames, withPicture - without, withPicture,
                without);

    RecorderModel& recorder = reelbox.recorder();
    recorder.setCountdownSeconds(0);
    run(500);
    double starting = 0, recording = 0, stopping = 0;
    {
        bench::MainThreadWatch watch;
        recorder.toggleRecording(reelbox.library());
        run(200);
        starting = watch.worstMs();
    }
    {
        bench::MainThreadWatch watch;
        run(5000);
        recording = watch.worstMs();
    }
    {
        bench::MainThreadWatch watch;
        recorder.toggleRecording(reelbox.library());
        QElapsedTimer wait;
        wait.start();
        while (recorder.state().kind != RecorderState::Kind::idle && wait.elapsed() < 20000)
            QApplication::processEvents(QEventLoop::AllEvents, 5);
        run(500);
        stopping = watch.worstMs();
    }
    std::printf("longest main-thread pass: %.1f ms starting, %.1f ms while recording 5 s "
                "(goal: at most 20), %.1f ms stopping, saving and opening the take\n",
                starting, recording, stopping);
    recorder.deactivate();
    return 0;
}
