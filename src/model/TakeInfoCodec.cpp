#include "model/TakeInfoCodec.h"

#include "model/JsonDate.h"
#include "model/UuidString.h"

#include <cmath>
#include <cstdlib>
#include <limits>
#include <nlohmann/json.hpp>

namespace reelbox {

using Json = nlohmann::json; // std::map underneath, so keys come out sorted

namespace {

// ---- writing ---------------------------------------------------------------

Json number(double value) {
    if (!std::isfinite(value))
        throw Error(
            QStringLiteral("The take can't be saved: it holds a number that isn't finite."));
    // Whole numbers are written without a fraction (800, not 800.0).
    if (value == std::trunc(value) && std::fabs(value) < 9.0e15)
        return Json(static_cast<std::int64_t>(value));
    return Json(value);
}

Json string(const QString& text) {
    return Json(text.toStdString());
}

Json spans(const SpanList& list) {
    Json array = Json::array();
    for (const TimeSpan& s : list)
        array.push_back({{"start", number(s.start)}, {"end", number(s.end)}});
    return array;
}

Json numbers(const std::vector<double>& list) {
    Json array = Json::array();
    for (double v : list)
        array.push_back(number(v));
    return array;
}

Json effectsJson(const TrackEffects& e) {
    return {{"eqEnabled", e.eqEnabled},
            {"lowCut", e.lowCut},
            {"lowGain", number(e.lowGain)},
            {"midGain", number(e.midGain)},
            {"midFrequency", number(e.midFrequency)},
            {"highGain", number(e.highGain)},
            {"compressorEnabled", e.compressorEnabled},
            {"compression", number(e.compression)},
            {"reverbSend", number(e.reverbSend)},
            {"reverbRoom", string(rawString(e.reverbRoom))}};
}

Json sourceJson(const Track::Source& source) {
    if (source.isInput())
        return {{"input", {{"channel", source.channel}}}};
    return {
        {"overdub", {{"id", string(uuidString(source.overdubId))}, {"channel", source.channel}}}};
}

Json trackJson(const Track& t) {
    return {{"id", string(uuidString(t.id))},
            {"name", string(t.name)},
            {"source", sourceJson(t.source)},
            {"muted", t.muted},
            {"solo", t.solo},
            {"volumeDB", number(t.volumeDB)},
            {"pan", number(t.pan)},
            {"effects", effectsJson(t.effects)}};
}

Json overdubJson(const Overdub& o) {
    Json j = {{"id", string(uuidString(o.id))},
              {"fileName", string(o.fileName)},
              {"createdAt", string(formatJsonDate(o.createdAt))},
              {"start", number(o.start)},
              {"nudge", number(o.nudge)},
              {"duration", number(o.duration)},
              {"hasVideo", o.hasVideo},
              {"showVideo", o.showVideo}};
    if (o.audioDeviceID)
        j["audioDeviceID"] = string(*o.audioDeviceID);
    return j;
}

Json editJson(const EditState& e) {
    Json j = {
        {"inPoint", number(e.inPoint)}, {"splits", numbers(e.splits)}, {"cuts", spans(e.cuts)}};
    if (e.outPoint)
        j["outPoint"] = number(*e.outPoint);
    Json hidden = Json::object();
    for (const auto& [key, list] : e.hidden)
        hidden[key.toStdString()] = spans(list);
    j["hidden"] = hidden;
    Json laneSplits = Json::object();
    for (const auto& [key, list] : e.laneSplits)
        laneSplits[key.toStdString()] = numbers(list);
    j["laneSplits"] = laneSplits;
    return j;
}

Json exportJson(const ExportSettings& e) {
    Json positions = Json::object();
    for (const auto& [key, p] : e.positions)
        positions[key.toStdString()] = {{"x", number(p.x)}, {"y", number(p.y)}};
    return {{"format", string(rawString(e.format))},
            {"aspect", string(rawString(e.aspect))},
            {"layout", string(rawString(e.layout))},
            {"positions", positions},
            {"mirror", e.mirror}};
}

Json channelMixJson(const ChannelMix& c) {
    return {{"enabled", c.enabled}, {"gainDB", number(c.gainDB)}, {"pan", number(c.pan)}};
}

QByteArray pretty(const Json& j) {
    return QByteArray::fromStdString(j.dump(2, ' ', false, Json::error_handler_t::replace));
}

// ---- reading ---------------------------------------------------------------

[[noreturn]] void fail(const QString& message) {
    throw DecodeError(message);
}

const Json* find(const Json& object, const char* key) {
    auto it = object.find(key);
    if (it == object.end() || it->is_null())
        return nullptr;
    return &*it;
}

const Json& required(const Json& object, const char* key) {
    const Json* value = find(object, key);
    if (!value)
        fail(QStringLiteral("No value found for key \"%1\".").arg(key));
    return *value;
}

const Json& asObject(const Json& j, const char* what) {
    if (!j.is_object())
        fail(QStringLiteral("Expected an object for \"%1\".").arg(what));
    return j;
}

const Json& asArray(const Json& j, const char* what) {
    if (!j.is_array())
        fail(QStringLiteral("Expected an array for \"%1\".").arg(what));
    return j;
}

double toDouble(const Json& j, const char* key) {
    if (!j.is_number())
        fail(QStringLiteral("Expected a number for \"%1\".").arg(key));
    return j.get<double>();
}

// A channel number of any size: one that addresses no channel of the movie is kept as it is
// (the mix leaves it out); only values beyond 64 bits are clamped.
qint64 toChannel(const Json& j, const char* key) {
    constexpr auto top = std::numeric_limits<qint64>::max();
    if (j.is_number_unsigned())
        return j.get<std::uint64_t>() > std::uint64_t(top) ? top : qint64(j.get<std::uint64_t>());
    if (j.is_number_integer())
        return j.get<std::int64_t>();
    if (j.is_number_float()) {
        const double v = j.get<double>();
        if (v == std::trunc(v))
            return v >= 9.2e18    ? top
                   : v <= -9.2e18 ? std::numeric_limits<qint64>::min()
                                  : qint64(v);
    }
    fail(QStringLiteral("Expected a whole number for \"%1\".").arg(key));
}

bool toBool(const Json& j, const char* key) {
    if (!j.is_boolean())
        fail(QStringLiteral("Expected a boolean for \"%1\".").arg(key));
    return j.get<bool>();
}

QString toString(const Json& j, const char* key) {
    if (!j.is_string())
        fail(QStringLiteral("Expected a string for \"%1\".").arg(key));
    return QString::fromStdString(j.get<std::string>());
}

QUuid toUuid(const Json& j, const char* key) {
    auto id = parseUuid(toString(j, key));
    if (!id)
        fail(QStringLiteral("Invalid UUID string for \"%1\".").arg(key));
    return *id;
}

QDateTime toDate(const Json& j, const char* key) {
    auto date = parseJsonDate(toString(j, key));
    if (!date)
        fail(QStringLiteral("Expected date string to be ISO8601-formatted for \"%1\".").arg(key));
    return *date;
}

double requiredDouble(const Json& o, const char* key) {
    return toDouble(required(o, key), key);
}
bool requiredBool(const Json& o, const char* key) {
    return toBool(required(o, key), key);
}

// Optional keys: missing or null keep the default, a wrong type fails.
void optionalDouble(const Json& o, const char* key, double& out) {
    if (const Json* v = find(o, key))
        out = toDouble(*v, key);
}
void optionalBool(const Json& o, const char* key, bool& out) {
    if (const Json* v = find(o, key))
        out = toBool(*v, key);
}

TimeSpan spanFrom(const Json& j) {
    asObject(j, "span");
    return {requiredDouble(j, "start"), requiredDouble(j, "end")};
}

SpanList spansFrom(const Json& j, const char* key) {
    SpanList list;
    for (const Json& element : asArray(j, key))
        list.push_back(spanFrom(element));
    return list;
}

std::vector<double> numbersFrom(const Json& j, const char* key) {
    std::vector<double> list;
    for (const Json& element : asArray(j, key))
        list.push_back(toDouble(element, key));
    return list;
}

ReverbRoom roomFrom(const Json& j) {
    auto room = reverbRoomFromRaw(toString(j, "reverbRoom"));
    if (!room)
        fail(QStringLiteral("Cannot initialize ReverbRoom from invalid String value."));
    return *room;
}

TrackEffects effectsFrom(const Json& j) {
    asObject(j, "effects");
    TrackEffects e;
    optionalBool(j, "eqEnabled", e.eqEnabled);
    optionalBool(j, "lowCut", e.lowCut);
    optionalDouble(j, "lowGain", e.lowGain);
    optionalDouble(j, "midGain", e.midGain);
    optionalDouble(j, "midFrequency", e.midFrequency);
    optionalDouble(j, "highGain", e.highGain);
    optionalBool(j, "compressorEnabled", e.compressorEnabled);
    optionalDouble(j, "compression", e.compression);
    optionalDouble(j, "reverbSend", e.reverbSend);
    if (const Json* v = find(j, "reverbRoom"))
        e.reverbRoom = roomFrom(*v);
    return e;
}

Track::Source sourceFrom(const Json& j) {
    asObject(j, "source");
    const bool hasInput = j.contains("input");
    const bool hasOverdub = j.contains("overdub");
    if (hasInput == hasOverdub)
        fail(QStringLiteral("Invalid number of keys found, expected one."));
    Track::Source source;
    if (hasInput) {
        const Json& values = asObject(j.at("input"), "input");
        source = Track::Source::input(toChannel(required(values, "channel"), "channel"));
    } else {
        const Json& values = asObject(j.at("overdub"), "overdub");
        source = Track::Source::overdub(toUuid(required(values, "id"), "id"),
                                        toChannel(required(values, "channel"), "channel"));
    }
    return source;
}

Track trackFrom(const Json& j) {
    asObject(j, "track");
    Track t;
    t.id = toUuid(required(j, "id"), "id");
    t.name = toString(required(j, "name"), "name");
    t.source = sourceFrom(required(j, "source"));
    t.muted = requiredBool(j, "muted");
    t.solo = requiredBool(j, "solo");
    t.volumeDB = requiredDouble(j, "volumeDB");
    t.pan = requiredDouble(j, "pan");
    t.effects = effectsFrom(required(j, "effects"));
    return t;
}

Overdub overdubFrom(const Json& j) {
    asObject(j, "overdub");
    Overdub o;
    o.id = toUuid(required(j, "id"), "id");
    o.fileName = toString(required(j, "fileName"), "fileName");
    // The name is joined to the overdubs folder and may later go to the Trash:
    // it must not reach outside that folder.
    if (!isSafeOverdubFileName(o.fileName))
        fail(QStringLiteral("An overdub's file name must name a file inside the overdubs folder."));
    o.createdAt = toDate(required(j, "createdAt"), "createdAt");
    o.start = requiredDouble(j, "start");
    o.nudge = requiredDouble(j, "nudge");
    o.duration = requiredDouble(j, "duration");
    o.hasVideo = requiredBool(j, "hasVideo");
    o.showVideo = requiredBool(j, "showVideo");
    if (const Json* v = find(j, "audioDeviceID"))
        o.audioDeviceID = toString(*v, "audioDeviceID");
    // Each value alone may be finite while the times made from them overflow.
    if (!std::isfinite(o.placedStart()) || !std::isfinite(o.placedStart() + o.duration) ||
        !std::isfinite(o.start + o.duration))
        fail(QStringLiteral("An overdub's times are out of range."));
    return o;
}

MasterSettings masterFrom(const Json& j) {
    asObject(j, "master");
    return {requiredDouble(j, "volumeDB"), requiredBool(j, "normalize")};
}

EditState editFrom(const Json& j) {
    asObject(j, "edit");
    EditState e;
    optionalDouble(j, "inPoint", e.inPoint);
    if (const Json* v = find(j, "outPoint"))
        e.outPoint = toDouble(*v, "outPoint");
    if (const Json* v = find(j, "splits"))
        e.splits = numbersFrom(*v, "splits");
    if (const Json* v = find(j, "cuts"))
        e.cuts = spansFrom(*v, "cuts");
    if (const Json* v = find(j, "hidden"))
        for (const auto& [key, list] : asObject(*v, "hidden").items())
            e.hidden[QString::fromStdString(key)] = spansFrom(list, "hidden");
    if (const Json* v = find(j, "laneSplits"))
        for (const auto& [key, list] : asObject(*v, "laneSplits").items())
            e.laneSplits[QString::fromStdString(key)] = numbersFrom(list, "laneSplits");
    return e;
}

template <typename Enum>
Enum enumFrom(const Json& j, const char* key, std::optional<Enum> (*fromRaw)(const QString&)) {
    auto value = fromRaw(toString(j, key));
    if (!value)
        fail(QStringLiteral("Cannot initialize \"%1\" from invalid String value.").arg(key));
    return *value;
}

ExportSettings exportFrom(const Json& j) {
    asObject(j, "export");
    ExportSettings e;
    if (const Json* v = find(j, "format"))
        e.format = enumFrom(*v, "format", &formatFromRaw);
    if (const Json* v = find(j, "aspect"))
        e.aspect = enumFrom(*v, "aspect", &aspectFromRaw);
    if (const Json* v = find(j, "positions"))
        for (const auto& [key, p] : asObject(*v, "positions").items()) {
            asObject(p, "position");
            e.positions[QString::fromStdString(key)] = {requiredDouble(p, "x"),
                                                        requiredDouble(p, "y")};
        }
    // Older files kept one framing number for the main video.
    if (const Json* v = find(j, "framing")) {
        const double framing = toDouble(*v, "framing");
        if (framing != 0 && e.positions.empty())
            e.positions[Lane::mainVideo().key()] = {framing, framing};
    }
    optionalBool(j, "mirror", e.mirror);
    if (const Json* v = find(j, "layout"))
        e.layout = enumFrom(*v, "layout", &layoutFromRaw);
    return e;
}

ChannelMix channelMixFrom(const Json& j) {
    asObject(j, "channel");
    return {requiredBool(j, "enabled"), requiredDouble(j, "gainDB"), requiredDouble(j, "pan")};
}

std::vector<ChannelMix> channelMixesFrom(const Json& j) {
    std::vector<ChannelMix> list;
    for (const Json& element : asArray(j, "channels"))
        list.push_back(channelMixFrom(element));
    return list;
}

// The single effects object of older files; every field optional.
struct LegacyEffects {
    std::optional<bool> eqEnabled, lowCut, compressorEnabled, reverbEnabled, normalize;
    std::optional<double> lowGain, midGain, midFrequency, highGain, compression, reverbMix,
        volumeDB;
    std::optional<ReverbRoom> reverbRoom;
};

LegacyEffects legacyFrom(const Json& j) {
    asObject(j, "effects");
    LegacyEffects l;
    auto b = [&](const char* key, std::optional<bool>& out) {
        if (const Json* v = find(j, key))
            out = toBool(*v, key);
    };
    auto d = [&](const char* key, std::optional<double>& out) {
        if (const Json* v = find(j, key))
            out = toDouble(*v, key);
    };
    b("eqEnabled", l.eqEnabled);
    b("lowCut", l.lowCut);
    d("lowGain", l.lowGain);
    d("midGain", l.midGain);
    d("midFrequency", l.midFrequency);
    d("highGain", l.highGain);
    b("compressorEnabled", l.compressorEnabled);
    d("compression", l.compression);
    b("reverbEnabled", l.reverbEnabled);
    if (const Json* v = find(j, "reverbRoom"))
        l.reverbRoom = roomFrom(*v);
    d("reverbMix", l.reverbMix);
    d("volumeDB", l.volumeDB);
    b("normalize", l.normalize);
    return l;
}

// Reads a lenient key: missing, null or damaged gives the fallback.
template <typename T, typename Read>
T lenient(const Json& top, const char* key, T fallback, Read read) {
    const Json* v = find(top, key);
    if (!v)
        return fallback;
    try {
        return read(*v);
    } catch (const DecodeError&) {
        return fallback;
    } catch (const Json::exception&) {
        return fallback;
    }
}

std::optional<std::vector<Track>> tracksFrom(const Json& top) {
    const Json* v = find(top, "tracks");
    if (!v)
        return std::nullopt;
    try {
        std::vector<Track> tracks;
        for (const Json& element : asArray(*v, "tracks"))
            tracks.push_back(trackFrom(element));
        return tracks;
    } catch (const DecodeError&) {
        return std::nullopt;
    } catch (const Json::exception&) {
        return std::nullopt;
    }
}

void readLegacy(const Json& top, TakeInfo& info) {
    const auto channels = lenient<std::vector<ChannelMix>>(top, "channels", {}, &channelMixesFrom);
    const auto legacy =
        lenient<std::optional<LegacyEffects>>(top, "effects", std::nullopt, &legacyFrom);

    TrackEffects effects;
    MasterSettings master;
    if (legacy) {
        effects.eqEnabled = legacy->eqEnabled.value_or(false);
        effects.lowCut = legacy->lowCut.value_or(false);
        effects.lowGain = legacy->lowGain.value_or(0);
        effects.midGain = legacy->midGain.value_or(0);
        effects.highGain = legacy->highGain.value_or(0);
        effects.midFrequency = legacy->midFrequency.value_or(800);
        effects.compressorEnabled = legacy->compressorEnabled.value_or(false);
        effects.compression = legacy->compression.value_or(0.4);
        effects.reverbSend =
            legacy->reverbEnabled.value_or(false) ? legacy->reverbMix.value_or(0.2) : 0;
        effects.reverbRoom = legacy->reverbRoom.value_or(ReverbRoom::mediumRoom);
        master.volumeDB = legacy->volumeDB.value_or(0);
        master.normalize = legacy->normalize.value_or(true);
    }
    info.tracks = TakeInfo::tracksFrom(channels, effects);
    info.master = master;
}

bool startsNumber(char c) {
    return c == '-' || (c >= '0' && c <= '9');
}

bool inNumber(char c) {
    return startsNumber(c) || c == '+' || c == '.' || c == 'e' || c == 'E';
}

// The JSON parser refuses the whole text over one number a double can't hold (1e400).
// Such numbers become a string, so only the part of the record that holds one fails to read,
// and falls back as any damaged part does.
QByteArray withOverflowingNumbersMarked(const QByteArray& bytes) {
    QByteArray out;
    bool inString = false;
    qsizetype copied = 0;
    for (qsizetype i = 0; i < bytes.size(); ++i) {
        const char c = bytes[i];
        if (inString) {
            if (c == '\\')
                ++i;
            else if (c == '"')
                inString = false;
            continue;
        }
        if (c == '"') {
            inString = true;
            continue;
        }
        if (!startsNumber(c))
            continue;
        qsizetype end = i;
        while (end < bytes.size() && inNumber(bytes[end]))
            ++end;
        // Only an exponent or some 300 digits can reach beyond a double.
        const QByteArrayView token(bytes.constData() + i, end - i);
        const bool mayOverflow = token.size() > 300 || token.contains('e') || token.contains('E');
        if (mayOverflow && !std::isfinite(std::strtod(
                               std::string(token.data(), size_t(token.size())).c_str(), nullptr))) {
            out.append(bytes.constData() + copied, i - copied);
            out.append("\"number out of range\"");
            copied = end;
        }
        i = end - 1;
    }
    if (copied == 0)
        return bytes;
    out.append(bytes.constData() + copied, bytes.size() - copied);
    return out;
}

Json parse(const QByteArray& raw) {
    const QByteArray bytes = withOverflowingNumbersMarked(raw);
    try {
        return Json::parse(bytes.constBegin(), bytes.constEnd());
    } catch (const Json::exception& e) {
        fail(QStringLiteral("The data isn't valid JSON: %1").arg(QString::fromUtf8(e.what())));
    }
}

} // namespace

QByteArray encodeTakeInfo(const TakeInfo& info) {
    Json j = {{"name", string(info.name)},
              {"createdAt", string(formatJsonDate(info.createdAt))},
              {"duration", number(info.duration)},
              {"showMainVideo", info.showMainVideo},
              {"mainRemoved", info.mainRemoved},
              {"master",
               {{"volumeDB", number(info.master.volumeDB)}, {"normalize", info.master.normalize}}},
              {"edit", editJson(info.edit)},
              {"export", exportJson(info.exportSettings)}};
    if (info.cameraName)
        j["cameraName"] = string(*info.cameraName);
    if (info.audioDeviceName)
        j["audioDeviceName"] = string(*info.audioDeviceName);
    Json tracks = Json::array();
    for (const Track& t : info.tracks)
        tracks.push_back(trackJson(t));
    j["tracks"] = tracks;
    Json overdubs = Json::array();
    for (const Overdub& o : info.overdubs)
        overdubs.push_back(overdubJson(o));
    j["overdubs"] = overdubs;
    return pretty(j);
}

TakeInfo decodeTakeInfo(const QByteArray& bytes) {
    const Json top = parse(bytes);
    asObject(top, "take");
    TakeInfo info;
    try {
        info.name = toString(required(top, "name"), "name");
        info.createdAt = toDate(required(top, "createdAt"), "createdAt");
        info.duration = requiredDouble(top, "duration");
        if (const Json* v = find(top, "cameraName"))
            info.cameraName = toString(*v, "cameraName");
        if (const Json* v = find(top, "audioDeviceName"))
            info.audioDeviceName = toString(*v, "audioDeviceName");
    } catch (const Json::exception& e) {
        fail(QString::fromUtf8(e.what()));
    }

    info.overdubs = lenient<std::vector<Overdub>>(top, "overdubs", {}, [](const Json& v) {
        std::vector<Overdub> list;
        for (const Json& element : asArray(v, "overdubs"))
            list.push_back(overdubFrom(element));
        return list;
    });
    info.showMainVideo = lenient(top, "showMainVideo", true,
                                 [](const Json& v) { return toBool(v, "showMainVideo"); });
    info.mainRemoved =
        lenient(top, "mainRemoved", false, [](const Json& v) { return toBool(v, "mainRemoved"); });
    info.edit = lenient<EditState>(top, "edit", {}, &editFrom);
    info.exportSettings = lenient<ExportSettings>(top, "export", {}, &exportFrom);

    if (auto tracks = tracksFrom(top)) {
        info.tracks = std::move(*tracks);
        info.master = lenient<MasterSettings>(top, "master", {}, &masterFrom);
    } else {
        readLegacy(top, info);
    }
    return info;
}

Track decodeTrack(const QByteArray& bytes) {
    try {
        return trackFrom(parse(bytes));
    } catch (const Json::exception& e) {
        fail(QString::fromUtf8(e.what()));
    }
}

QByteArray encodeChannelMixes(const std::vector<ChannelMix>& channels) {
    Json array = Json::array();
    for (const ChannelMix& c : channels)
        array.push_back(channelMixJson(c));
    return pretty(array);
}

std::vector<ChannelMix> decodeChannelMixes(const QByteArray& bytes) {
    try {
        return channelMixesFrom(parse(bytes));
    } catch (const Json::exception& e) {
        fail(QString::fromUtf8(e.what()));
    }
}

} // namespace reelbox
