#pragma once

#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>
#include <optional>

namespace reelbox::cli {

// One call of a command as the command line parser read it: its positional arguments, already
// counted against the command table, and its options. The typed readers throw UsageError.
class Arguments {
public:
    Arguments(QString command, QStringList positionals, QHash<QString, QString> values,
              QStringList flags);

    const QString& command() const { return m_command; }
    // The i-th positional argument; empty when it wasn't given.
    QString positional(qsizetype i) const { return m_positionals.value(i); }
    qsizetype positionalCount() const { return m_positionals.size(); }

    bool isSet(const QString& option) const;
    // The option's value (the last one when given more than once).
    std::optional<QString> value(const QString& option) const;
    QString value(const QString& option, const QString& fallback) const;

    // A number of at least `minimum` ("--NAME needs a number of at least MINIMUM").
    std::optional<double> number(const QString& option, double minimum) const;
    // A whole number of at least `minimum`.
    std::optional<int> wholeNumber(const QString& option, int minimum) const;
    // A number above 0, or a whole number from 0; otherwise a bad value (below).
    std::optional<double> positiveNumber(const QString& option) const;
    std::optional<int> count(const QString& option) const;
    // A list of input numbers, 1 or more, separated by commas.
    std::optional<QList<int>> inputList(const QString& option) const;
    // Throws UsageError "COMMAND: bad value for --NAME".
    [[noreturn]] void badValue(const QString& option) const;

private:
    QString m_command;
    QStringList m_positionals;
    QHash<QString, QString> m_values;
    QStringList m_flags;
};

} // namespace reelbox::cli
