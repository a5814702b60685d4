// reelbox-cli edit: editor commands through a real editor model and event loop.
#include "CliJson.h"
#include "CliTake.h"
#include "Commands.h"
#include "Output.h"

#include "edit/EditOperations.h"
#include "edit/SelectionOperations.h"
#include "edit/TakeEditorModel.h"
#include "edit/UndoStackAdapter.h"
#include "model/TakeLibrary.h"
#include "model/UuidString.h"
#include "platform/Error.h"
#include "platform/sound/SoundSystem.h"
#include "play/Player.h"

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QTextStream>
#include <QThread>
#include <QUndoStack>
#include <cmath>

namespace reelbox::cli {

namespace {

struct LineError {
    QString message;
};

double number(const QString& text) {
    bool ok = false;
    const double value = text.toDouble(&ok);
    if (!ok || !std::isfinite(value))
        throw LineError{QStringLiteral("\"%1\" is not a number").arg(text)};
    return value;
}

bool boolean(const QString& text) {
    if (text == u"true" || text == u"1")
        return true;
    if (text == u"false" || text == u"0")
        return false;
    throw LineError{QStringLiteral("\"%1\" is not true or false").arg(text)};
}

QUuid uuid(const QString& text) {
    if (auto id = parseUuid(text))
        return *id;
    throw LineError{QStringLiteral("\"%1\" is not an id").arg(text)};
}

Lane lane(const QString& key) {
    if (key == u"video.main")
        return Lane::mainVideo();
    if (key.startsWith(u"video."))
        return Lane::overdubVideo(uuid(key.mid(6)));
    if (key.startsWith(u"audio."))
        return Lane::audio(uuid(key.mid(6)));
    throw LineError{QStringLiteral("\"%1\" names no lane").arg(key)};
}

void setTrackField(Track& t, const QString& field, const QString& value) {
    TrackEffects& e = t.effects;
    if (field == u"muted")
        t.muted = boolean(value);
    else if (field == u"solo")
        t.solo = boolean(value);
    else if (field == u"volumeDB")
        t.volumeDB = number(value);
    else if (field == u"pan")
        t.pan = number(value);
    else if (field == u"eqEnabled")
        e.eqEnabled = boolean(value);
    else if (field == u"lowCut")
        e.lowCut = boolean(value);
    else if (field == u"lowGain")
        e.lowGain = number(value);
    else if (field == u"midGain")
        e.midGain = number(value);
    else if (field == u"midFrequency")
        e.midFrequency = number(value);
    else if (field == u"highGain")
        e.highGain = number(value);
    else if (field == u"compressorEnabled")
        e.compressorEnabled = boolean(value);
    else if (field == u"compression")
        e.compression = number(value);
    else if (field == u"reverbSend")
        e.reverbSend = number(value);
    else if (field == u"reverbRoom") {
        const auto room = reverbRoomFromRaw(value);
        if (!room)
            throw LineError{QStringLiteral("\"%1\" is not a reverb room").arg(value)};
        e.reverbRoom = *room;
    } else
        throw LineError{QStringLiteral("\"%1\" is not a track field").arg(field)};
}

void setOverdubField(Overdub& o, const QString& field, const QString& value) {
    if (field == u"start")
        o.start = number(value);
    else if (field == u"nudge")
        o.nudge = number(value);
    else if (field == u"showVideo")
        o.showVideo = boolean(value);
    else
        throw LineError{QStringLiteral("\"%1\" is not an overdub field one can set").arg(field)};
}

ExportSettings withExportField(ExportSettings s, const QString& field, const QString& value) {
    if (field == u"format") {
        const auto f = formatNamed(value);
        if (!f)
            throw LineError{QStringLiteral("\"%1\" is not a format").arg(value)};
        s.format = *f;
    } else if (field == u"aspect") {
        const auto a = aspectFromRaw(value);
        if (!a)
            throw LineError{QStringLiteral("\"%1\" is not an aspect").arg(value)};
        s.aspect = *a;
    } else if (field == u"layout") {
        const auto l = layoutFromRaw(value);
        if (!l)
            throw LineError{QStringLiteral("\"%1\" is not a layout").arg(value)};
        s.layout = *l;
    } else if (field == u"mirror") {
        s.mirror = boolean(value);
    } else {
        throw LineError{QStringLiteral("\"%1\" is not an export field").arg(field)};
    }
    return s;
}

QString stageName(std::optional<TakeEditorModel::Stage> stage) {
    if (!stage)
        return QStringLiteral("null");
    switch (*stage) {
    case TakeEditorModel::Stage::stems:
        return jsonString(QStringLiteral("stems"));
    case TakeEditorModel::Stage::process:
        return jsonString(QStringLiteral("process"));
    case TakeEditorModel::Stage::compose:
        return jsonString(QStringLiteral("compose"));
    }
    return QStringLiteral("null");
}

// Splits a line into words; a word in double quotes may hold spaces.
QStringList words(const QString& line) {
    QStringList result;
    QString current;
    bool quoted = false, any = false;
    for (QChar c : line) {
        if (c == u'"') {
            quoted = !quoted;
            any = true;
        } else if (c.isSpace() && !quoted) {
            if (any)
                result << current;
            current.clear();
            any = false;
        } else {
            current += c;
            any = true;
        }
    }
    if (any)
        result << current;
    return result;
}

class EditSession {
public:
    EditSession(TakeEditorModel& model, const std::stop_token& stop)
        : m_model(model), m_stop(stop) {
        m_model.setUndoRegistry(&m_undo);
        m_clock.start();
        QObject::connect(m_model.player(), &Player::statusChanged, &m_model,
                         [this](Player::Status status) {
                             if (status == Player::Status::ready)
                                 m_previewReadyAt = m_clock.elapsed();
                         });
        // A failed save shows in errorMessage, which a settle clears; the reason is kept here.
        QObject::connect(&m_model, &TakeEditorModel::errorMessageChanged, &m_model, [this] {
            const auto message = m_model.errorMessage();
            if (message && m_model.counters().failedSaves > m_failedSaves)
                m_failures << *message;
            m_failedSaves = m_model.counters().failedSaves;
        });
    }

