#include "platform/sound/internal/PipeWire.h"

#include "platform/Error.h"
#include "platform/HostClock.h"
#include "platform/sound/internal/StampFilter.h"

#include <QJsonDocument>
#include <QJsonObject>

#include <pipewire/extensions/metadata.h>
#include <pipewire/pipewire.h>
#include <spa/param/audio/format-utils.h>
#include <spa/pod/builder.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <optional>

#include <QRegularExpression>

namespace reelbox::pipewire {

namespace {

constexpr int answerTimeoutMs = 2000;
// A running stream that sees no cycle for this long has stopped (links gone, server frozen).
constexpr qint64 stallLimitNs = 2'000'000'000;
// How often the streams are checked, and a lost server is looked for again.
constexpr qint64 watchIntervalNs = 250'000'000;

struct LoopDeleter {
    void operator()(pw_thread_loop* loop) const { pw_thread_loop_destroy(loop); }
};
struct ContextDeleter {
    void operator()(pw_context* context) const { pw_context_destroy(context); }
};
struct CoreDeleter {
    void operator()(pw_core* core) const { pw_core_disconnect(core); }
};
struct ProxyDeleter {
    void operator()(void* proxy) const { pw_proxy_destroy(static_cast<pw_proxy*>(proxy)); }
};
struct StreamDeleter {
    void operator()(pw_stream* stream) const { pw_stream_destroy(stream); }
};
using LoopPtr = std::unique_ptr<pw_thread_loop, LoopDeleter>;
using ContextPtr = std::unique_ptr<pw_context, ContextDeleter>;
using CorePtr = std::unique_ptr<pw_core, CoreDeleter>;
using StreamPtr = std::unique_ptr<pw_stream, StreamDeleter>;

// Holds the thread loop's lock for a scope.
class LoopLock {
public:
    explicit LoopLock(pw_thread_loop* loop) : m_loop(loop) { pw_thread_loop_lock(m_loop); }
    ~LoopLock() { pw_thread_loop_unlock(m_loop); }
    LoopLock(const LoopLock&) = delete;
    LoopLock& operator=(const LoopLock&) = delete;

private:
    pw_thread_loop* m_loop;
};

QString text(const char* s) {
    return s ? QString::fromUtf8(s) : QString();
}

int channelCount(const spa_dict* props) {
    bool ok = false;
    const int channels = text(spa_dict_lookup(props, "audio.channels")).toInt(&ok);
    if (ok && channels > 0)
        return std::min(channels, int(SPA_AUDIO_MAX_CHANNELS));
    const QString positions = text(spa_dict_lookup(props, "audio.position"));
    if (!positions.isEmpty())
        return int(
            positions.split(QRegularExpression(QStringLiteral("[ ,\\[\\]]+")), Qt::SkipEmptyParts)
                .size());
    return 2;
}

QString defaultName(const char* json) {
    if (!json)
        return {};
    return QJsonDocument::fromJson(QByteArray(json)).object().value(u"name").toString();
}

// The raw format every stream asks for: F32 interleaved at 48 kHz, the given channel count;
// stereo is left/right, any other count is AUX0… in order so nothing is remixed.
const spa_pod* buildFormat(spa_pod_builder* builder, int channels) {
    spa_audio_info_raw info{};
    info.format = SPA_AUDIO_FORMAT_F32;
    info.rate = soundSampleRate;
    info.channels = uint32_t(channels);
    for (int c = 0; c < channels; ++c)
        info.position[c] = channels == 2
                               ? uint32_t(c == 0 ? SPA_AUDIO_CHANNEL_FL : SPA_AUDIO_CHANNEL_FR)
                               : uint32_t(SPA_AUDIO_CHANNEL_AUX0 + c);
    return spa_format_audio_raw_build(builder, SPA_PARAM_EnumFormat, &info);
}

qint64 ticksToNs(int64_t ticks, spa_fraction rate) {
    return graphTicksToNs(ticks, rate.num, rate.denom);
}

std::optional<GraphPosition> graphPosition(const pw_time& time, bool timed) {
    if (!timed)
        return std::nullopt;
    return GraphPosition{time.ticks, int64_t(time.rate.num), int64_t(time.rate.denom)};
}

} // namespace

class StreamBase {
public:
    virtual ~StreamBase() = default;
    virtual quint32 targetGlobal() const = 0;
    // Loop thread: the device or the server went away.
    virtual void lost(const QString& message) = 0;
    // Loop thread, every watch interval: ends the stream when it has stopped running.
    virtual void watch(qint64 nowNs) = 0;
};

struct NodeBinding {
    Connection::State* state = nullptr;
    quint32 globalId = 0;
    quint64 order = 0;
    QString mediaClass;
    std::unique_ptr<pw_proxy, ProxyDeleter> proxy;
    spa_hook listener{};
    bool announced = false;
};

struct Connection::State {
    Listener listener;
    LoopPtr loop;
    ContextPtr context;
    CorePtr core;
    std::unique_ptr<pw_proxy, ProxyDeleter> registry;
    std::unique_ptr<pw_proxy, ProxyDeleter> metadata;
    quint32 metadataGlobal = SPA_ID_INVALID;
    spa_hook coreListener{};
    spa_hook registryListener{};
    spa_hook metadataListener{};
    int pendingSeq = -1;
    bool synced = false;
    bool ready = false; // the first listing is complete; changes are reported from now on
    std::atomic<bool> broken{false};
    bool cleared = true; // after a break: the old server's objects are gone
    spa_source* watchTimer = nullptr;
    // Cores of servers that went away: streams made on them may still be destroyed later.
    std::vector<CorePtr> oldCores;
    std::vector<std::unique_ptr<pw_proxy, ProxyDeleter>> oldProxies;
    quint64 nextOrder = 0;
    std::map<quint32, std::unique_ptr<NodeBinding>> bindings; // loop thread
    std::vector<StreamBase*> streams;                         // loop thread or loop lock

