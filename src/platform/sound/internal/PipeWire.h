#pragma once

#include "platform/sound/AudioStreams.h"

#include <functional>
#include <memory>
#include <vector>

namespace reelbox::pipewire {

struct Node {
    quint32 globalId = 0;
    SoundDevice device;
    bool isSink = false;
    bool isSource = false;
};

struct Defaults {
    QString source; // node.name, empty when the server names none
    QString sink;
};

// One connection to the PipeWire daemon with its own loop thread. Knows the sound nodes and
// the default devices, reports hot-plug, and opens streams.
class Connection {
public:
    struct Listener {
        // On the loop thread.
        std::function<void(const SoundDevice&)> nodeAdded;
        std::function<void(const QString& id)> nodeRemoved;
        std::function<void()> defaultsChanged;
    };

    // Null when no daemon answers; `problem` then says why.
    static std::unique_ptr<Connection> open(Listener listener, QString* problem);
    ~Connection();

    // Sources and sinks in the registry's order.
    std::vector<Node> nodes() const;
    Defaults defaults() const;

    // Throws reelbox::Error with the server's text when the stream can't be started.
    std::unique_ptr<AudioInputStream> openInput(const QString& id, SoundInputCallback onBuffer,
                                                SoundErrorCallback onError);
    std::unique_ptr<AudioOutputStream> openOutput(const QString& id, int channels,
                                                  SoundOutputCallback render,
                                                  SoundErrorCallback onError);

    struct State;

private:
    explicit Connection(std::shared_ptr<State> state);
    std::shared_ptr<State> d;
};

} // namespace reelbox::pipewire
