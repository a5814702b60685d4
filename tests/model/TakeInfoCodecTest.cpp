#include "model/TakeInfoCodec.h"
#include "support/TestSupport.h"

#include <cmath>
#include <functional>
#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

using namespace reelbox;
using reelbox::test::fullTakeInfo;
using reelbox::test::utc;
using Json = nlohmann::json;

namespace {

// A current-form record with the mandatory keys and one track, as text to vary in tests.
QByteArray minimalWith(const QByteArray& extra) {
    QByteArray json = R"({"name": "Take", "createdAt": "2024-03-01T17:05:09Z", "duration": 10)";
    if (!extra.isEmpty())
        json += ", " + extra;
    return json + "}";
}

const QByteArray oneTrack = R"("tracks": [{"id": "11111111-2222-4333-8444-555555555555",
    "name": "Input 1", "source": {"input": {"channel": 0}}, "muted": false, "solo": false,
    "volumeDB": -2, "pan": 0.5, "effects": {}}])";

const QByteArray goodOverdub = R"({"id": "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D",
    "fileName": "A.mov", "createdAt": "2024-03-02T08:00:01Z", "start": 1, "nudge": 0,
    "duration": 3, "hasVideo": true, "showVideo": true})";

// The three leading keys with their values as written; an empty value leaves the key out.
QByteArray leading(const char* name, const char* createdAt, const char* duration) {
    QByteArrayList keys;
    for (const auto& [key, value] : {std::pair{"name", name}, std::pair{"createdAt", createdAt},
                                     std::pair{"duration", duration}})
        if (*value)
            keys << QByteArray("\"") + key + "\": " + value;
    return "{" + keys.join(", ") + "}";
}

// A record with `extra` beside the mandatory keys, and what must have been read from it.
struct Case {
    const char* name;
    QByteArray extra;
    std::function<void(const TakeInfo&)> check;
};

// Each case reads without an error, and whatever was kept saves and reads back as itself.
void expectReads(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TakeInfo info;
        ASSERT_NO_THROW(info = decodeTakeInfo(minimalWith(c.extra)));
        EXPECT_EQ(info.name, QStringLiteral("Take"));
        c.check(info);
        EXPECT_TRUE(std::isfinite(info.timelineDuration()));
        EXPECT_EQ(decodeTakeInfo(encodeTakeInfo(info)), info);
    }
}

} // namespace

TEST(TakeInfoCodec, RoundTripAndTheFileFormat) {
    const TakeInfo info = fullTakeInfo();
    const QByteArray json = encodeTakeInfo(info);
    EXPECT_EQ(decodeTakeInfo(json), info);
    const QString text = QString::fromUtf8(json);

    // Pretty-printed, keys sorted at the top level.
    EXPECT_TRUE(json.contains('\n'));
    QStringList keys;
    const auto inFileOrder = nlohmann::ordered_json::parse(json.toStdString());
    for (const auto& item : inFileOrder.items())
        keys << QString::fromStdString(item.key());
    EXPECT_EQ(keys, (QStringList{"audioDeviceName", "cameraName", "createdAt", "duration", "edit",
                                 "export", "mainRemoved", "master", "name", "overdubs",
                                 "showMainVideo", "tracks"}));

    // Upper-case UUIDs, UTC dates with whole seconds, the middle dot in UTF-8.
    EXPECT_TRUE(text.contains("\"11111111-2222-4333-8444-555555555555\""));
    EXPECT_TRUE(text.contains("\"0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D\""));
    EXPECT_TRUE(text.contains("\"2024-03-01T17:05:09Z\""));
    EXPECT_TRUE(json.contains("MP4 \xC2\xB7 HEVC"));
    EXPECT_TRUE(text.contains("\"audio.11111111-2222-4333-8444-555555555555\""));
    // Whole numbers carry no fraction.
    EXPECT_TRUE(text.contains("\"midFrequency\": 1200,"));
    EXPECT_FALSE(text.contains("1200.0"));
    EXPECT_FALSE(text.contains("null")); // nor the older keys: TheNextSaveWritesTheCurrentForm

    // Unset optionals are left out, the rest is always written; a date in local time is
    // written in UTC without its fraction.
    TakeInfo bare;
    bare.name = QStringLiteral("Bare");
    bare.createdAt = QDateTime(QDate(2024, 3, 1), QTime(18, 5, 9, 750), Qt::OffsetFromUTC, 3600);
    EXPECT_TRUE(encodeTakeInfo(bare).contains("\"2024-03-01T17:05:09Z\""));
    const Json object = Json::parse(encodeTakeInfo(bare).toStdString());
    EXPECT_FALSE(object.contains("cameraName"));
    EXPECT_FALSE(object.contains("audioDeviceName"));
    EXPECT_FALSE(object["edit"].contains("outPoint"));
    for (const char* key :
         {"tracks", "overdubs", "showMainVideo", "mainRemoved", "master", "edit", "export"})
        EXPECT_TRUE(object.contains(key)) << key;
    for (const char* key : {"inPoint", "splits", "cuts", "hidden", "laneSplits"})
        EXPECT_TRUE(object["edit"].contains(key)) << key;
    for (const char* key : {"format", "aspect", "layout", "positions", "mirror"})
        EXPECT_TRUE(object["export"].contains(key)) << key;

    // Numbers that are not finite fail the save.
    TakeInfo bad = fullTakeInfo();
    bad.tracks[0].volumeDB = std::numeric_limits<double>::infinity();
    EXPECT_THROW(encodeTakeInfo(bad), Error);
    bad = fullTakeInfo();
    bad.edit.cuts.push_back({std::nan(""), 1});
    EXPECT_THROW(encodeTakeInfo(bad), Error);
}

