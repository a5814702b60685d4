#pragma once

#include "Arguments.h"

#include <QString>
#include <QStringList>
#include <functional>
#include <stop_token>
#include <vector>

namespace reelbox::cli {

struct CommandOption {
    QString name;      // without the dashes
    QString valueName; // empty for a flag
    bool required = false;
};

// One command of reelbox-cli: what it takes, what the usage text says of it, and its body.
struct Command {
    QString name;
    QStringList positionals; // in order; a bracketed one ("[SCRIPT|-]") may be left out
    std::vector<CommandOption> options;
    QString needs;       // "NAME needs …" when a positional or a required option is missing
    QString description; // its lines in the usage text
    std::function<int(const Arguments&, const std::stop_token&)> run;
};

// Every command, in the order the usage text lists them.
const std::vector<Command>& commands();
const Command* findCommand(const QString& name);

QString usageText();

// Reads the words after the command's name; throws UsageError on an unknown option, a missing
// value, a missing or an extra positional argument. -h and --help set "help".
Arguments parseCall(const Command& command, const QStringList& words);

} // namespace reelbox::cli