    mutable std::mutex mutex; // guards the two below, read from other threads
    std::vector<Node> nodes;
    Defaults defaults;

    ~State() {
        if (loop)
            pw_thread_loop_stop(loop.get());
        if (watchTimer)
            pw_loop_destroy_source(pw_thread_loop_get_loop(loop.get()), watchTimer);
        bindings.clear();
        oldProxies.clear();
        oldCores.clear();
        metadata.reset();
        registry.reset();
        core.reset();
        context.reset();
        loop.reset();
    }

    // Waits, holding the loop lock, until the server has handled every request sent so far.
    bool roundTrip(HostClock::time_point deadline) {
        synced = false;
        pendingSeq = pw_core_sync(core.get(), PW_ID_CORE, 0);
        while (!synced && !broken) {
            if (HostClock::now() >= deadline)
                return false;
            pw_thread_loop_timed_wait(loop.get(), 1);
        }
        return synced;
    }

    void nodeInfo(NodeBinding& binding, const pw_node_info* info) {
        if (!info->props || binding.announced)
            return;
        const spa_dict* props = info->props;
        Node node;
        node.globalId = binding.globalId;
        node.device.id = text(spa_dict_lookup(props, PW_KEY_NODE_NAME));
        node.device.name = text(spa_dict_lookup(props, PW_KEY_NODE_DESCRIPTION));
        if (node.device.name.isEmpty())
            node.device.name = text(spa_dict_lookup(props, PW_KEY_NODE_NICK));
        if (node.device.name.isEmpty())
            node.device.name = node.device.id;
        node.device.channels = channelCount(props);
        node.isSink = binding.mediaClass == u"Audio/Sink" || binding.mediaClass == u"Audio/Duplex";
        node.isSource =
            binding.mediaClass.startsWith(u"Audio/Source") || binding.mediaClass == u"Audio/Duplex";
        if (node.device.id.isEmpty())
            return;
        binding.announced = true;
        {
            std::lock_guard lock(mutex);
            auto orderOf = [this](const Node& n) {
                auto it = bindings.find(n.globalId);
                return it == bindings.end() ? 0 : it->second->order;
            };
            auto at = std::find_if(nodes.begin(), nodes.end(),
                                   [&](const Node& n) { return orderOf(n) > binding.order; });
            nodes.insert(at, node);
        }
        if (ready && listener.nodeAdded)
            listener.nodeAdded(node.device);
    }