TEST(TakeInfoCodec, TheFirstFiveKeysMakeTheRecordUnreadable) {
    const char* date = R"("2024-03-01T17:05:09Z")";
    EXPECT_EQ(decodeTakeInfo(leading(R"("T")", R"("2024-03-01T18:05:09+01:00")", "1")).createdAt,
              utc(2024, 3, 1, 17, 5, 9));
    EXPECT_EQ(decodeTakeInfo(minimalWith(R"("cameraName": null)")).cameraName, std::nullopt);
    for (const QByteArray& bad :
         {leading("", date, "1"), leading(R"("T")", "", "1"), leading(R"("T")", date, ""),
          leading("null", date, "1"), leading("5", date, "1"),
          leading(R"("T")", R"("2024-03-01 17:05:09")", "1"),
          leading(R"("T")", R"("2024-03-01T17:05:09.5Z")", "1"),
          leading(R"("T")", R"("2024-02-30T17:05:09Z")", "1"), leading(R"("T")", date, R"("1")"),
          minimalWith(R"("cameraName": 3)"), minimalWith(R"("audioDeviceName": false)"),
          QByteArray("[]"), QByteArray("not json"), QByteArray()})
        EXPECT_THROW(decodeTakeInfo(bad), DecodeError) << bad.toStdString();
}

