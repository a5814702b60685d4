#include "PrivatePipeWire.h"

#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>
#include <QThread>

#include <csignal>
#include <stdexcept>
#include <unistd.h>

namespace reelbox::test {

namespace {

// pipewire first; WirePlumber once the daemon's socket exists. The whole session ends when the
// test process does, even when it is killed.
const char* const startScript = R"(
(while kill -0 "$REELBOX_TEST_PID" 2>/dev/null; do sleep 0.5; done; kill -TERM 0) &
pipewire &
echo $! > "$XDG_RUNTIME_DIR/pipewire.pid"
i=0
while [ ! -S "$XDG_RUNTIME_DIR/pipewire-0" ] && [ $i -lt 250 ]; do sleep 0.02; i=$((i+1)); done
exec wireplumber
)";

// Property `key` of the object if it is of `type` (a node, a client), else null.
QJsonValue property(const QJsonValue& object, QStringView type, QStringView key) {
    const QJsonObject o = object.toObject();
    if (!o.value(u"type").toString().endsWith(type))
        return {};
    return o.value(u"info").toObject().value(u"props").toObject().value(key);
}

bool sessionReady(const QJsonArray& objects) {
    // WirePlumber's second client appears once it has exported its objects (the defaults).
    bool manager = false, exported = false;
    for (const QJsonValue& v : objects) {
        const QString name = property(v, u"Client", u"application.name").toString();
        manager = manager || name == u"WirePlumber";
        exported = exported || name == u"WirePlumber [export]";
    }
    return manager && exported;
}

} // namespace

PrivatePipeWire::PrivatePipeWire() : m_savedRuntimeDir(qgetenv("XDG_RUNTIME_DIR")) {
    if (!m_dir.isValid())
        throw std::runtime_error("no temporary folder for PipeWire");
    start();
}

void PrivatePipeWire::start() {
    const QString root = m_dir.path();
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(u"XDG_RUNTIME_DIR"_qs, root);
    env.insert(u"XDG_STATE_HOME"_qs, root + QStringLiteral("/state"));
    env.insert(u"XDG_CONFIG_HOME"_qs, root + QStringLiteral("/config"));
    env.insert(u"XDG_DATA_HOME"_qs, root + QStringLiteral("/data"));
    env.insert(u"REELBOX_TEST_PID"_qs, QString::number(QCoreApplication::applicationPid()));
    env.remove(u"PIPEWIRE_REMOTE"_qs);
    env.remove(u"PIPEWIRE_RUNTIME_DIR"_qs);
    env.remove(u"DBUS_SESSION_BUS_ADDRESS"_qs);
    m_daemon.setProcessEnvironment(env);
    m_daemon.setProcessChannelMode(QProcess::MergedChannels);
    m_daemon.setChildProcessModifier([] { ::setsid(); });
    m_daemon.start(u"dbus-run-session"_qs,
                   {u"--"_qs, u"sh"_qs, u"-c"_qs, QString::fromUtf8(startScript)});
    if (!m_daemon.waitForStarted(3000))
        throw std::runtime_error("can't start dbus-run-session: " +
                                 m_daemon.errorString().toStdString());
    qputenv("XDG_RUNTIME_DIR", root.toUtf8());
    qunsetenv("PIPEWIRE_REMOTE");

    const QDeadlineTimer deadline(8000);
    while (!sessionReady(dump())) {
        if (deadline.hasExpired() || m_daemon.state() == QProcess::NotRunning) {
            const std::string output = m_daemon.readAll().toStdString();
            stop();
            throw std::runtime_error("the private PipeWire session didn't start: " + output);
        }
        QThread::msleep(50);
    }
}

PrivatePipeWire::~PrivatePipeWire() {
    stop();
}

void PrivatePipeWire::freeze(bool frozen) {
    QFile file(m_dir.filePath(QStringLiteral("pipewire.pid")));
    const int pid = file.open(QIODevice::ReadOnly) ? file.readAll().trimmed().toInt() : 0;
    if (pid > 0 && m_daemon.state() != QProcess::NotRunning)
        ::kill(pid_t(pid), frozen ? SIGSTOP : SIGCONT);
}

void PrivatePipeWire::stop(bool keepEnvironment) {
    freeze(false);
    if (m_daemon.state() != QProcess::NotRunning) {
        const qint64 group = m_daemon.processId();
        ::kill(-pid_t(group), SIGTERM);
        if (!m_daemon.waitForFinished(3000)) {
            ::kill(-pid_t(group), SIGKILL);
            m_daemon.waitForFinished(1000);
        }
        // The daemon may outlive the session by a moment; it removes its socket last.
        const QDeadlineTimer deadline(2000);
        while (QFile::exists(m_dir.filePath(QStringLiteral("pipewire-0.lock"))) &&
               !deadline.hasExpired())
            QThread::msleep(10);
    }
    if (!keepEnvironment)
        qputenv("XDG_RUNTIME_DIR", m_savedRuntimeDir);
}

QString PrivatePipeWire::run(const QString& program, const QStringList& args) const {
    QProcess process;
    process.start(program, args);
    if (!process.waitForFinished(5000) || process.exitCode() != 0)
        throw std::runtime_error((program + u' ' + args.join(u' ') + QStringLiteral(" failed: ") +
                                  QString::fromUtf8(process.readAllStandardError()))
                                     .toStdString());
    return QString::fromUtf8(process.readAllStandardOutput());
}

QJsonArray PrivatePipeWire::dump() const {
    QProcess process;
    process.start(u"pw-dump"_qs, {});
    if (!process.waitForFinished(3000))
        return {};
    return QJsonDocument::fromJson(process.readAllStandardOutput()).array();
}

int PrivatePipeWire::nodeId(const QString& name) const {
    for (const QJsonValue& v : dump())
        if (property(v, u"Node", u"node.name") == QJsonValue(name))
            return v.toObject().value(u"id").toInt();
    return -1;
}

void PrivatePipeWire::addNullNode(const QString& name, const QString& description,
                                  const QString& mediaClass, int channels) {
    QStringList positions;
    for (int c = 0; c < channels; ++c)
        positions << QStringLiteral("AUX%1").arg(c);
    const QString props =
        QStringLiteral("{ factory.name=support.null-audio-sink node.name=\"%1\" "
                       "node.description=\"%2\" media.class=%3 audio.channels=%4 "
                       "audio.position=[ %5 ] object.linger=true monitor.channel-volumes=true }")
            .arg(name, description, mediaClass)
            .arg(channels)
            .arg(positions.join(u' '));
    run(u"pw-cli"_qs, {u"create-node"_qs, u"adapter"_qs, props});
    const QDeadlineTimer deadline(3000);
    while (nodeId(name) < 0) {
        if (deadline.hasExpired())
            throw std::runtime_error("the node " + name.toStdString() + " didn't appear");
        QThread::msleep(20);
    }
}

void PrivatePipeWire::removeNode(const QString& name) {
    const int id = nodeId(name);
    if (id < 0)
        throw std::runtime_error("no node " + name.toStdString());
    run(u"pw-cli"_qs, {u"destroy"_qs, QString::number(id)});
}

} // namespace reelbox::test