    void global(quint32 id, const char* type, const spa_dict* props) {
        if (std::strcmp(type, PW_TYPE_INTERFACE_Node) == 0) {
            const QString mediaClass = text(spa_dict_lookup(props, PW_KEY_MEDIA_CLASS));
            if (mediaClass != u"Audio/Sink" && mediaClass != u"Audio/Duplex" &&
                !mediaClass.startsWith(u"Audio/Source"))
                return;
            auto binding = std::make_unique<NodeBinding>();
            binding->state = this;
            binding->globalId = id;
            binding->order = nextOrder++;
            binding->mediaClass = mediaClass;
            binding->proxy.reset(static_cast<pw_proxy*>(
                pw_registry_bind(reinterpret_cast<pw_registry*>(registry.get()), id,
                                 PW_TYPE_INTERFACE_Node, PW_VERSION_NODE, 0)));
            if (!binding->proxy)
                return;
            static const pw_node_events nodeEvents = [] {
                pw_node_events e{};
                e.version = PW_VERSION_NODE_EVENTS;
                e.info = [](void* data, const pw_node_info* info) {
                    auto* b = static_cast<NodeBinding*>(data);
                    b->state->nodeInfo(*b, info);
                };
                return e;
            }();
            pw_proxy_add_object_listener(binding->proxy.get(), &binding->listener, &nodeEvents,
                                         binding.get());
            bindings[id] = std::move(binding);
        } else if (std::strcmp(type, PW_TYPE_INTERFACE_Metadata) == 0 && !metadata &&
                   text(spa_dict_lookup(props, PW_KEY_METADATA_NAME)) == u"default") {
            metadata.reset(static_cast<pw_proxy*>(
                pw_registry_bind(reinterpret_cast<pw_registry*>(registry.get()), id,
                                 PW_TYPE_INTERFACE_Metadata, PW_VERSION_METADATA, 0)));
            if (!metadata)
                return;
            metadataGlobal = id;
            static const pw_metadata_events metadataEvents = [] {
                pw_metadata_events e{};
                e.version = PW_VERSION_METADATA_EVENTS;
                e.property = [](void* data, uint32_t subject, const char* key, const char*,
                                const char* value) {
                    static_cast<State*>(data)->defaultProperty(subject, key, value);
                    return 0;
                };
                return e;
            }();
            pw_proxy_add_object_listener(metadata.get(), &metadataListener, &metadataEvents, this);
        }
    }

    void defaultProperty(uint32_t subject, const char* key, const char* value) {
        if (subject != PW_ID_CORE)
            return;
        {
            std::lock_guard lock(mutex);
            if (!key) {
                defaults = {};
            } else if (std::strcmp(key, "default.audio.source") == 0) {
                defaults.source = defaultName(value);
            } else if (std::strcmp(key, "default.audio.sink") == 0) {
                defaults.sink = defaultName(value);
            } else {
                return;
            }
        }
        if (ready && listener.defaultsChanged)
            listener.defaultsChanged();
    }

