#pragma once

#include <QByteArray>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>

namespace reelbox::test {

// What a reelbox-cli call ended with.
struct CliResult {
    int status = -1;
    QString out;
    QString err;
};

struct CliOptions {
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    QByteArray input; // standard input, closed after it
    int timeoutMs = 120000;
};

// Runs reelbox-cli (the one this test target was built with) and waits for it.
CliResult runCli(const QStringList& args, const CliOptions& options = {});

// The call's standard output, trimmed; a failing call fails the test, with its error output.
QString cliOutput(const QStringList& args, const CliOptions& options = {});

} // namespace reelbox::test
