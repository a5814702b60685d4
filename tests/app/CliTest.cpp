#include "model/TakeInfoCodec.h"
#include "model/TakeLibrary.h"
#include "support/CliRun.h"
#include "support/TestSupport.h"

#include <QCryptographicHash>
#include <QDir>
#include <QDirIterator>
#include <QFileInfo>
#include <QImage>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <csignal>
#include <gtest/gtest.h>

using namespace reelbox;
using reelbox::test::utc;
using reelbox::test::writeFile;

namespace {

using Result = test::CliResult;

class CliTest : public ::testing::Test {
protected:
    QString root() const { return home.filePath("library"); }
    QString addTake(const QString& folderName, const TakeInfo& info) {
        const QString folder = QDir(root()).filePath(folderName);
        QDir().mkpath(folder);
        writeFile(QDir(folder).filePath("take.json"), encodeTakeInfo(info));
        writeFile(QDir(folder).filePath("take.mov"), "movie");
        return folder;
    }
    test::TemporaryHome home;
};

} // namespace

TEST_F(CliTest, UsageOnHelp) {
    const Result help = test::runCli({"--help"});
    EXPECT_EQ(help.status, 0);
    EXPECT_TRUE(help.out.contains("Usage: reelbox-cli"));
}

// One line a take, its name escaped and its kept duration after the cuts.
TEST_F(CliTest, TakesListsTheLibraryAsJsonLines) {
    TakeInfo info;
    info.name = QStringLiteral("Older \"one\"");
    info.createdAt = utc(2024, 1, 1, 9, 0, 0);
    info.duration = 10;
    info.edit.cuts = {{2, 3.5}};
    addTake("f1", info);
    EXPECT_EQ(test::cliOutput({"takes", "--root", root(), "--json"}),
              QStringLiteral(R"({"folder": "f1", "name": "Older \"one\"", )"
                             R"("createdAt": "2024-01-01T09:00:00Z", "keptDuration": 8.5})"));
}

// `info` prints an older record as the model reads it, in the current form; `--derived` what
// follows from a record.
TEST_F(CliTest, InfoPrintsTheRecordInTheCurrentFormAndItsDerivedFacts) {
    const QString legacy = QDir(root()).filePath("legacy");
    QDir().mkpath(legacy);
    const QByteArray old = R"({"name": "Old", "duration": 3, "createdAt": "2023-01-01T00:00:00Z",
        "channels": [{"enabled": true, "gainDB": 0, "pan": 0}], "effects": {"normalize": false}})";
    writeFile(QDir(legacy).filePath("take.json"), old);
    const QByteArray printed = test::cliOutput({"info", legacy}).toUtf8();
    EXPECT_EQ(printed, encodeTakeInfo(decodeTakeInfo(printed)).trimmed());

    TakeInfo info = test::fullTakeInfo();
    info.mainRemoved = false;
    info.duration = 40;
    const QString folder = addTake("full", info);
    // Timeline: overdub ends at 12.5 - 0.125 + 30 = 42.375; kept: 0.5…40.75 without the cuts.
    EXPECT_EQ(
        test::cliOutput({"info", folder, "--derived"}),
        QStringLiteral(
            R"({"timelineDuration": 42.375, "keptSpans": [[0.5, 10], [11.5, 20], [21, 40.75]], )"
            R"("editedDuration": 37.75, "groups": [{"group": "take", "name": "Take", "lanes": )"
            R"(["video.main", "audio.11111111-2222-4333-8444-555555555555"]}, )"
            R"({"group": "overdub:0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", "name": "Overdub 1", )"
            R"("lanes": ["video.0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", )"
            R"("audio.AAAAAAAA-BBBB-4CCC-8DDD-EEEEEEEEEEEE"]}]})"));
}

TEST_F(CliTest, DemoRecordMakesAListedTake) {
    const QString made = test::cliOutput({"demo-record", "--root", root()});
    TakeLibrary library(root(), home.filePath("cache"));
    ASSERT_EQ(library.takes().size(), 1u);
    EXPECT_EQ(library.takes()[0].folder, made);
    EXPECT_EQ(library.takes()[0].info.overdubs.size(), 1u);
}