    void globalRemoved(quint32 id) {
        if (id == metadataGlobal) {
            spa_hook_remove(&metadataListener);
            metadata.reset();
            metadataGlobal = SPA_ID_INVALID;
        }
        auto it = bindings.find(id);
        if (it == bindings.end())
            return;
        QString removedId, removedName;
        {
            std::lock_guard lock(mutex);
            auto node = std::find_if(nodes.begin(), nodes.end(),
                                     [id](const Node& n) { return n.globalId == id; });
            if (node != nodes.end()) {
                removedId = node->device.id;
                removedName = node->device.name;
                nodes.erase(node);
            }
        }
        spa_hook_remove(&it->second->listener);
        bindings.erase(it);
        for (StreamBase* stream : std::vector<StreamBase*>(streams))
            if (stream->targetGlobal() == id)
                stream->lost(QStringLiteral("%1 was disconnected.").arg(removedName));
        if (ready && !removedId.isEmpty() && listener.nodeRemoved)
            listener.nodeRemoved(removedId);
    }

    void coreError(uint32_t id, int res, const char* message) {
        if (id != PW_ID_CORE)
            return;
        if (res == -EPIPE && !broken) {
            broken = true;
            cleared = false;
            for (StreamBase* stream : std::vector<StreamBase*>(streams))
                stream->lost(QStringLiteral("The sound server (PipeWire) stopped."));
        }
        (void)message;
        pw_thread_loop_signal(loop.get(), false);
    }

    // Loop thread, every watch interval: checks the streams; after the server went away, forgets
    // its devices and connects again as soon as it is back.
    void watch() {
        const qint64 now = hostNowNs();
        for (StreamBase* stream : std::vector<StreamBase*>(streams))
            stream->watch(now);
        if (!broken)
            return;
        if (!cleared)
            forgetServer();
        if (connectCore())
            broken = false;
    }

    void forgetServer() {
        cleared = true;
        std::vector<QString> removed;
        {
            std::lock_guard lock(mutex);
            for (const Node& node : nodes)
                removed.push_back(node.device.id);
            nodes.clear();
            defaults = {};
        }
        for (auto& [id, binding] : bindings)
            spa_hook_remove(&binding->listener);
        for (auto& [id, binding] : bindings)
            oldProxies.push_back(std::move(binding->proxy));
        bindings.clear();
        if (metadata) {
            spa_hook_remove(&metadataListener);
            oldProxies.push_back(std::move(metadata));
        }
        metadataGlobal = SPA_ID_INVALID;
        if (registry) {
            spa_hook_remove(&registryListener);
            oldProxies.push_back(std::move(registry));
        }
        if (core) {
            spa_hook_remove(&coreListener);
            oldCores.push_back(std::move(core));
        }
        for (const QString& id : removed)
            if (listener.nodeRemoved)
                listener.nodeRemoved(id);
        if (listener.defaultsChanged)
            listener.defaultsChanged();
    }

    // Loop lock held (or on the loop thread). Connects to the daemon and asks for its objects;
    // false when no daemon answers.
    bool connectCore();

    std::optional<Node> findNode(const QString& id) const {
        std::lock_guard lock(mutex);
        for (const Node& node : nodes)
            if (node.device.id == id)
                return node;
        return std::nullopt;
    }
};

namespace {

// What input and output streams share: the pw_stream, its state and the wait for it to run.
class PwStream : public StreamBase {
public:
    PwStream(std::shared_ptr<Connection::State> state, Node node)
        : m_state(std::move(state)), m_node(std::move(node)) {}

    quint32 targetGlobal() const override { return m_node.globalId; }

    // While opening, the open fails; once running, the owner hears of it.
    void lost(const QString& message) override {
        if (m_opened) {
            ended(message);
            return;
        }
        m_gone = true;
        m_error = message;
        pw_thread_loop_signal(m_state->loop.get(), false);
    }

    virtual void ended(const QString& message) = 0;

    void watch(qint64 nowNs) override {
        if (m_opened && !m_stalled && nowNs - m_lastCycleNs.load() > stallLimitNs) {
            m_stalled = true;
            ended(QStringLiteral("%1 stopped sending sound.").arg(m_node.device.name));
        }
    }

protected:
    // Audio thread: a cycle ran.
    void cycled() noexcept { m_lastCycleNs.store(hostNowNs(), std::memory_order_relaxed); }

