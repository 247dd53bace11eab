#include "Arguments.h"

#include "Commands.h"

#include <cmath>

Arguments::Arguments(QString command, std::vector<OptionSpec> entries)
    : mCommand(std::move(command))
    , mSpecs(std::move(entries))
{
}

const OptionSpec* Arguments::find(const QString& name) const
{
    for (const OptionSpec& entry : mSpecs)
        if (name == QLatin1String(entry.name))
            return &entry;
    return nullptr;
}

const OptionSpec* Arguments::findShort(QChar letter) const
{
    for (const OptionSpec& entry : mSpecs)
        if (entry.shortName && letter == QLatin1Char(entry.shortName))
            return &entry;
    return nullptr;
}

bool Arguments::parse(const QStringList& arguments)
{
    bool optionsEnded = false;
    for (int i = 0; i < arguments.size(); ++i) {
        const QString& argument = arguments.at(i);
        // A lone "-" is a name (a file called "-"), never an option.
        if (optionsEnded || !argument.startsWith(QLatin1Char('-')) || argument == QLatin1String("-")) {
            mPositional << argument;
            continue;
        }
        if (argument == QLatin1String("--")) {
            optionsEnded = true;
            continue;
        }
        const OptionSpec* entry = nullptr;
        QString inlineValue;
        bool hasInlineValue = false;
        if (argument.startsWith(QLatin1String("--"))) {
            QString name = argument.mid(2);
            const int equals = name.indexOf(QLatin1Char('='));
            if (equals >= 0) {
                inlineValue = name.mid(equals + 1);
                hasInlineValue = true;
                name.truncate(equals);
            }
            entry = find(name);
        } else if (argument.size() == 2) {
            entry = findShort(argument.at(1));
        }
        if (!entry) {
            mError = QStringLiteral("unknown option '%1'").arg(argument);
            return false;
        }
        const QString name = QLatin1String(entry->name);
        if (!entry->takesValue) {
            if (hasInlineValue) {
                mError = QStringLiteral("option '--%1' takes no value").arg(name);
                return false;
            }
            mFlags.insert(name);
            continue;
        }
        QString value;
        if (hasInlineValue) {
            value = inlineValue;
        } else if (i + 1 < arguments.size()) {
            value = arguments.at(++i);
        } else {
            mError = QStringLiteral("option '--%1' needs a value").arg(name);
            return false;
        }
        if (!entry->repeatable && mValues.contains(name)) {
            mError = QStringLiteral("option '--%1' given more than once").arg(name);
            return false;
        }
        mValues[name] << value;
    }
    return true;
}

bool Arguments::has(const char* name) const
{
    const QString key = QLatin1String(name);
    return mFlags.contains(key) || mValues.contains(key);
}

QString Arguments::value(const char* name) const
{
    const QStringList list = mValues.value(QLatin1String(name));
    return list.isEmpty() ? QString() : list.last();
}

QStringList Arguments::values(const char* name) const
{
    return mValues.value(QLatin1String(name));
}

namespace {

// Stores `parsed` in `out` when it lies in [low, high]; otherwise the error
// names the option and the range.
template <typename T>
bool storeInRange(const char* name, const QString& text, T parsed, T low, T high, T& out, QString& error)
{
    if (parsed < low || parsed > high) {
        error = QStringLiteral("option '--%1' must lie between %2 and %3, not %4")
                    .arg(QLatin1String(name))
                    .arg(low)
                    .arg(high)
                    .arg(text);
        return false;
    }
    out = parsed;
    return true;
}

} // namespace

bool Arguments::number(const char* name, double& out, double low, double high)
{
    if (!mValues.contains(QLatin1String(name)))
        return true;
    const QString text = value(name);
    bool ok = false;
    const double parsed = text.toDouble(&ok);
    if (!ok || !std::isfinite(parsed)) {
        mError = QStringLiteral("option '--%1' needs a number, not '%2'").arg(QLatin1String(name), text);
        return false;
    }
    return storeInRange(name, text, parsed, low, high, out, mError);
}

bool Arguments::integer(const char* name, int& out, int low, int high)
{
    if (!mValues.contains(QLatin1String(name)))
        return true;
    const QString text = value(name);
    bool ok = false;
    const int parsed = text.toInt(&ok);
    if (!ok) {
        mError = QStringLiteral("option '--%1' needs a whole number, not '%2'").arg(QLatin1String(name), text);
        return false;
    }
    return storeInRange(name, text, parsed, low, high, out, mError);
}

int Arguments::usageError(const QString& message) const
{
    printError(QStringLiteral("%1: %2 (see 'tulv %1 --help')").arg(mCommand, message));
    return ExitUsage;
}