namespace {

QByteArray digest(const QString& path) {
    return QCryptographicHash::hash(test::readFile(path), QCryptographicHash::Sha1);
}

// Every file under `folder` whose name matches one of the patterns.
QStringList filesUnder(const QString& folder, const QStringList& patterns) {
    QStringList found;
    QDirIterator it(folder, patterns, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext())
        found << it.next();
    return found;
}

// Runs reelbox-cli until its error output holds `marker`, then sends it `signal`; its exit code.
int interrupted(const QStringList& args, const QByteArray& marker, int signal) {
    QProcess process;
    process.setReadChannel(QProcess::StandardError);
    process.start(QStringLiteral(REELBOX_CLI), args);
    QByteArray err;
    while (!err.contains(marker) && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(10000);
        err += process.readAllStandardError();
    }
    ::kill(pid_t(process.processId()), signal);
    EXPECT_TRUE(process.waitForFinished(10000)) << err.toStdString();
    EXPECT_EQ(process.exitStatus(), QProcess::NormalExit) << err.toStdString();
    return process.exitCode();
}

// One synthetic take for the whole suite: its home, its folder and its stems.
class CliMediaTest : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        home = std::make_unique<test::TemporaryHome>();
        take = test::cliOutput({"synth-take", "--root", home->filePath("library"), "--seconds", "3",
                                "--size", "320x180", "--overdubs", "1"});
        ASSERT_FALSE(take.isEmpty());
        stems = test::cliOutput({"stems", QDir(take).filePath("take.mov"), "--cache", cache()})
                    .split('\n', Qt::SkipEmptyParts);
        stem = stems.value(0);
    }
    static void TearDownTestSuite() { home.reset(); }

    static QString cache() {
        return home->filePath("cache/org.reelbox.Reelbox/" + QFileInfo(take).fileName());
    }
    // The editor keeps its last mix in the cache; the tests here count what a command leaves.
    static void removeEditorMixes() {
        for (const QString& mix : QDir(cache()).entryList({"mix-*.caf"}, QDir::Files))
            QFile::remove(QDir(cache()).filePath(mix));
    }
    static QString overdubMovie() {
        const QDir overdubs(QDir(take).filePath("overdubs"));
        return overdubs.filePath(overdubs.entryList(QDir::Files).value(0));
    }

    static inline std::unique_ptr<test::TemporaryHome> home;
    static inline QString take, stem;
    static inline QStringList stems;
};

} // namespace

// Outputs onto a recording or into the cache, other audio formats, absurd times and counts.
TEST_F(CliMediaTest, WrongCallsEndWithTwoAndTouchNothing) {
    const QString movie = QDir(take).filePath("take.mov");
    const QString link = home->filePath("link.mov");
    QFile::link(movie, link);
    const QByteArray before = digest(movie);
    const QByteArray stemBefore = digest(stem);
    const QList<QStringList> calls = {
        {},
        {"frobnicate"},
        {"takes", "--root"},
        {"takes", "--bogus"},
        {"info"},
        {"edit", "--json", take},
        {"play", "--from", "1"},
        {"mix", take, movie},
        {"mix", take, stem},
        {"mix", take, overdubMovie()},
        {"mix", take, QDir(cache()).filePath("mix.caf")},
        {"mix", take, link},
        {"mix", take, home->filePath("mix.mp3")},
        {"export", take, movie},
        {"export", take, QDir(take).filePath("overdubs/out.mp4")},
        {"export", take, home->filePath("cache/org.reelbox.Reelbox/out.mp4")},
        {"export", take, home->filePath("x.mp4"), "--format", "mov"},
        {"waveform", stem, "--start", "1e12"},
        {"waveform", stem, "--start", "-86401"},
        {"waveform", stem, "--start", "nan"},
        {"waveform", stem, "--start", "inf"},
        {"filmstrip", movie, "--count", "1001", "--height", "20", "--out", home->filePath("s")},
    };
    for (const QStringList& args : calls) {
        const Result r = test::runCli(args);
        const std::string call = args.join(' ').toStdString();
        EXPECT_EQ(r.status, 2) << call << "\n" << r.err.toStdString();
        EXPECT_TRUE(r.err.contains("Usage:")) << call;
        EXPECT_TRUE(r.out.isEmpty()) << call;
    }
    EXPECT_EQ(digest(movie), before);
    EXPECT_EQ(digest(stem), stemBefore);
    EXPECT_FALSE(QFileInfo::exists(QDir(take).filePath("overdubs/out.mp4")));
    EXPECT_FALSE(QFileInfo::exists(home->filePath("s/frame-00.png")));
    // A day either way is still a start.
    EXPECT_EQ(test::runCli({"waveform", stem, "--start", "-86400"}).status, 0);
}