// A damaged later part falls back to its default (a damaged track or effects make the whole
// "tracks" fail and the legacy path run); what is intact is read.
TEST(TakeInfoCodec, EachLaterPartReadsOrFallsBackOnItsOwn) {
    QByteArray withoutNudge = goodOverdub;
    withoutNudge.replace("\"nudge\": 0,", "");
    QByteArray withDevice = goodOverdub;
    withDevice.replace("\"hasVideo\"", "\"audioDeviceID\": \"hw:2\", \"hasVideo\"");
    const auto track = [](const char* from, const char* to) {
        return QByteArray(oneTrack).replace(from, to);
    };
    expectReads({
        {"damaged later keys", oneTrack + R"(, "overdubs": 7, "showMainVideo": "yes",
             "mainRemoved": 1, "master": {"volumeDB": 3}, "edit": {"inPoint": "x"},
             "export": [1, 2], "unknownKey": {"anything": true})",
         [](const TakeInfo& i) {
             EXPECT_EQ(i.tracks.size(), 1u);
             EXPECT_TRUE(i.overdubs.empty());
             EXPECT_TRUE(i.showMainVideo);
             EXPECT_FALSE(i.mainRemoved);
             EXPECT_EQ(i.master, MasterSettings());
             EXPECT_EQ(i.edit, EditState());
             EXPECT_EQ(i.exportSettings, ExportSettings());
         }},
        {"nulls", R"("showMainVideo": null, "edit": null)",
         [](const TakeInfo& i) {
             EXPECT_TRUE(i.showMainVideo);
             EXPECT_EQ(i.edit, EditState());
         }},
        {"an empty track array is used and reads master", R"("tracks": [],
             "master": {"volumeDB": -4, "normalize": false},
             "channels": [{"enabled": true, "gainDB": 0, "pan": 0}], "effects": {"volumeDB": 9})",
         [](const TakeInfo& i) {
             EXPECT_TRUE(i.tracks.empty());
             EXPECT_EQ(i.master, (MasterSettings{-4, false}));
         }},
        {"an overdub with its optional audio device", "\"overdubs\": [" + withDevice + "]",
         [](const TakeInfo& i) {
             ASSERT_EQ(i.overdubs.size(), 1u);
             EXPECT_EQ(i.overdubs[0].fileName, QStringLiteral("A.mov"));
             EXPECT_EQ(i.overdubs[0].audioDeviceID, QStringLiteral("hw:2"));
         }},
        {"one bad overdub empties the list",
         "\"overdubs\": [" + goodOverdub + ", " + withoutNudge + "]",
         [](const TakeInfo& i) { EXPECT_TRUE(i.overdubs.empty()); }},
        {"a source of the other case, with a key beside it",
         track(R"({"input": {"channel": 0}})",
               R"({"overdub": {"id": "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", "channel": 2},
                   "extra": 1})"),
         [](const TakeInfo& i) {
             ASSERT_EQ(i.tracks.size(), 1u);
             EXPECT_EQ(i.tracks[0].source.kind, Track::Source::Kind::overdub);
             EXPECT_EQ(i.tracks[0].source.channel, 2);
         }},
        {"effects keys are optional",
         track(R"("effects": {})", R"("effects": {"eqEnabled": true, "midFrequency": 2500,
                                                  "reverbRoom": "Cathedral"})"),
         [](const TakeInfo& i) {
             ASSERT_EQ(i.tracks.size(), 1u);
             EXPECT_EQ(i.tracks[0].effects, (TrackEffects{.eqEnabled = true,
                                                          .midFrequency = 2500,
                                                          .reverbRoom = ReverbRoom::cathedral}));
         }},
        {"export with an unknown format", R"("export": {"format": "MP4", "aspect": "1:1",
             "positions": {"video.main": {"x": 0.5, "y": 0.5}}})",
         [](const TakeInfo& i) { EXPECT_EQ(i.exportSettings, ExportSettings()); }},
        {"export with a bad position",
         R"("export": {"aspect": "9:16", "positions": {"video.main": {"x": 1}}})",
         [](const TakeInfo& i) { EXPECT_EQ(i.exportSettings, ExportSettings()); }},
        {"export keys are optional",
         R"("export": {"aspect": "9:16", "layout": "Main Only", "mirror": true})",
         [](const TakeInfo& i) {
             EXPECT_EQ(i.exportSettings.aspect, ExportSettings::Aspect::portrait);
             EXPECT_EQ(i.exportSettings.layout, ExportSettings::VideoLayout::main);
             EXPECT_TRUE(i.exportSettings.mirror);
             EXPECT_EQ(i.exportSettings.format, ExportSettings::Format::h264);
         }},
        {"edit keys are optional",
         R"("edit": {"outPoint": 8, "hidden": {"audio.A": [{"start": 1, "end": 2}]}})",
         [](const TakeInfo& i) {
             EXPECT_EQ(i.edit.inPoint, 0);
             EXPECT_EQ(i.edit.outPoint, 8);
             EXPECT_TRUE(i.edit.splits.empty());
             EXPECT_EQ(i.edit.hidden.at("audio.A"), (SpanList{{1, 2}}));
         }},
        {"edit with a bad span", R"("edit": {"outPoint": 8, "cuts": [{"start": 1}]})",
         [](const TakeInfo& i) { EXPECT_EQ(i.edit, EditState()); }},
        {"damaged legacy parts", R"("tracks": null, "channels": [{"enabled": true, "gainDB": 0}],
             "effects": {"reverbRoom": "Garage", "volumeDB": 4})",
         [](const TakeInfo& i) {
             EXPECT_TRUE(i.tracks.empty());
             EXPECT_EQ(i.master, MasterSettings());
         }},
    });

    // A track without exactly one source case, or with a wrong effect, fails, and with it the
    // tracks (legacy path, no channels).
    for (const QByteArray& bad :
         {track(R"({"input": {"channel": 0}})", "{}"),
          track(R"({"input": {"channel": 0}})", R"({"other": {}})"),
          track(R"("channel": 0})", R"("channel": 0}, "overdub": {"id":
              "0A1B2C3D-4E5F-4A6B-8C7D-9E0F1A2B3C4D", "channel": 0})"),
          track(R"({"channel": 0})", "{}"), track(R"("channel": 0)", R"("channel": 1.5)"),
          track(R"("effects": {})", R"("effects": {"reverbRoom": "Bathroom"})"),
          track(R"("effects": {})", R"("effects": {"lowGain": "loud"})")})
        EXPECT_TRUE(decodeTakeInfo(minimalWith(bad)).tracks.empty()) << bad.toStdString();

    // Overdub file names must stay inside the overdubs folder.
    for (const char* name : {"", ".", "..", "/etc/passwd", "../take.mov", "sub/x.mov",
                             "..\\\\x.mov", "a\\\\b.mov", "..take.mov"}) {
        QByteArray overdub = goodOverdub;
        overdub.replace("\"A.mov\"", QByteArray("\"") + name + "\"");
        const TakeInfo info = decodeTakeInfo(minimalWith("\"overdubs\": [" + overdub + "]"));
        EXPECT_EQ(info.overdubs.size(), QByteArray(name) == "..take.mov" ? 1u : 0u) << name;
    }
}

