#include "Commands.h"
#include "Output.h"

#include "Error.h"

#include <QCoreApplication>

using namespace reelbox::cli;

namespace {

const char* const usageText = R"(Usage: reelbox-cli COMMAND [OPTIONS]

Commands:
  takes [--root DIR] [--json]       list the takes of the library, newest first
  info TAKE_DIR [--derived]         print a take's record as it would be saved now,
                                    or with --derived its timeline facts as JSON
  demo-record --root DIR            save a demonstration take record into a library

Options:
  -h, --help                        show this text

Exit status: 0 on success, 1 when the work failed, 2 on a wrong call.)";

} // namespace

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Reelbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Reelbox"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    if (args.isEmpty()) {
        printError(QString::fromUtf8(usageText));
        return usage;
    }
    const QString command = args.takeFirst();
    if (command == u"-h" || command == u"--help" || command == u"help") {
        printLine(QString::fromUtf8(usageText));
        return success;
    }
    if (args.contains(u"-h") || args.contains(u"--help")) {
        printLine(QString::fromUtf8(usageText));
        return success;
    }
    try {
        if (command == u"takes")
            return runTakes(args);
        if (command == u"info")
            return runInfo(args);
        if (command == u"demo-record")
            return runDemoRecord(args);
        throw UsageError{QStringLiteral("unknown command \"%1\"").arg(command)};
    } catch (const UsageError& e) {
        printError(
            QStringLiteral("reelbox-cli: %1\n\n%2").arg(e.message, QString::fromUtf8(usageText)));
        return usage;
    } catch (const reelbox::Error& e) {
        printError(QStringLiteral("reelbox-cli: %1").arg(e.message()));
        return failure;
    }
}