    // Loop lock held. Throws with the server's text when the stream doesn't start.
    void connect(pw_direction direction, pw_properties* props, int channels, void* owner,
                 const pw_stream_events* events) {
        Connection::State& s = *m_state;
        m_stream.reset(pw_stream_new(s.core.get(), "Reelbox", props));
        if (!m_stream)
            throw Error(QStringLiteral("Can't use %1: %2")
                            .arg(m_node.device.name, QString::fromLocal8Bit(strerror(errno))));
        pw_stream_add_listener(m_stream.get(), &m_listener, events, owner);
        uint8_t buffer[1024];
        spa_pod_builder builder = SPA_POD_BUILDER_INIT(buffer, sizeof buffer);
        const spa_pod* params[1] = {buildFormat(&builder, channels)};
        const int res = pw_stream_connect(m_stream.get(), direction, PW_ID_ANY,
                                          pw_stream_flags(PW_STREAM_FLAG_AUTOCONNECT |
                                                          PW_STREAM_FLAG_MAP_BUFFERS |
                                                          PW_STREAM_FLAG_RT_PROCESS),
                                          params, 1);
        s.streams.push_back(this);
        if (res < 0) {
            disconnect();
            throw Error(QStringLiteral("Can't use %1: %2")
                            .arg(m_node.device.name, QString::fromLocal8Bit(strerror(-res))));
        }
        const auto deadline = HostClock::now() + std::chrono::milliseconds(answerTimeoutMs);
        while (m_streamState != PW_STREAM_STATE_STREAMING &&
               m_streamState != PW_STREAM_STATE_ERROR && !s.broken && HostClock::now() < deadline)
            pw_thread_loop_timed_wait(s.loop.get(), 1);
        if (!m_gone && !s.broken &&
            (m_streamState == PW_STREAM_STATE_STREAMING ||
             m_streamState == PW_STREAM_STATE_PAUSED)) {
            m_lastCycleNs = hostNowNs();
            m_opened = true;
            return;
        }
        const QString reason = m_streamState == PW_STREAM_STATE_ERROR || m_gone
                                   ? m_error
                                   : QStringLiteral("the sound server didn't start it in time");
        disconnect();
        throw Error(QStringLiteral("Can't use %1: %2").arg(m_node.device.name, reason));
    }

    // Loop lock held. The audio thread may be inside process(), using m_stream, until
    // pw_stream_disconnect() returns (removing the listener doesn't wait for it), so the stream
    // is disconnected before it is let go; the state changes that brings are not a loss.
    void disconnect() {
        auto& streams = m_state->streams;
        streams.erase(std::remove(streams.begin(), streams.end(), this), streams.end());
        if (m_stream) {
            m_closing = true;
            pw_stream_disconnect(m_stream.get());
            spa_hook_remove(&m_listener);
            m_stream.reset();
        }
    }

    void stateChanged(pw_stream_state state, const char* error) {
        const pw_stream_state old = m_streamState;
        m_streamState = state;
        if (state == PW_STREAM_STATE_ERROR)
            m_error = error ? QString::fromUtf8(error) : QStringLiteral("unknown error");
        pw_thread_loop_signal(m_state->loop.get(), false);
        if (!m_opened || m_closing)
            return;
        if (state == PW_STREAM_STATE_ERROR)
            lost(QStringLiteral("%1 stopped: %2").arg(m_node.device.name, m_error));
        else if (state == PW_STREAM_STATE_UNCONNECTED && old != PW_STREAM_STATE_UNCONNECTED)
            lost(QStringLiteral("%1 was disconnected.").arg(m_node.device.name));
    }

