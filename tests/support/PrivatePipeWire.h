#pragma once

#include <QJsonArray>
#include <QProcess>
#include <QString>
#include <QTemporaryDir>

namespace reelbox::test {

// A PipeWire daemon and WirePlumber of this test alone, in a temporary XDG_RUNTIME_DIR under
// dbus-run-session; no sound card needed. Points this process's XDG_RUNTIME_DIR at it.
// Throws std::runtime_error (with the daemon's output) when it can't start.
class PrivatePipeWire {
public:
    PrivatePipeWire();
    ~PrivatePipeWire();

    // A null node ("Audio/Sink" or "Audio/Source") with AUX0… positions that stays until
    // removed; returns once the daemon lists it.
    void addNullNode(const QString& name, const QString& description, const QString& mediaClass,
                     int channels);
    void removeNode(const QString& name);

    // Ends the daemon and the session manager at once. Unless `keepEnvironment`, this
    // process's XDG_RUNTIME_DIR points where it did before.
    void stop(bool keepEnvironment = false);
    // Starts them again, in the same folder (as after a restart of the user's daemon).
    void start();
    // Stops the daemon process (SIGSTOP) or lets it go on, as a frozen server.
    void freeze(bool frozen);

    // Everything the daemon knows, as pw-dump prints it.
    QJsonArray dump() const;

private:
    QString run(const QString& program, const QStringList& args) const;
    int nodeId(const QString& name) const;

    QTemporaryDir m_dir;
    QProcess m_daemon;
    QByteArray m_savedRuntimeDir;
};

} // namespace reelbox::test
