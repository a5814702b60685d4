#pragma once

#include "Arguments.h"

#include <stop_token>

namespace reelbox::cli {

// Exit statuses: 0 success, 1 failure (message on stderr), 2 wrong call (usage on stderr).
enum ExitStatus { success = 0, failure = 1, usage = 2 };

// A wrong call: its message goes to stderr with the usage text, and the exit status is 2.
struct UsageError {
    QString message;
};

int runTakes(const Arguments& args);
int runInfo(const Arguments& args);
int runDemoRecord(const Arguments& args);
int runSynthTake(const Arguments& args, const std::stop_token& stop);
int runStems(const Arguments& args, const std::stop_token& stop);
int runWaveform(const Arguments& args, const std::stop_token& stop);
int runFilmstrip(const Arguments& args, const std::stop_token& stop);
int runThumbnail(const Arguments& args);
int runMix(const Arguments& args, const std::stop_token& stop);
int runExport(const Arguments& args, const std::stop_token& stop);
int runFrame(const Arguments& args);
int runDevices(const Arguments& args);
int runMeter(const Arguments& args, const std::stop_token& stop);
int runEdit(const Arguments& args, const std::stop_token& stop);
int runPlay(const Arguments& args, const std::stop_token& stop);
int runCalibrate(const Arguments& args, const std::stop_token& stop);
int runRecord(const Arguments& args, const std::stop_token& stop);
int runRecover(const Arguments& args);
int runOverdub(const Arguments& args, const std::stop_token& stop);

// Throws UsageError when `output` would land on a recording or a derived file: anything
// inside a take folder (a folder holding take.json: its movie, overdubs, record) or inside
// Reelbox's cache (stems, mixes), through links too.
void refuseProtectedOutput(const QString& output, const QString& command);

} // namespace reelbox::cli
