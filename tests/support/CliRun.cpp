#include "support/CliRun.h"

#include <QProcess>
#include <gtest/gtest.h>

namespace reelbox::test {

CliResult runCli(const QStringList& args, const CliOptions& options) {
    QProcess process;
    process.setProcessEnvironment(options.environment);
    process.start(QStringLiteral(REELBOX_CLI), args);
    if (!options.input.isEmpty())
        process.write(options.input);
    process.closeWriteChannel();
    EXPECT_TRUE(process.waitForFinished(options.timeoutMs))
        << "reelbox-cli " << args.join(u' ').toStdString() << " went on too long";
    return {process.exitCode(), QString::fromUtf8(process.readAllStandardOutput()),
            QString::fromUtf8(process.readAllStandardError())};
}

QString cliOutput(const QStringList& args, const CliOptions& options) {
    const CliResult result = runCli(args, options);
    EXPECT_EQ(result.status, 0) << "reelbox-cli " << args.join(u' ').toStdString() << ": "
                                << result.err.toStdString();
    return result.out.trimmed();
}

} // namespace reelbox::test
