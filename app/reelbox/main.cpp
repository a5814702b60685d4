// reelbox: the window.
#include "capture/RecorderModel.h"
#include "ui/Icons.h"
#include "ui/MainWindow.h"
#include "ui/ReelboxApp.h"
#include "ui/Sidebar.h"
#include "ui/Style.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <sys/socket.h>
#include <unistd.h>

using namespace reelbox;

namespace {

int signalPipe[2] = {-1, -1};

void onSignal(int) {
    const char byte = 1;
    [[maybe_unused]] const auto written = ::write(signalPipe[1], &byte, 1);
}

// SIGINT and SIGTERM close the window the way its close button does.
void quitOnSignals(QApplication& app) {
    if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPipe) != 0)
        return;
    auto* notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, &app);
    QObject::connect(notifier, &QSocketNotifier::activated, &app, [&app] {
        char byte;
        [[maybe_unused]] const auto read = ::read(signalPipe[0], &byte, 1);
        app.closeAllWindows();
        app.quit();
    });
    std::signal(SIGINT, onSignal);
    std::signal(SIGTERM, onSignal);
}

} // namespace

int main(int argc, char** argv) {
    QApplication::setOrganizationName(QStringLiteral("Reelbox"));
    QApplication::setApplicationName(QStringLiteral("Reelbox"));
    QApplication::setDesktopFileName(QStringLiteral("org.reelbox.Reelbox"));
    QApplication app(argc, argv);
    app.setWindowIcon(ui::applicationIcon());

    QCommandLineParser parser;
    parser.setApplicationDescription(QStringLiteral(
        "Reelbox records takes with a camera and an audio interface, edits and exports them."));
    parser.addHelpOption();
    const QCommandLineOption root(
        QStringLiteral("root"),
        QStringLiteral("The take library's folder (default: Videos/Reelbox)."),
        QStringLiteral("DIR"));
    const QCommandLineOption screenshot(
        QStringLiteral("screenshot"),
        QStringLiteral("Open the recorder, save a picture of the window to FILE after a few "
                       "seconds and quit."),
        QStringLiteral("FILE"));
    parser.addOption(root);
    parser.addOption(screenshot);
    parser.process(app);
    if (!parser.positionalArguments().isEmpty()) {
        std::fprintf(stderr, "reelbox: unexpected argument %s\n",
                     qPrintable(parser.positionalArguments().front()));
        return 2;
    }

    ui::applyStyle(app);
    quitOnSignals(app);
    ui::ReelboxApp reelbox(parser.isSet(root) ? QDir(parser.value(root)).absolutePath()
                                              : QString());
    ui::MainWindow window(reelbox);
    window.show();

    if (parser.isSet(screenshot)) {
        const QString path = parser.value(screenshot);
        window.sidebar().select(ui::SidebarItem::recorder());
        QTimer::singleShot(3000, &window, [&window, path] {
            const bool saved = window.grab().save(path);
            if (!saved)
                std::fprintf(stderr, "reelbox: couldn't save %s\n", qPrintable(path));
            window.close();
            QApplication::exit(saved ? 0 : 1);
        });
    }
    const int status = app.exec();
    reelbox.recorder().deactivate();
    return status;
}
