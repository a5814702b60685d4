#pragma once

#include <QStringList>

namespace reelbox::cli {

// Exit statuses: 0 success, 1 failure (message on stderr), 2 wrong call (usage on stderr).
enum ExitStatus { success = 0, failure = 1, usage = 2 };

struct UsageError {
    QString message;
};

int runTakes(const QStringList& args);
int runInfo(const QStringList& args);
int runDemoRecord(const QStringList& args);
int runSynthTake(const QStringList& args);
int runStems(const QStringList& args);
int runWaveform(const QStringList& args);
int runFilmstrip(const QStringList& args);
int runThumbnail(const QStringList& args);
int runMix(const QStringList& args);
int runExport(const QStringList& args);
int runFrame(const QStringList& args);

// Takes the value after an option such as --root; throws UsageError when it is missing.
QString optionValue(const QStringList& args, int& index);

} // namespace reelbox::cli