// Before any work where the destination is at fault, and leaving nothing behind.
TEST_F(CliMediaTest, FailuresEndWithOneAndTheReason) {
    writeFile(home->filePath("not-a-movie.mov"), "not a movie");
    QDir().mkpath(home->filePath("broken"));
    writeFile(home->filePath("broken/take.json"), R"({"duration": 3})");
    struct Case {
        QStringList call;
        QString reason;
    };
    const QList<Case> cases = {
        {{"info", home->filePath("broken")}, "unreadable"},
        {{"info", home->filePath("missing")}, "No such file"},
        {{"stems", home->filePath("not-a-movie.mov"), "--cache", home->filePath("c")},
         "Couldn't read the audio: "},
        {{"waveform", home->filePath("missing.caf")}, "missing.caf"},
        {{"mix", home->filePath("nowhere"), home->filePath("m.caf")}, "nowhere"},
        {{"export", home->filePath("nowhere"), home->filePath("x.mp4")}, "nowhere"},
        {{"filmstrip", home->filePath("missing.mov"), "--count", "3", "--height", "20", "--out",
          home->filePath("s")},
         "missing.mov"},
        {{"export", take, home->path()}, home->path() + "”: it is a folder"},
        {{"mix", take, home->filePath("no/such/folder/out.wav")},
         home->filePath("no/such/folder/out.wav")},
        // The take folder goes with the failure.
        {{"synth-take", "--root", home->filePath("other"), "--seconds", "1", "--channels",
          "2000000000", "--size", "64x36"},
         "at most 1024 sound channels"},
    };
    for (const Case& c : cases) {
        const Result r = test::runCli(c.call);
        const std::string call = c.call.join(' ').toStdString();
        EXPECT_EQ(r.status, 1) << call;
        EXPECT_TRUE(r.out.isEmpty()) << call;
        EXPECT_EQ(r.err.trimmed().count('\n'), 0) << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.reason)) << r.err.toStdString();
    }
    EXPECT_TRUE(QDir(home->filePath("other")).isEmpty());
    EXPECT_FALSE(QFileInfo::exists(home->filePath("x.mp4")));
    EXPECT_FALSE(QDir(home->filePath("s")).exists() && !QDir(home->filePath("s")).isEmpty());
    EXPECT_TRUE(filesUnder(home->path(), {"*.partial", "mix-*.caf"}).isEmpty());
}

// Exports and frames in a square aspect: `frame` shows the square canvas, `--live` the preview.
TEST_F(CliMediaTest, ExportsAndFrames) {
    const QString json = QDir(take).filePath("take.json");
    const QByteArray original = test::readFile(json);
    TakeInfo info = decodeTakeInfo(original);
    info.exportSettings.aspect = ExportSettings::Aspect::square;
    writeFile(json, encodeTakeInfo(info));
    const Result exported = test::runCli({"export", take, home->filePath("out.mp4")});
    for (const QStringList& call :
         {QStringList{"export", take, home->filePath("out.m4a"), "--format", "audio"},
          {"frame", take, "--at", "0.5", home->filePath("f.png")},
          {"frame", take, "--at", "0.5", home->filePath("l.png"), "--live"}})
        test::cliOutput(call);
    writeFile(json, original);
    ASSERT_EQ(exported.status, 0) << exported.err.toStdString();
    EXPECT_EQ(exported.out.trimmed(), home->filePath("out.mp4"));
    EXPECT_TRUE(exported.err.contains("Exporting 100%")) << exported.err.toStdString();
    EXPECT_GT(QFileInfo(home->filePath("out.mp4")).size(), 1000);
    EXPECT_GT(QFileInfo(home->filePath("out.m4a")).size(), 1000);
    EXPECT_EQ(QImage(home->filePath("f.png")).size(), QSize(180, 180));
    EXPECT_EQ(QImage(home->filePath("l.png")).size(), QSize(320, 180));
}

