#pragma once

#include "model/TakeInfo.h"

#include <QByteArray>
#include <QString>
#include <QTemporaryDir>

namespace reelbox::test {

// A temporary folder that is also HOME and every XDG folder for the test's lifetime,
// so nothing touches the real home folder.
class TemporaryHome {
public:
    TemporaryHome();
    ~TemporaryHome();
    QString path() const { return m_dir.path(); }
    QString filePath(const QString& name) const { return m_dir.filePath(name); }

private:
    QTemporaryDir m_dir;
    QByteArray m_savedHome, m_savedData, m_savedCache, m_savedConfig;
};

// A whole-second UTC date.
QDateTime utc(int year, int month, int day, int hour, int minute, int second);

// A record with every field set to something other than its default.
TakeInfo fullTakeInfo();

void writeFile(const QString& path, const QByteArray& bytes);
QByteArray readFile(const QString& path);

} // namespace reelbox::test