TEST(TakeInfoCodec, HostileNumbersFailOnlyThePartHoldingThem) {
    QByteArray overflowingOverdub = goodOverdub;
    overflowingOverdub.replace("\"start\": 1", "\"start\": 1e308")
        .replace("\"duration\": 3", "\"duration\": 1e308");
    expectReads({
        {"master volume beyond a double", oneTrack + R"(, "master": {"volumeDB": 1e400,
             "normalize": false})",
         [](const TakeInfo& i) {
             EXPECT_EQ(i.tracks.size(), 1u);
             EXPECT_EQ(i.master, MasterSettings());
         }},
        {"unknown key beyond a double", oneTrack + R"(, "later": [-1E+400, {"x": 2e999}])",
         [](const TakeInfo& i) { EXPECT_EQ(i.tracks.size(), 1u); }},
        {"edit beyond a double", R"("edit": {"inPoint": 3, "cuts": [{"start": 0, "end": 1e400}]})",
         [](const TakeInfo& i) { EXPECT_EQ(i.edit, EditState()); }},
        {"digits in strings stay text", R"("cameraName": "1e400")",
         [](const TakeInfo& i) { EXPECT_EQ(i.cameraName, QStringLiteral("1e400")); }},
        {"negative channel", QByteArray(oneTrack).replace("\"channel\": 0", "\"channel\": -1"),
         [](const TakeInfo& i) {
             ASSERT_EQ(i.tracks.size(), 1u);
             EXPECT_EQ(i.tracks[0].source, Track::Source::input(-1));
         }},
        {"channel beyond 32 bits",
         QByteArray(oneTrack).replace("\"channel\": 0", "\"channel\": 4294967296"),
         [](const TakeInfo& i) {
             ASSERT_EQ(i.tracks.size(), 1u);
             EXPECT_EQ(i.tracks[0].source.channel, 4294967296LL);
         }},
        {"overdub times overflow", "\"overdubs\": [" + overflowingOverdub + "]",
         [](const TakeInfo& i) { EXPECT_TRUE(i.overdubs.empty()); }},
    });
    // A required key that overflows still makes the record unreadable.
    EXPECT_THROW(decodeTakeInfo(R"({"name": "T", "createdAt": "2024-03-01T17:05:09Z",
                                    "duration": 1e400})"),
                 DecodeError);
}

TEST(TakeInfoCodec, FramingOfOlderFilesBecomesTheMainPosition) {
    const auto positions = [](const QByteArray& exportObject) {
        return decodeTakeInfo(minimalWith("\"export\": " + exportObject)).exportSettings.positions;
    };
    using Positions = std::map<QString, ExportSettings::Position>;
    EXPECT_EQ(positions(R"({"framing": 0.25, "positions": {}})"),
              (Positions{{"video.main", {0.25, 0.25}}}));
    EXPECT_EQ(positions(R"({"framing": -0.5})"), (Positions{{"video.main", {-0.5, -0.5}}}));
    EXPECT_EQ(positions(R"({"framing": 0, "positions": {}})"), Positions{});
    EXPECT_EQ(positions(R"({"framing": 0.25, "positions": {"video.X": {"x": 1, "y": 0}}})"),
              (Positions{{"video.X", {1, 0}}}));
    // A framing that isn't a number damages the export object.
    EXPECT_EQ(positions(R"({"framing": "wide", "positions": {"video.X": {"x": 1, "y": 0}}})"),
              Positions{});
}

// ---- older files --------------------------------------------------------------------------