// The last value of an edit line runs to its end; a format takes the short names of
// `export --format` too. A line without its value is a wrong call and changes nothing.
TEST_F(CliMediaTest, EditValuesRunToTheEndOfTheLine) {
    // A value `info` prints, by its path, as "tracks/0/name".
    const auto printed = [](const QString& path) {
        QJsonValue value =
            QJsonDocument::fromJson(test::cliOutput({"info", take}).toUtf8()).object();
        for (const QString& key : path.split('/'))
            value = value.isArray() ? value[key.toInt()] : value[key];
        return value.toString();
    };
    const QByteArray track = "track " + printed("tracks/0/id").toUtf8();
    const struct {
        QByteArray line;
        const char* path;
        const char* stored;
    } cases[] = {
        {track + " name Lead  Vocal", "tracks/0/name", "Lead Vocal"},
        {track + " reverbRoom Large Hall", "tracks/0/effects/reverbRoom", "Large Hall"},
        {"export-settings format audio", "export/format", "Audio only \u00B7 M4A"},
        {"export-settings format MP4 \u00B7 HEVC", "export/format", "MP4 \u00B7 HEVC"},
        {"export-settings format h264", "export/format", "MP4 \u00B7 H.264"},
        {"export-settings layout Picture in Picture", "export/layout", "Picture in Picture"},
    };
    for (const auto& c : cases) {
        const Result edited = test::runCli({"edit", take, "-"}, {.input = c.line + "\n"});
        ASSERT_EQ(edited.status, 0) << c.line.toStdString() << ": " << edited.err.toStdString();
        EXPECT_EQ(printed(c.path), QString::fromUtf8(c.stored)) << c.line.toStdString();
    }
    for (const QByteArray& wrong : {track + " name", QByteArray("export-settings format mov"),
                                    QByteArray("export-settings format")})
        EXPECT_EQ(test::runCli({"edit", take, "-"}, {.input = wrong + "\n"}).status, 2)
            << wrong.toStdString();
    EXPECT_EQ(printed("tracks/0/name"), "Lead Vocal");
    EXPECT_EQ(printed("export/format"), QString::fromUtf8("MP4 \u00B7 H.264"));
    removeEditorMixes();
}

TEST_F(CliMediaTest, MediaCommandsPrintWhatTheyMade) {
    ASSERT_EQ(stems.size(), 2);
    const QString waveform = test::cliOutput({"waveform", stem, "--json", "--start", "0.5"});
    EXPECT_TRUE(waveform.startsWith(R"({"bucketDuration": 0.01, "peaks": [0, 0, )"));
    // 50 leading zeros and 300 buckets: one comma after the bucket duration, 349 between peaks.
    EXPECT_EQ(waveform.count(QLatin1Char(',')), 350);

    const QString strip =
        test::cliOutput({"filmstrip", QDir(take).filePath("take.mov"), "--count", "3", "--height",
                         "20", "--out", home->filePath("strip")});
    EXPECT_EQ(strip.split('\n').size(), 3);
    EXPECT_TRUE(QFileInfo::exists(home->filePath("strip/frame-02.png")));
    EXPECT_EQ(test::cliOutput({"thumbnail", take}), QDir(take).filePath("thumbnail.jpg"));
}

// Replacing an older file once complete; the stems it needs are made again in the cache.
TEST_F(CliMediaTest, MixFollowsTheExtension) {
    for (const QString& made : stems)
        QFile::remove(made);
    for (const auto& [name, magic] :
         {std::pair{"m.wav", QByteArray("RIFF")}, std::pair{"M.CAF", QByteArray("caff")}}) {
        const QString path = home->filePath(name);
        writeFile(path, "older");
        const Result r = test::runCli({"mix", take, path});
        ASSERT_EQ(r.status, 0) << r.err.toStdString();
        EXPECT_TRUE(r.out.contains(R"("frames": 144000})")) << r.out.toStdString();
        EXPECT_EQ(test::readFile(path).left(4), magic) << name;
        EXPECT_GT(QFileInfo(path).size(), 3 * 48000 * 8) << name;
    }
    EXPECT_TRUE(filesUnder(home->path(), {"*.partial", "mix-*.caf"}).isEmpty());
    EXPECT_FALSE(QDir(cache()).entryList({"*.caf"}).isEmpty());
}

