#include "CommandTable.h"
#include "Commands.h"

#include <QCommandLineParser>

namespace reelbox::cli {

namespace {

// Adapts a command body that takes no stop token.
template <int (*body)(const Arguments&)>
int unstoppable(const Arguments& args, const std::stop_token&) {
    return body(args);
}

CommandOption flag(const char* name) {
    return {QString::fromLatin1(name), {}, false};
}
CommandOption valued(const char* name, const char* valueName, bool required = false) {
    return {QString::fromLatin1(name), QString::fromUtf8(valueName), required};
}

std::vector<Command> makeCommands() {
    const auto text = [](const char* s) { return QString::fromUtf8(s); };
    return {
        {text("takes"),
         {},
         {valued("root", "DIR"), flag("json")},
         {},
         text("list the takes of the library, newest first"),
         unstoppable<runTakes>},
        {text("info"),
         {text("TAKE_DIR")},
         {flag("derived")},
         text("a take folder"),
         text("print a take's record as it would be saved now,\n"
              "or with --derived its timeline facts as JSON"),
         unstoppable<runInfo>},
        {text("demo-record"),
         {},
         {valued("root", "DIR", true)},
         text("--root"),
         text("save a demonstration take record into a library"),
         unstoppable<runDemoRecord>},
        {text("synth-take"),
         {},
         {valued("root", "DIR"), valued("seconds", "N"), valued("channels", "C"),
          valued("size", "WxH"), valued("overdubs", "K"), flag("audio-only-overdubs")},
         {},
         text("write a take from the test camera and microphone;\nprints its folder"),
         runSynthTake},
        {text("stems"),
         {text("MOVIE")},
         {valued("cache", "DIR", true)},
         text("a movie and --cache DIR"),
         text("split the movie's sound into mono stems; prints them"),
         runStems},
        {text("waveform"),
         {text("STEM")},
         {valued("start", "SECONDS"), flag("json")},
         text("a stem file"),
         text("the stem's peaks in 10 ms buckets"),
         runWaveform},
        {text("filmstrip"),
         {text("MOVIE")},
         {valued("count", "N", true), valued("height", "H", true), valued("out", "DIR", true)},
         text("a movie, --count N, --height H and --out DIR"),
         text("write N frames of the movie as frame-00.png …"),
         runFilmstrip},
        {text("thumbnail"),
         {text("TAKE_DIR")},
         {},
         text("a take folder"),
         text("make the take's thumbnail.jpg; prints its path"),
         unstoppable<runThumbnail>},
        {text("mix"),
         {text("TAKE_DIR"), text("OUT.caf")},
         {flag("monitor")},
         text("a take folder and an output file"),
         text("mix the take's sound over its kept spans (or, with\n"
              "--monitor, the whole timeline); prints the analysis"),
         runMix},
        {text("export"),
         {text("TAKE_DIR"), text("OUT")},
         {valued("format", "h264|hevc|audio")},
         text("a take folder and an output file"),
         text("stems, mix, picture and encoding as the editor exports;\nprints the file's path"),
         runExport},
        {text("frame"),
         {text("TAKE_DIR"), text("OUT.png")},
         {valued("at", "SECONDS", true), flag("live")},
         text("a take folder, --at SECONDS and an output file"),
         text("the picture at that output time as exported, or with\n"
              "--live as the preview shows it"),
         unstoppable<runFrame>},
        {text("devices"),
         {},
         {flag("json")},
         {},
         text("the cameras with their formats, microphones and outputs;\n"
              "the default and the chosen ones marked"),
         unstoppable<runDevices>},
        {text("meter"),
         {},
         {valued("microphone", "ID"), valued("seconds", "N")},
         {},
         text("the microphone's levels 20 times a second, one JSON array\n"
              "of {\"average\", \"peak\"} in dBFS per channel a line"),
         runMeter},
        {text("edit"),
         {text("TAKE_DIR"), text("[SCRIPT|-]")},
         {},
         text("TAKE_DIR [SCRIPT|-]"),
         text("run editor commands, one a line, through the editor\n"
              "model: seek, split, select, remove, restore, in, out,\n"
              "reset, undo, redo, track, master, overdub,\n"
              "export-settings, delete-*, export, wait, settle"),
         runEdit},
        {text("play"),
         {text("TAKE_DIR")},
         {valued("from", "S"), valued("seconds", "N"), valued("output", "ID"),
          valued("record-output", "OUT.caf"), valued("frames", "DIR")},
         text("TAKE_DIR"),
         text("play the edit in real time through a sound output"),
         runPlay},
        {text("calibrate"),
         {},
         {valued("output", "ID"), valued("microphone", "ID"), valued("input", "N")},
         {},
         text("measure the delay from the output back into input N\n"
              "(default the last) that no device reports; stores the\n"
              "overdub nudge; prints {\"roundTripMs\", \"nudge\",\n"
              "\"measurementsMs\"}"),
         runCalibrate},
        {text("record"),
         {},
         {valued("root", "DIR"), valued("seconds", "N"), valued("countdown", "N"),
          valued("camera", "ID|none"), valued("microphone", "ID|none"), valued("inputs", "1,3,…"),
          valued("size", "WxH")},
         {},
         text("record a take as the recorder does: countdown and time on\n"
              "stderr; N seconds or until Ctrl+C; prints the take folder\n"
              "and {\"duration\", \"audioChannelCount\", \"droppedFrames\",\n"
              "\"lostSoundFrames\"}"),
         runRecord},
        {text("recover"),
         {},
         {valued("root", "DIR")},
         {},
         text("finish interrupted recordings; prints their folders"),
         unstoppable<runRecover>},
        {text("overdub"),
         {text("TAKE_DIR")},
         {valued("start", "S"), valued("seconds", "N"), flag("sound-only"), valued("output", "ID"),
          valued("camera", "ID"), valued("microphone", "ID"), valued("inputs", "1,3,…"),
          valued("countdown", "N")},
         text("a take folder"),
         text("record an overdub while the take plays from S, as the\n"
              "overdub screen does: N seconds, to the take's end or until\n"
              "Ctrl+C; prints the overdub's id and {\"start\", \"nudge\",\n"
              "\"duration\", \"tracks\"}"),
         runOverdub},
    };
}

bool optional(const QString& positional) {
    return positional.startsWith(u'[');
}

constexpr qsizetype descriptionColumn = 36;
constexpr qsizetype synopsisWidth = 86;

// "  name ARG [--option VALUE] …", wrapped under the first argument, then the description from
// its column, beside the synopsis when there is room.
QString usageOf(const Command& command) {
    QStringList words = command.positionals;
    for (const CommandOption& o : command.options) {
        QString word = QStringLiteral("--") + o.name;
        if (!o.valueName.isEmpty())
            word += u' ' + o.valueName;
        words << (o.required ? word : u'[' + word + u']');
    }
    const QString indent(command.name.size() + 3, u' ');
    QStringList lines{QStringLiteral("  ") + command.name};
    for (const QString& word : words) {
        if (lines.last().size() + 1 + word.size() > synopsisWidth &&
            lines.last().size() > indent.size())
            lines << indent + word;
        else
            lines.last() += u' ' + word;
    }
    QStringList description = command.description.split(u'\n');
    if (lines.last().size() < descriptionColumn - 1)
        lines.last() = lines.last().leftJustified(descriptionColumn) + description.takeFirst();
    for (const QString& line : description)
        lines << QString(descriptionColumn, u' ') + line;
    return lines.join(u'\n');
}

} // namespace

const std::vector<Command>& commands() {
    static const std::vector<Command> table = makeCommands();
    return table;
}

const Command* findCommand(const QString& name) {
    for (const Command& command : commands())
        if (command.name == name)
            return &command;
    return nullptr;
}

QString usageText() {
    QStringList parts{QStringLiteral("Usage: reelbox-cli COMMAND [OPTIONS]\n\nCommands:")};
    for (const Command& command : commands())
        parts << usageOf(command);
    parts << QStringLiteral(
        "\nOptions:\n"
        "  -h, --help                        show this text\n\n"
        "Outputs of mix and export never go inside a take folder or Reelbox's cache.\n"
        "SIGINT, SIGTERM and SIGHUP stop the work and remove what it had begun to write; record\n"
        "and overdub instead stop as the record key does, keep what was recorded and exit 0.\n\n"
        "Exit status: 0 on success, 1 when the work failed, 2 on a wrong call,\n"
        "130 after SIGINT, 143 after SIGTERM, 129 after SIGHUP.");
    return parts.join(u'\n');
}

Arguments parseCall(const Command& command, const QStringList& words) {
    QCommandLineParser parser;
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOption(QCommandLineOption(QStringList{QStringLiteral("h"), QStringLiteral("help")}));
    for (const CommandOption& o : command.options)
        parser.addOption(QCommandLineOption(o.name, {}, o.valueName));
    if (!parser.parse(QStringList{command.name} + words))
        throw UsageError{QStringLiteral("%1: %2").arg(command.name, parser.errorText())};

    QHash<QString, QString> values;
    QStringList flags;
    if (parser.isSet(QStringLiteral("help")))
        flags << QStringLiteral("help");
    for (const CommandOption& o : command.options) {
        if (!parser.isSet(o.name))
            continue;
        if (o.valueName.isEmpty())
            flags << o.name;
        else
            values.insert(o.name, parser.value(o.name));
    }
    const QStringList positionals = parser.positionalArguments();
    if (!flags.contains(u"help")) {
        const qsizetype most = command.positionals.size();
        qsizetype least = 0;
        for (const QString& p : command.positionals)
            least += optional(p) ? 0 : 1;
        if (positionals.size() > most)
            throw UsageError{QStringLiteral("%1: unexpected argument \"%2\"")
                                 .arg(command.name, positionals[most])};
        bool missing = positionals.size() < least;
        for (const CommandOption& o : command.options)
            missing = missing || (o.required && !parser.isSet(o.name));
        if (missing)
            throw UsageError{QStringLiteral("%1 needs %2").arg(command.name, command.needs)};
    }
    return Arguments(command.name, positionals, std::move(values), std::move(flags));
}

} // namespace reelbox::cli
