#pragma once

#include <QStringList>
#include <stop_token>

namespace reelbox::cli {

// Exit statuses: 0 success, 1 failure (message on stderr), 2 wrong call (usage on stderr).
enum ExitStatus { success = 0, failure = 1, usage = 2 };

struct UsageError {
    QString message;
};

int runTakes(const QStringList& args);
int runInfo(const QStringList& args);
int runDemoRecord(const QStringList& args);
int runSynthTake(const QStringList& args, const std::stop_token& stop);
int runStems(const QStringList& args, const std::stop_token& stop);
int runWaveform(const QStringList& args, const std::stop_token& stop);
int runFilmstrip(const QStringList& args, const std::stop_token& stop);
int runThumbnail(const QStringList& args);
int runMix(const QStringList& args, const std::stop_token& stop);
int runExport(const QStringList& args, const std::stop_token& stop);
int runFrame(const QStringList& args);
int runDevices(const QStringList& args);
int runMeter(const QStringList& args, const std::stop_token& stop);
int runEdit(const QStringList& args, const std::stop_token& stop);
int runPlay(const QStringList& args, const std::stop_token& stop);
int runCalibrate(const QStringList& args, const std::stop_token& stop);
int runRecord(const QStringList& args, const std::stop_token& stop);
int runRecover(const QStringList& args);
int runOverdub(const QStringList& args, const std::stop_token& stop);

// Takes the value after an option such as --root; throws UsageError when it is missing.
QString optionValue(const QStringList& args, int& index);

// Throws UsageError when `output` would land on a recording or a derived file: anything
// inside a take folder (a folder holding take.json: its movie, overdubs, record) or inside
// Reelbox's cache (stems, mixes), through links too.
void refuseProtectedOutput(const QString& output, const QString& command);

} // namespace reelbox::cli