// The old file as it was, nothing temporary left, and the signal's exit status.
TEST_F(CliMediaTest, SignalsStopAnExportAndCleanUp) {
    const QString destination = home->filePath("signalled.mp4");
    for (const auto& [number, status] : {std::pair{SIGINT, 130}, std::pair{SIGTERM, 143}}) {
        writeFile(destination, "the user's file");
        EXPECT_EQ(
            interrupted({"export", take, destination, "--format", "hevc"}, "Exporting", number),
            status);
        EXPECT_EQ(test::readFile(destination), "the user's file");
        EXPECT_TRUE(filesUnder(home->path(), {"*.partial", "mix-*.caf"}).isEmpty());
    }
}

// An export that failed or didn't run; saves that failed because the take folder went away.
TEST_F(CliMediaTest, EditEndsWithOneWhenItsWorkFailed) {
    struct Case {
        QByteArray script;
        QString reason;
    };
    const QString out = home->filePath("edit-out.mp4");
    const QList<Case> cases = {
        {"export " + home->filePath("no/such/folder/x.mp4").toUtf8() + "\n", "no/such/folder"},
        {"export " + out.toUtf8() + "\nexport " + out.toUtf8() + "\n", "didn't run"},
    };
    for (const Case& c : cases) {
        const Result r = test::runCli({"edit", take, "-"}, {.input = c.script});
        EXPECT_EQ(r.status, 1) << c.script.toStdString() << r.err.toStdString();
        EXPECT_TRUE(r.err.contains(c.reason)) << r.err.toStdString();
    }

    // The take folder is deleted while the editor has it open.
    const QString doomed = test::cliOutput(
        {"synth-take", "--root", home->filePath("doomed"), "--seconds", "1", "--size", "64x36"});
    const QString id = decodeTakeInfo(test::readFile(QDir(doomed).filePath("take.json")))
                           .tracks.at(0)
                           .id.toString(QUuid::WithoutBraces);
    QProcess process;
    process.start(QStringLiteral(REELBOX_CLI), {"edit", doomed, "-"});
    process.write("settle\nwait 3000\ntrack " + id.toUtf8() + " name Gone\nsettle\n");
    process.closeWriteChannel();
    QByteArray printed;
    while (!printed.contains('\n') && process.state() != QProcess::NotRunning) {
        process.waitForReadyRead(10000);
        printed += process.readAllStandardOutput();
    }
    ASSERT_TRUE(QDir(doomed).removeRecursively());
    ASSERT_TRUE(process.waitForFinished(60000));
    const QString err = QString::fromUtf8(process.readAllStandardError());
    EXPECT_EQ(process.exitCode(), 1) << err.toStdString();
    EXPECT_TRUE(err.contains("Couldn't save the take: ")) << err.toStdString();
    removeEditorMixes();
}

// A start past the end is a wrong call, a missing output a failure; SIGINT leaves nothing.
TEST_F(CliMediaTest, PlayRefusesWhatItCantDoAndCleansUpWhenStopped) {
    for (const char* from : {"3", "60"}) {
        const Result late = test::runCli({"play", take, "--from", from});
        EXPECT_EQ(late.status, 2) << from << late.err.toStdString();
        EXPECT_TRUE(late.err.contains("past the end")) << late.err.toStdString();
    }
    const Result nowhere = test::runCli({"play", take, "--output", "no-such-output"});
    EXPECT_EQ(nowhere.status, 1) << nowhere.err.toStdString();
    EXPECT_TRUE(nowhere.err.contains("no-such-output")) << nowhere.err.toStdString();

    const QString recording = home->filePath("played.caf");
    const QString frames = home->filePath("played-frames");
    EXPECT_EQ(interrupted({"play", take, "--record-output", recording, "--frames", frames},
                          "playhead 0.", SIGINT),
              130);
    EXPECT_FALSE(QFileInfo::exists(recording));
    EXPECT_FALSE(QFileInfo::exists(frames));
    EXPECT_TRUE(filesUnder(home->path(), {"*.partial", "*.partial.*"}).isEmpty());
    removeEditorMixes();
}
