#include "Arguments.h"

#include "Commands.h"

#include <QRegularExpression>

#include <cmath>

namespace {

const OptionInfo kHelpOption = { "h,help", nullptr, "this text" };
// Where the descriptions of the option table start.
const int kHelpColumn = 18;

QStringList namesOf(const OptionInfo& option)
{
    return QString::fromLatin1(option.names).split(QLatin1Char(','));
}

// "--name" for a long name, "-n" for a letter: as the user would type it.
QString dashed(const QString& name)
{
    return (name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--")) + name;
}

// "-q, --quiet" or "--format F".
QString synopsis(const OptionInfo& option)
{
    QStringList shown;
    for (const QString& name : namesOf(option))
        shown << dashed(name);
    QString text = shown.join(QStringLiteral(", "));
    if (option.valueName)
        text += QLatin1Char(' ') + QLatin1String(option.valueName);
    return text;
}

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

Arguments::Arguments(const CommandInfo& command)
    : mCommand(command)
{
    mParser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsCompactedShortOptions);
    auto add = [this](const OptionInfo& option) {
        QCommandLineOption entry(namesOf(option));
        if (option.valueName)
            entry.setValueName(QLatin1String(option.valueName));
        mParser.addOption(entry);
    };
    for (const OptionInfo& option : mCommand.options)
        add(option);
    add(kHelpOption);
}

std::optional<int> Arguments::parse(const QStringList& arguments)
{
    // The parser takes the first item for the program's name.
    if (!mParser.parse(QStringList{ QStringLiteral("tulv") } + arguments)) {
        mError = translateError();
        return usageError();
    }
    if (has("help")) {
        printOut(helpText());
        return ExitOk;
    }
    for (const OptionInfo& option : mCommand.options) {
        const QString name = namesOf(option).constLast();
        if (option.valueName && !option.repeatable && mParser.values(name).size() > 1) {
            mError = QStringLiteral("option '--%1' given more than once").arg(name);
            return usageError();
        }
    }
    mPositional = mParser.positionalArguments();
    return std::nullopt;
}

QString Arguments::translateError() const
{
    const QStringList unknown = mParser.unknownOptionNames();
    if (!unknown.isEmpty())
        return QStringLiteral("unknown option '%1'").arg(dashed(unknown.first()));
    // The parser's other failures name the option as typed, in quotes.
    const QString text = mParser.errorText();
    const QRegularExpressionMatch quoted = QRegularExpression(QStringLiteral("'([^']*)'")).match(text);
    QString option = quoted.hasMatch() ? quoted.captured(1) : QString();
    option = option.left(option.indexOf(QLatin1Char('=')));
    if (text.startsWith(QLatin1String("Missing value")))
        return QStringLiteral("option '%1' needs a value").arg(option);
    if (text.startsWith(QLatin1String("Unexpected value")))
        return QStringLiteral("option '%1' takes no value").arg(option);
    return text;
}

QString Arguments::helpText() const
{
    QString text = QString::fromUtf8(mCommand.usage);
    text += QStringLiteral("\nOptions:\n");
    auto row = [&text](const OptionInfo& option) {
        const QString indent(kHelpColumn + 2, QLatin1Char(' '));
        const QString name = synopsis(option);
        text += QStringLiteral("  ") + name;
        text += name.size() < kHelpColumn ? QString(kHelpColumn - name.size(), QLatin1Char(' '))
                                          : QStringLiteral("\n") + indent;
        text += QString::fromUtf8(option.help).replace(QLatin1Char('\n'), QLatin1Char('\n') + indent);
        text += QLatin1Char('\n');
    };
    for (const OptionInfo& option : mCommand.options)
        row(option);
    row(kHelpOption);
    if (mCommand.epilogue)
        text += QLatin1Char('\n') + QString::fromUtf8(mCommand.epilogue);
    return text;
}

bool Arguments::has(const char* name) const
{
    return mParser.isSet(QLatin1String(name));
}

QString Arguments::value(const char* name) const
{
    const QStringList list = values(name);
    return list.isEmpty() ? QString() : list.last();
}

QStringList Arguments::values(const char* name) const
{
    return mParser.values(QLatin1String(name));
}

QStringList Arguments::optionArguments(const QStringList& except) const
{
    QStringList items;
    for (const OptionInfo& option : mCommand.options) {
        const QString name = namesOf(option).constLast();
        if (except.contains(name) || !mParser.isSet(name))
            continue;
        if (!option.valueName)
            items << QStringLiteral("--") + name;
        for (const QString& value : values(name.toLatin1().constData()))
            items << QStringLiteral("--%1=%2").arg(name, value);
    }
    return items;
}

bool Arguments::number(const char* name, double& out, double low, double high)
{
    if (!has(name))
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
    if (!has(name))
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
    printError(QStringLiteral("%1: %2 (see 'tulv %1 --help')").arg(QLatin1String(mCommand.name), message));
    return ExitUsage;
}