    pw_properties* baseProperties(const char* category) const {
        pw_properties* props = pw_properties_new(
            PW_KEY_MEDIA_TYPE, "Audio", PW_KEY_MEDIA_CATEGORY, category, PW_KEY_MEDIA_ROLE,
            "Production", PW_KEY_APP_NAME, "Reelbox", PW_KEY_STREAM_DONT_REMIX, "true",
            PW_KEY_NODE_DONT_RECONNECT, "true", nullptr);
        pw_properties_set(props, PW_KEY_TARGET_OBJECT, m_node.device.id.toUtf8().constData());
        pw_properties_setf(props, PW_KEY_NODE_LATENCY, "512/%d", soundSampleRate);
        pw_properties_setf(props, PW_KEY_NODE_RATE, "1/%d", soundSampleRate);
        return props;
    }

    std::shared_ptr<Connection::State> m_state;
    Node m_node;
    StreamPtr m_stream;
    spa_hook m_listener{};
    pw_stream_state m_streamState = PW_STREAM_STATE_UNCONNECTED;
    QString m_error;
    bool m_opened = false;
    bool m_closing = false;
    bool m_gone = false;
    bool m_stalled = false;
    std::atomic<qint64> m_lastCycleNs{0};
};

// The events of a stream of kind Stream, handed to its stateChanged() and its process().
template <class Stream> const pw_stream_events& streamEvents() {
    static const pw_stream_events events = [] {
        pw_stream_events e{};
        e.version = PW_VERSION_STREAM_EVENTS;
        e.state_changed = [](void* data, pw_stream_state, pw_stream_state state,
                             const char* error) {
            static_cast<Stream*>(data)->stateChanged(state, error);
        };
        e.process = [](void* data) { static_cast<Stream*>(data)->process(); };
        return e;
    }();
    return events;
}

class PwInput final : public AudioInputStream, public PwStream {
public:
    PwInput(std::shared_ptr<Connection::State> state, const Node& node, SoundInputCallback onBuffer,
            SoundErrorCallback onError)
        : AudioInputStream(node.device, std::move(onBuffer), std::move(onError)),
          PwStream(std::move(state), node) {
        pw_properties* props = baseProperties("Capture");
        if (node.isSink && !node.isSource)
            pw_properties_set(props, PW_KEY_STREAM_CAPTURE_SINK, "true");
        LoopLock lock(m_state->loop.get());
        connect(PW_DIRECTION_INPUT, props, node.device.channels, this, &streamEvents<PwInput>());
    }

    ~PwInput() override {
        LoopLock lock(m_state->loop.get());
        disconnect();
    }

    void ended(const QString& message) override { fail(message); }

private:
    friend const pw_stream_events& streamEvents<PwInput>();
    // Audio thread. Takes every buffer waiting (after a late cycle there can be more than one).
    void process() noexcept {
        cycled();
        constexpr int maxBuffers = 16;
        pw_buffer* buffers[maxBuffers];
        int count = 0;
        while (count < maxBuffers) {
            pw_buffer* b = pw_stream_dequeue_buffer(m_stream.get());
            if (!b)
                break;
            buffers[count++] = b;
        }
        if (count == 0)
            return;
        const int stride = int(sizeof(float)) * channels();
        auto samples = [&](pw_buffer* b, int* frames) -> const float* {
            const spa_data& data = b->buffer->datas[0];
            *frames = 0;
            if (!data.data || !data.chunk || stride <= 0)
                return nullptr;
            const uint32_t offset = std::min(data.chunk->offset, data.maxsize);
            const uint32_t size = std::min(data.chunk->size, data.maxsize - offset);
            *frames = int(size / uint32_t(stride));
            return reinterpret_cast<const float*>(static_cast<const uint8_t*>(data.data) + offset);
        };
        int total = 0;
        for (int i = 0; i < count; ++i) {
            int frames = 0;
            samples(buffers[i], &frames);
            total += frames;
        }
        // The newest frame entered the device `delay` before the cycle began; the buffers
        // before it precede it without gaps.
        pw_time time{};
        const bool timed = pw_stream_get_time_n(m_stream.get(), &time, sizeof time) == 0 &&
                           time.rate.denom != 0 && time.now != 0;
        const qint64 end = timed ? time.now - ticksToNs(time.delay, time.rate) : hostNowNs();
        qint64 at = m_stamps.next(end - framesToNs(total), total, graphPosition(time, timed));
        for (int i = 0; i < count; ++i) {
            int frames = 0;
            const float* data = samples(buffers[i], &frames);
            if (data && frames > 0) {
                deliver(data, frames, at);
                at += framesToNs(frames);
            }
            pw_stream_queue_buffer(m_stream.get(), buffers[i]);
        }
    }

