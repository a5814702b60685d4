#include "Commands.h"
#include "Interruption.h"
#include "Output.h"

#include "platform/Error.h"

#include <QCoreApplication>
#include <exception>
#include <new>

using namespace reelbox::cli;

namespace {

const char* const usageText = R"(Usage: reelbox-cli COMMAND [OPTIONS]

Commands:
  takes [--root DIR] [--json]       list the takes of the library, newest first
  info TAKE_DIR [--derived]         print a take's record as it would be saved now,
                                    or with --derived its timeline facts as JSON
  demo-record --root DIR            save a demonstration take record into a library
  synth-take [--root DIR] [--seconds N] [--channels C] [--size WxH] [--overdubs K]
             [--audio-only-overdubs]
                                    write a take from the test camera and microphone;
                                    prints its folder
  stems MOVIE --cache DIR           split the movie's sound into mono stems; prints them
  waveform STEM [--start SECONDS] [--json]
                                    the stem's peaks in 10 ms buckets
  filmstrip MOVIE --count N --height H --out DIR
                                    write N frames of the movie as frame-00.png …
  thumbnail TAKE_DIR                make the take's thumbnail.jpg; prints its path
  mix TAKE_DIR OUT.caf [--monitor]  mix the take's sound over its kept spans (or, with
                                    --monitor, the whole timeline); prints the analysis
  export TAKE_DIR OUT [--format h264|hevc|audio]
                                    stems, mix, picture and encoding as the editor exports;
                                    prints the file's path
  frame TAKE_DIR --at SECONDS OUT.png [--live]
                                    the picture at that output time as exported, or with
                                    --live as the preview shows it
  devices [--json]                  the cameras with their formats, microphones and outputs;
                                    the default and the chosen ones marked
  meter [--microphone ID] [--seconds N]
                                    the microphone's levels 20 times a second, one JSON array
                                    of {"average", "peak"} in dBFS per channel a line
  edit TAKE_DIR [SCRIPT|-]          run editor commands, one a line, through the editor
                                    model: seek, split, select, remove, restore, in, out,
                                    reset, undo, redo, track, master, overdub,
                                    export-settings, delete-*, export, wait, settle
  play TAKE_DIR [--from S] [--seconds N] [--output ID] [--record-output OUT.caf]
                [--frames DIR]      play the edit in real time through a sound output
  calibrate [--output ID] [--microphone ID] [--input N]
                                    measure the delay from the output back into input N
                                    (default the last) that no device reports; stores the
                                    overdub nudge; prints {"roundTripMs", "nudge",
                                    "measurementsMs"}
  record [--root DIR] [--seconds N] [--countdown N] [--camera ID|none]
         [--microphone ID|none] [--inputs 1,3,…] [--size WxH]
                                    record a take as the recorder does: countdown and time on
                                    stderr; N seconds or until Ctrl+C; prints the take folder
                                    and {"duration", "audioChannelCount", "droppedFrames",
                                    "lostSoundFrames"}
  recover [--root DIR]              finish interrupted recordings; prints their folders
  overdub TAKE_DIR [--start S] [--seconds N] [--sound-only] [--output ID] [--camera ID]
          [--microphone ID] [--inputs 1,3,…] [--countdown N]
                                    record an overdub while the take plays from S, as the
                                    overdub screen does: N seconds, to the take's end or until
                                    Ctrl+C; prints the overdub's id and {"start", "nudge",
                                    "duration", "tracks"}

Options:
  -h, --help                        show this text

Outputs of mix and export never go inside a take folder or Reelbox's cache.
SIGINT, SIGTERM and SIGHUP stop the work and remove what it had begun to write; record
and overdub instead stop as the record key does, keep what was recorded and exit 0.

Exit status: 0 on success, 1 when the work failed, 2 on a wrong call,
130 after SIGINT, 143 after SIGTERM, 129 after SIGHUP.)";

} // namespace

int main(int argc, char* argv[]) {
    // Before any thread starts, so that every thread leaves the signals to the watcher.
    const Interruption interruption;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Reelbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Reelbox"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        printError(QString::fromUtf8(usageText));
        return usage;
    }
    const QString command = args.takeFirst();
    if (command == u"-h" || command == u"--help" || command == u"help") {
        printLine(QString::fromUtf8(usageText));
        return success;
    }
    if (args.contains(u"-h") || args.contains(u"--help")) {
        printLine(QString::fromUtf8(usageText));
        return success;
    }
    const std::stop_token stop = interruption.token();
    // A failure that comes after SIGINT or SIGTERM counts as the stop it probably is.
    const auto failed = [&](int status) {
        return interruption.signal() != 0 ? interruption.exitStatus() : status;
    };
    try {
        if (command == u"takes")
            return runTakes(args);
        if (command == u"info")
            return runInfo(args);
        if (command == u"demo-record")
            return runDemoRecord(args);
        if (command == u"synth-take")
            return runSynthTake(args, stop);
        if (command == u"stems")
            return runStems(args, stop);
        if (command == u"waveform")
            return runWaveform(args, stop);
        if (command == u"filmstrip")
            return runFilmstrip(args, stop);
        if (command == u"thumbnail")
            return runThumbnail(args);
        if (command == u"mix")
            return runMix(args, stop);
        if (command == u"export")
            return runExport(args, stop);
        if (command == u"frame")
            return runFrame(args);
        if (command == u"devices")
            return runDevices(args);
        if (command == u"meter")
            return runMeter(args, stop);
        if (command == u"edit")
            return runEdit(args, stop);
        if (command == u"play")
            return runPlay(args, stop);
        if (command == u"calibrate")
            return runCalibrate(args, stop);
        if (command == u"record")
            return runRecord(args, stop);
        if (command == u"recover")
            return runRecover(args);
        if (command == u"overdub")
            return runOverdub(args, stop);
        throw UsageError{QStringLiteral("unknown command \"%1\"").arg(command)};
    } catch (const UsageError& e) {
        printError(
            QStringLiteral("reelbox-cli: %1\n\n%2").arg(e.message, QString::fromUtf8(usageText)));
        return usage;
    } catch (const reelbox::Cancelled&) {
        return failed(failure);
    } catch (const reelbox::Error& e) {
        if (interruption.signal() == 0)
            printError(QStringLiteral("reelbox-cli: %1").arg(e.message()));
        return failed(failure);
    } catch (const std::bad_alloc&) {
        printError(QStringLiteral("reelbox-cli: there isn't enough memory for this"));
        return failed(failure);
    } catch (const std::exception& e) {
        printError(QStringLiteral("reelbox-cli: %1").arg(QString::fromLocal8Bit(e.what())));
        return failed(failure);
    } catch (...) {
        printError(QStringLiteral("reelbox-cli: an unexpected failure"));
        return failed(failure);
    }
}
