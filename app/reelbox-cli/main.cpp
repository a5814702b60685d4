#include "CommandTable.h"
#include "Commands.h"
#include "Interruption.h"
#include "Output.h"

#include "platform/Error.h"

#include <QCoreApplication>
#include <exception>
#include <new>

using namespace reelbox::cli;

int main(int argc, char* argv[]) {
    // Before any thread starts, so that every thread leaves the signals to the watcher.
    const Interruption interruption;
    QCoreApplication app(argc, argv);
    QCoreApplication::setOrganizationName(QStringLiteral("Reelbox"));
    QCoreApplication::setApplicationName(QStringLiteral("Reelbox"));

    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    const std::stop_token stop = interruption.token();
    // A failure that comes after SIGINT or SIGTERM counts as the stop it probably is.
    const auto failed = [&](int status) {
        return interruption.signal() != 0 ? interruption.exitStatus() : status;
    };
    try {
        if (args.isEmpty())
            throw UsageError{QStringLiteral("which command?")};
        const QString name = args.takeFirst();
        if (name == u"-h" || name == u"--help" || name == u"help") {
            printLine(usageText());
            return success;
        }
        const Command* command = findCommand(name);
        if (!command)
            throw UsageError{QStringLiteral("unknown command \"%1\"").arg(name)};
        const Arguments call = parseCall(*command, args);
        if (call.isSet(QStringLiteral("help"))) {
            printLine(usageText());
            return success;
        }
        return command->run(call, stop);
    } catch (const UsageError& e) {
        printError(QStringLiteral("reelbox-cli: %1\n\n%2").arg(e.message, usageText()));
        return usage;
    } catch (const reelbox::Cancelled&) {
        return failed(failure);
    } catch (const reelbox::Error& e) {
        if (interruption.signal() == 0)
            printError(QStringLiteral("reelbox-cli: %1").arg(e.message()));
        return failed(failure);
    } catch (const std::bad_alloc&) {
        printError(QStringLiteral("reelbox-cli: there isn't enough memory for this"));
        return failed(failure);
    } catch (const std::exception& e) {
        printError(QStringLiteral("reelbox-cli: %1").arg(QString::fromLocal8Bit(e.what())));
        return failed(failure);
    } catch (...) {
        printError(QStringLiteral("reelbox-cli: an unexpected failure"));
        return failed(failure);
    }
}