    StampFilter m_stamps;
};

class PwOutput final : public AudioOutputStream, public PwStream {
public:
    PwOutput(std::shared_ptr<Connection::State> state, const Node& node, int channels,
             SoundOutputCallback render, SoundErrorCallback onError)
        : AudioOutputStream(node.device, channels, std::move(render), std::move(onError)),
          PwStream(std::move(state), node) {
        LoopLock lock(m_state->loop.get());
        connect(PW_DIRECTION_OUTPUT, baseProperties("Playback"), channels, this,
                &streamEvents<PwOutput>());
    }

    ~PwOutput() override {
        LoopLock lock(m_state->loop.get());
        disconnect();
    }

    void ended(const QString& message) override { fail(message); }

private:
    friend const pw_stream_events& streamEvents<PwOutput>();
    // Audio thread.
    void process() noexcept {
        cycled();
        pw_buffer* b = pw_stream_dequeue_buffer(m_stream.get());
        if (!b)
            return;
        spa_data& data = b->buffer->datas[0];
        const int stride = int(sizeof(float)) * channels();
        if (!data.data || !data.chunk) {
            pw_stream_queue_buffer(m_stream.get(), b);
            return;
        }
        int frames = int(data.maxsize / uint32_t(stride));
        if (b->requested > 0)
            frames = std::min<int>(frames, int(b->requested));
        else
            frames = std::min(frames, 1024);
        pw_time time{};
        qint64 heard = hostNowNs();
        const bool timed = pw_stream_get_time_n(m_stream.get(), &time, sizeof time) == 0 &&
                           time.rate.denom != 0 && time.now != 0;
        if (timed) {
            const qint64 delay = ticksToNs(time.delay, time.rate);
            setLatencyNs(delay + framesToNs(int64_t(time.buffered)));
            heard = time.now + delay + framesToNs(int64_t(time.queued + time.buffered));
        }
        heard = m_stamps.next(heard, frames, graphPosition(time, timed));
        render(static_cast<float*>(data.data), frames, heard);
        data.chunk->offset = 0;
        data.chunk->stride = stride;
        data.chunk->size = uint32_t(frames * stride);
        b->size = uint64_t(frames);
        pw_stream_queue_buffer(m_stream.get(), b);
    }

