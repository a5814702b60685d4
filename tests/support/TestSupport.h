#pragma once

#include "model/TakeInfo.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>
#include <functional>

namespace reelbox::test {

// An environment variable set for the lifetime of the object; the earlier value comes back.
class ScopedEnvironment {
public:
    ScopedEnvironment(const char* name, const QByteArray& value);
    ~ScopedEnvironment();
    ScopedEnvironment(const ScopedEnvironment&) = delete;
    ScopedEnvironment& operator=(const ScopedEnvironment&) = delete;

private:
    const char* m_name;
    bool m_had;
    QByteArray m_old;
};

// A temporary folder that is also HOME and every XDG folder for the test's lifetime,
// so nothing touches the real home folder.
class TemporaryHome {
public:
    TemporaryHome();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QByteArray folder(const char* name) const;

    QTemporaryDir m_dir;
    ScopedEnvironment m_home, m_data, m_cache, m_config;
};

// A whole-second UTC date.
QDateTime utc(int year, int month, int day, int hour, int minute, int second);

// A record with every field set to something other than its default.
TakeInfo fullTakeInfo();

void writeFile(const QString& path, const QByteArray& bytes);

// Makes the QCoreApplication that event loops, timers and queued calls need, once per process.
void ensureApplication();
// Runs the event loop until `done` holds; false after `timeoutMs`.
bool waitFor(const std::function<bool()>& done, int timeoutMs = 20000);
// Runs the event loop for a while.
void runEvents(int milliseconds);
QByteArray readFile(const QString& path);

} // namespace reelbox::test