    // What the script asked for and didn't get: failed or refused exports, failed saves.
    const QStringList& failures() const { return m_failures; }

    void run(const QStringList& w);
    void settle(bool print);

private:
    // The last argument, from word `at` to the end of the line: a name or a room such as
    // "Large Hall" holds spaces.
    static QString valueFrom(const QStringList& w, int at) {
        if (w.size() <= at)
            throw LineError{QStringLiteral("\"%1\" takes %2 argument(s)").arg(w[0]).arg(at)};
        return w.mid(at).join(u' ');
    }
    void require(const QStringList& w, int count) {
        if (w.size() != count)
            throw LineError{QStringLiteral("\"%1\" takes %2 argument(s)").arg(w[0]).arg(count - 1)};
    }
    void waitUntil(const std::function<bool()>& done) {
        while (!done() && !m_stop.stop_requested()) {
            QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
            QThread::msleep(1);
        }
        if (m_stop.stop_requested())
            throw Cancelled();
    }

    TakeEditorModel& m_model;
    std::stop_token m_stop;
    QUndoStack m_stack;
    UndoStackAdapter m_undo{&m_stack};
    TakeEditorModel::Counters m_reported;
    int m_exports = 0;
    QStringList m_errors;
    QStringList m_failures;
    int m_failedSaves = 0;
    QElapsedTimer m_clock;
    qint64 m_lastCommandAt = 0;
    qint64 m_previewReadyAt = -1; // when the player last had a new preview ready
};

void EditSession::run(const QStringList& w) {
    const QString& c = w[0];
    m_lastCommandAt = m_clock.elapsed();
    const auto apply = [&](EditOutcome (*operation)(const EditingState&)) {
        require(w, 1);
        m_model.apply(operation(m_model.editingState()));
    };
    if (c == u"seek") {
        require(w, 2);
        m_model.seek(number(w[1]));
    } else if (c == u"split") {
        apply(&splitAtPlayhead);
    } else if (c == u"remove") {
        apply(&removeSelected);
    } else if (c == u"restore") {
        apply(&restoreSelected);
    } else if (c == u"in") {
        apply(&setInPoint);
    } else if (c == u"out") {
        apply(&setOutPoint);
    } else if (c == u"reset") {
        apply(&resetEdits);
    } else if (c == u"select-timeline") {
        require(w, 2);
        m_model.setSelection(selectTimeline(m_model.editingState(), number(w[1])));
    } else if (c == u"select") {
        if (w.size() != 3 && !(w.size() == 4 && w[3] == u"extend"))
            throw LineError{QStringLiteral("select takes LANE SECONDS [extend]")};
        m_model.setSelection(
            selectLane(m_model.editingState(), lane(w[1]), number(w[2]), w.size() == 4));
    } else if (c == u"undo" || c == u"redo") {
        require(w, 1);
        c == u"undo" ? m_stack.undo() : m_stack.redo();
    } else if (c == u"track") {
        const QString value = valueFrom(w, 3);
        const QUuid id = uuid(w[1]);
        if (!m_model.track(id))
            throw LineError{QStringLiteral("no track %1").arg(w[1])};
        if (w[2] == u"name") {
            m_model.renameTrack(id, value);
        } else {
            Track probe = *m_model.track(id);
            setTrackField(probe, w[2], value); // checks the field before the model sees it
            m_model.updateTrack(id, [&](Track& t) { setTrackField(t, w[2], value); });
        }
    } else if (c == u"master") {
        require(w, 3);
        MasterSettings m = m_model.master();
        if (w[1] == u"volumeDB")
            m.volumeDB = number(w[2]);
        else if (w[1] == u"normalize")
            m.normalize = boolean(w[2]);
        else
            throw LineError{QStringLiteral("\"%1\" is not a master field").arg(w[1])};
        m_model.setMaster(m);
    } else if (c == u"overdub") {
        const QString value = valueFrom(w, 3);
        const QUuid id = uuid(w[1]);
        if (!m_model.take().info.overdub(id))
            throw LineError{QStringLiteral("no overdub %1").arg(w[1])};
        Overdub probe = *m_model.take().info.overdub(id);
        setOverdubField(probe, w[2], value);
        m_model.updateOverdub(id, [&](Overdub& o) { setOverdubField(o, w[2], value); });
    } else if (c == u"export-settings") {
        const QString value = valueFrom(w, 2);
        m_model.setExportSettings(withExportField(m_model.exportSettings(), w[1], value));
    } else if (c == u"delete-track") {
        require(w, 2);
        m_model.deleteTrack(uuid(w[1]));
    } else if (c == u"delete-overdub") {
        require(w, 2);
        m_model.deleteOverdub(uuid(w[1]));
    } else if (c == u"delete-recording") {
        require(w, 2);
        if (w[1] == u"take")
            m_model.deleteRecording(Group::take());
        else if (w[1].startsWith(u"overdub:"))
            m_model.deleteRecording(Group::overdub(uuid(w[1].mid(8))));
        else
            throw LineError{QStringLiteral("delete-recording takes take or overdub:ID")};
    } else if (c == u"export") {
        require(w, 2);
        refuseProtectedOutput(w[1], QStringLiteral("edit"));
        ++m_exports;
        m_model.exportTo(w[1], [this, path = w[1]](bool ok) {
            --m_exports;
            if (ok)
                return;
            const QString why = m_model.errorMessage().value_or(
                QStringLiteral("export to %1 didn't run").arg(path));
            if (!m_model.errorMessage())
                m_errors << why;
            m_failures << why;
        });
    } else if (c == u"wait") {
        require(w, 2);
        const double ms = number(w[1]);
        QElapsedTimer timer;
        timer.start();
        waitUntil([&] { return timer.elapsed() >= ms; });
    } else if (c == u"settle") {
        require(w, 1);
        settle(true);
    } else {
        throw LineError{QStringLiteral("unknown command \"%1\"").arg(c)};
    }
}

void EditSession::settle(bool print) {
    waitUntil([&] {
        return m_model.isIdle() && m_exports == 0 &&
               m_model.player()->status() != Player::Status::loading;
    });
    if (!print)
        return;
    const auto& now = m_model.counters();
    const auto& was = m_reported;
    const EditingState state = m_model.editingState();
    std::optional<QString> error = m_model.errorMessage();
    if (!error && !m_errors.isEmpty())
        error = m_errors.join(QStringLiteral("; "));
    m_errors.clear();
    m_model.setErrorMessage(std::nullopt); // as the screen does when the alert is dismissed
    printLine(jsonObject({
        {QStringLiteral("runs"), QString::number(now.runs - was.runs)},
        {QStringLiteral("completed"), QString::number(now.completed - was.completed)},
        {QStringLiteral("cancelled"), QString::number(now.cancelled - was.cancelled)},
        {QStringLiteral("firstStage"),
         now.runs > was.runs ? stageName(now.lastStage) : QStringLiteral("null")},
        {QStringLiteral("saves"), QString::number(now.saves - was.saves)},
        {QStringLiteral("processedAudio"),
         m_model.processedAudio() ? jsonString(*m_model.processedAudio()) : QStringLiteral("null")},
        {QStringLiteral("normalizeGainDB"), m_model.normalizeGainDB()
                                                ? jsonNumber(*m_model.normalizeGainDB())
                                                : QStringLiteral("null")},
        {QStringLiteral("editedDuration"), jsonNumber(editedDuration(state))},
        {QStringLiteral("errorMessage"), error ? jsonString(*error) : QStringLiteral("null")},
        {QStringLiteral("milliseconds"), QString::number(m_clock.elapsed() - m_lastCommandAt)},
        // Until the new preview played, without the wait for the save.
        {QStringLiteral("previewMilliseconds"),
         now.completed > was.completed && m_previewReadyAt >= m_lastCommandAt
             ? QString::number(m_previewReadyAt - m_lastCommandAt)
             : QStringLiteral("null")},
    }));
    m_reported = now;
}

} // namespace

int runEdit(const Arguments& args, const std::stop_token& stop) {
    const Take take = loadTake(args.positional(0));
    const QString scriptPath = args.positional(1);
    QByteArray script;
    if (scriptPath.isEmpty() || scriptPath == u"-") {
        QFile in;
        if (!in.open(stdin, QIODevice::ReadOnly))
            throw Error(QStringLiteral("can't read the script from standard input"));
        script = in.readAll();
    } else {
        QFile in(scriptPath);
        if (!in.open(QIODevice::ReadOnly))
            throw Error(QStringLiteral("can't read %1: %2").arg(scriptPath, in.errorString()));
        script = in.readAll();
    }

    TakeLibrary library(QFileInfo(take.folder).absolutePath());
    SoundSystem sound;
    TakeEditorModel model(take, &library, sound);
    EditSession session(model, stop);
    const QStringList lines = QString::fromUtf8(script).split(u'\n');
    for (int i = 0; i < lines.size(); ++i) {
        const QString line = lines[i].trimmed();
        if (line.isEmpty() || line.startsWith(u'#'))
            continue;
        try {
            session.run(words(line));
            QCoreApplication::processEvents(QEventLoop::AllEvents);
        } catch (const LineError& e) {
            printError(QStringLiteral("reelbox-cli edit: line %1: %2").arg(i + 1).arg(e.message));
            model.tearDown();
            return usage;
        } catch (const UsageError& e) {
            printError(QStringLiteral("reelbox-cli edit: line %1: %2").arg(i + 1).arg(e.message));
            model.tearDown();
            return usage;
        }
    }
    session.settle(true);
    model.tearDown();
    if (!session.failures().isEmpty()) {
        printError(QStringLiteral("reelbox-cli edit: ") + session.failures().join(u"; "));
        return failure;
    }
    return success;
}

} // namespace reelbox::cli