    StampFilter m_stamps;
};

} // namespace

bool Connection::State::connectCore() {
    core.reset(pw_context_connect(context.get(), nullptr, 0));
    if (!core)
        return false;
    static const pw_core_events coreEvents = [] {
        pw_core_events e{};
        e.version = PW_VERSION_CORE_EVENTS;
        e.done = [](void* data, uint32_t id, int seq) {
            auto* st = static_cast<State*>(data);
            if (id == PW_ID_CORE && seq == st->pendingSeq) {
                st->synced = true;
                pw_thread_loop_signal(st->loop.get(), false);
            }
        };
        e.error = [](void* data, uint32_t id, int, int res, const char* message) {
            static_cast<State*>(data)->coreError(id, res, message);
        };
        return e;
    }();
    pw_core_add_listener(core.get(), &coreListener, &coreEvents, this);
    registry.reset(
        reinterpret_cast<pw_proxy*>(pw_core_get_registry(core.get(), PW_VERSION_REGISTRY, 0)));
    static const pw_registry_events registryEvents = [] {
        pw_registry_events e{};
        e.version = PW_VERSION_REGISTRY_EVENTS;
        e.global = [](void* data, uint32_t id, uint32_t, const char* type, uint32_t,
                      const spa_dict* props) {
            if (props)
                static_cast<State*>(data)->global(id, type, props);
        };
        e.global_remove = [](void* data, uint32_t id) {
            static_cast<State*>(data)->globalRemoved(id);
        };
        return e;
    }();
    pw_registry_add_listener(reinterpret_cast<pw_registry*>(registry.get()), &registryListener,
                             &registryEvents, this);
    return true;
}

Connection::Connection(std::shared_ptr<State> state) : d(std::move(state)) {}

// Streams keep the state alive through shared ownership; see openInput.
Connection::~Connection() {
    if (!d)
        return;
    LoopLock lock(d->loop.get());
    d->listener = {};
}

std::unique_ptr<Connection> Connection::open(Listener listener, QString* problem) {
    pw_init(nullptr, nullptr);
    auto state = std::make_unique<State>();
    state->listener = std::move(listener);
    state->loop.reset(pw_thread_loop_new("reelbox-sound", nullptr));
    if (!state->loop) {
        *problem = QStringLiteral("Can't start the sound thread.");
        return nullptr;
    }
    state->context.reset(pw_context_new(pw_thread_loop_get_loop(state->loop.get()), nullptr, 0));
    if (!state->context || pw_thread_loop_start(state->loop.get()) < 0) {
        *problem = QStringLiteral("Can't start PipeWire's client library.");
        return nullptr;
    }
    State* s = state.get();
    LoopLock lock(s->loop.get());
    if (!s->connectCore()) {
        *problem = QStringLiteral(
            "No sound server is running (PipeWire), so only the test devices are available.");
        return nullptr;
    }
    s->watchTimer = pw_loop_add_timer(
        pw_thread_loop_get_loop(s->loop.get()),
        [](void* data, uint64_t) { static_cast<State*>(data)->watch(); }, s);
    timespec interval{0, long(watchIntervalNs)};
    pw_loop_update_timer(pw_thread_loop_get_loop(s->loop.get()), s->watchTimer, &interval,
                         &interval, false);
    // The first round lists the globals and binds them; the second brings their details.
    const auto deadline = HostClock::now() + std::chrono::milliseconds(answerTimeoutMs);
    if (!s->roundTrip(deadline) || !s->roundTrip(deadline)) {
        *problem = QStringLiteral("The sound server (PipeWire) doesn't answer.");
        return nullptr;
    }
    s->ready = true;
    return std::unique_ptr<Connection>(new Connection(std::move(state)));
}

std::vector<Node> Connection::nodes() const {
    std::lock_guard lock(d->mutex);
    return d->nodes;
}

Defaults Connection::defaults() const {
    std::lock_guard lock(d->mutex);
    return d->defaults;
}

std::unique_ptr<AudioInputStream>
Connection::openInput(const QString& id, SoundInputCallback onBuffer, SoundErrorCallback onError) {
    const std::optional<Node> node = d->findNode(id);
    if (!node || d->broken)
        throw Error(QStringLiteral("The sound device \"%1\" isn't connected.").arg(id));
    return std::make_unique<PwInput>(d, *node, std::move(onBuffer), std::move(onError));
}

std::unique_ptr<AudioOutputStream> Connection::openOutput(const QString& id, int channels,
                                                          SoundOutputCallback render,
                                                          SoundErrorCallback onError) {
    const std::optional<Node> node = d->findNode(id);
    if (!node || d->broken)
        throw Error(QStringLiteral("The sound device \"%1\" isn't connected.").arg(id));
    if (channels < 1 || channels > int(SPA_AUDIO_MAX_CHANNELS))
        throw Error(QStringLiteral("Can't play %1 channels.").arg(channels));
    return std::make_unique<PwOutput>(d, *node, channels, std::move(render), std::move(onError));
}

} // namespace reelbox::pipewire