TEST(TakeInfoCodecLegacy, ChannelsAndEffectsBecomeTracksAndMaster) {
    const TakeInfo info = decodeTakeInfo(minimalWith(R"(
        "channels": [{"enabled": false, "gainDB": 0, "pan": 0},
                     {"enabled": true, "gainDB": -3, "pan": 0.8},
                     {"enabled": true, "gainDB": 2, "pan": -1}],
        "effects": {"eqEnabled": true, "lowGain": 2, "compressorEnabled": true,
                    "compression": 0.9, "reverbEnabled": true, "reverbMix": 0.6,
                    "reverbRoom": "Plate", "volumeDB": -5, "normalize": false},
        "master": {"volumeDB": 12, "normalize": true})"));
    ASSERT_EQ(info.tracks.size(), 2u);
    EXPECT_EQ(info.tracks[0].name, QStringLiteral("Input 2"));
    EXPECT_EQ(info.tracks[0].source, Track::Source::input(1));
    EXPECT_EQ(info.tracks[0].volumeDB, -3);
    EXPECT_EQ(info.tracks[0].pan, 0);
    EXPECT_NE(info.tracks[0].id, info.tracks[1].id);

    const TrackEffects expected{.eqEnabled = true,
                                .lowGain = 2,
                                .compressorEnabled = true,
                                .compression = 0.9,
                                .reverbSend = 0.6,
                                .reverbRoom = ReverbRoom::plate};
    EXPECT_EQ(info.tracks[0].effects, expected);
    EXPECT_EQ(info.tracks[1].effects, expected);
    // "master" is ignored on this path.
    EXPECT_EQ(info.master, (MasterSettings{-5, false}));
}

TEST(TakeInfoCodecLegacy, ReverbSendFollowsReverbEnabled) {
    const auto send = [](const QByteArray& effects) {
        const TakeInfo info = decodeTakeInfo(minimalWith(
            R"("channels": [{"enabled": true, "gainDB": 0, "pan": 0}], "effects": )" + effects));
        return info.tracks.at(0).effects.reverbSend;
    };
    EXPECT_DOUBLE_EQ(send(R"({"reverbEnabled": true})"), 0.2);
    EXPECT_DOUBLE_EQ(send(R"({"reverbEnabled": true, "reverbMix": 0.45})"), 0.45);
    EXPECT_DOUBLE_EQ(send(R"({"reverbMix": 0.45})"), 0);
    EXPECT_DOUBLE_EQ(send(R"({"reverbEnabled": false, "reverbMix": 0.45})"), 0);
}

TEST(TakeInfoCodecLegacy, ATrackWithoutEffectsSendsTheFileDownTheLegacyPath) {
    QByteArray tracks = oneTrack;
    tracks.replace(R"(, "effects": {})", "");
    const TakeInfo noChannels = decodeTakeInfo(minimalWith(tracks + R"(,
        "master": {"volumeDB": 7, "normalize": false}, "effects": {"volumeDB": -2})"));
    EXPECT_TRUE(noChannels.tracks.empty());
    EXPECT_EQ(noChannels.master, (MasterSettings{-2, true}));

    const TakeInfo oneChannel = decodeTakeInfo(minimalWith(tracks + R"(,
        "channels": [{"enabled": true, "gainDB": 1.5, "pan": 0}])"));
    ASSERT_EQ(oneChannel.tracks.size(), 1u);
    EXPECT_EQ(oneChannel.tracks[0].name, QStringLiteral("Sound"));
    EXPECT_EQ(oneChannel.tracks[0].volumeDB, 1.5);
    EXPECT_EQ(oneChannel.tracks[0].effects, TrackEffects());
    EXPECT_EQ(oneChannel.master, MasterSettings());
}

TEST(TakeInfoCodecLegacy, TheNextSaveWritesTheCurrentForm) {
    const QByteArray legacy = R"({
  "channels" : [ { "enabled" : true, "gainDB" : -6, "pan" : 0 } ],
  "createdAt" : "2023-11-20T09:30:00Z",
  "duration" : 42.5,
  "edit" : { "inPoint" : 1, "splits" : [ 10 ], "cuts" : [ ] },
  "effects" : { "eqEnabled" : true, "normalize" : false, "volumeDB" : -1.5 },
  "export" : { "format" : "Audio only · M4A", "framing" : 0.3 },
  "name" : "Old take"
})";
    const TakeInfo read = decodeTakeInfo(legacy);
    const QByteArray saved = encodeTakeInfo(read);
    const Json object = Json::parse(saved.toStdString());
    EXPECT_FALSE(object.contains("channels"));
    EXPECT_FALSE(object.contains("effects"));
    EXPECT_FALSE(object["export"].contains("framing"));
    // What was read from the older keys (the tests above) is kept: the file reads back as it.
    EXPECT_EQ(decodeTakeInfo(saved), read);
}

TEST(TakeInfoCodec, ChannelMixListsRoundTripAndRequireEveryKey) {
    const std::vector<ChannelMix> channels{{true, -3, 0.5}, {false, 0, -1}};
    EXPECT_EQ(decodeChannelMixes(encodeChannelMixes(channels)), channels);
    EXPECT_THROW(decodeChannelMixes(R"([{"enabled": true, "gainDB": 0}])"), DecodeError);
    EXPECT_THROW(decodeChannelMixes(R"({"enabled": true})"), DecodeError);
}
