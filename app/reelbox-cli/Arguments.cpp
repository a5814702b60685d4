#include "Arguments.h"
#include "Commands.h"

namespace reelbox::cli {

Arguments::Arguments(QString command, QStringList positionals, QHash<QString, QString> values,
                     QStringList flags)
    : m_command(std::move(command)), m_positionals(std::move(positionals)),
      m_values(std::move(values)), m_flags(std::move(flags)) {}

bool Arguments::isSet(const QString& option) const {
    return m_flags.contains(option) || m_values.contains(option);
}

std::optional<QString> Arguments::value(const QString& option) const {
    const auto found = m_values.constFind(option);
    if (found == m_values.constEnd())
        return std::nullopt;
    return *found;
}

QString Arguments::value(const QString& option, const QString& fallback) const {
    return value(option).value_or(fallback);
}

std::optional<double> Arguments::number(const QString& option, double minimum) const {
    const std::optional<QString> text = value(option);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double number = text->toDouble(&ok);
    if (!ok || !(number >= minimum))
        throw UsageError{
            QStringLiteral("--%1 needs a number of at least %2").arg(option).arg(minimum)};
    return number;
}

std::optional<int> Arguments::wholeNumber(const QString& option, int minimum) const {
    const std::optional<QString> text = value(option);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const int number = text->toInt(&ok);
    if (!ok || number < minimum)
        throw UsageError{
            QStringLiteral("--%1 needs a whole number of at least %2").arg(option).arg(minimum)};
    return number;
}

std::optional<double> Arguments::positiveNumber(const QString& option) const {
    const std::optional<QString> text = value(option);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const double number = text->toDouble(&ok);
    if (!ok || !(number > 0))
        badValue(option);
    return number;
}

std::optional<int> Arguments::count(const QString& option) const {
    const std::optional<QString> text = value(option);
    if (!text)
        return std::nullopt;
    bool ok = false;
    const int number = text->toInt(&ok);
    if (!ok || number < 0)
        badValue(option);
    return number;
}

std::optional<QList<int>> Arguments::inputList(const QString& option) const {
    const std::optional<QString> text = value(option);
    if (!text)
        return std::nullopt;
    QList<int> inputs;
    for (const QString& part : text->split(u',')) {
        bool ok = false;
        const int n = part.toInt(&ok);
        if (!ok || n < 1)
            badValue(option);
        inputs.append(n);
    }
    return inputs;
}

void Arguments::badValue(const QString& option) const {
    throw UsageError{QStringLiteral("%1: bad value for --%2").arg(m_command, option)};
}

} // namespace reelbox::cli
