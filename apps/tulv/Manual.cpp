#include "Manual.h"

#include "Effects.h"

#include <QRegularExpression>
#include <QSet>

namespace {

// Text as man(7) shows it verbatim: a backslash or a line that begins with
// a dot or a quote would otherwise be read as a request.
QString verbatim(const QString& text)
{
    QStringList lines = text.split(QLatin1Char('\n'));
    if (!lines.isEmpty() && lines.last().isEmpty())
        lines.removeLast();
    for (QString& line : lines) {
        line.replace(QLatin1Char('\\'), QStringLiteral("\\e")).replace(QLatin1Char('-'), QStringLiteral("\\-"));
        if (line.startsWith(QLatin1Char('.')) || line.startsWith(QLatin1Char('\'')))
            line.prepend(QStringLiteral("\\&"));
    }
    return QStringLiteral(".nf\n") + lines.join(QLatin1Char('\n')) + QStringLiteral("\n.fi\n");
}

// The options a --help table lists, as typed: "--start", "-q", "--quiet".
QStringList optionsOf(const QString& help)
{
    QStringList names;
    const QRegularExpression row(QStringLiteral("^  (-[a-zA-Z], )?(--[a-z0-9-]+)"), QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(help); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        if (match.capturedLength(1) > 0)
            names << match.captured(1).left(2);
        names << match.captured(2);
    }
    return names;
}

// The options that take a value ("--start S"), and of them those whose
// value is not a file name.
void valueOptionsOf(const QString& help, QSet<QString>& all, QSet<QString>& notFiles)
{
    const QRegularExpression row(QStringLiteral("^  (?:-[a-zA-Z], )?(--[a-z0-9-]+) ([A-Z=_]+)"), QRegularExpression::MultilineOption);
    for (auto it = row.globalMatch(help); it.hasNext();) {
        const QRegularExpressionMatch match = it.next();
        all.insert(match.captured(1));
        if (match.captured(2) != QLatin1String("FILE") && match.captured(2) != QLatin1String("DIR"))
            notFiles.insert(match.captured(1));
    }
}

QString alternatives(const QSet<QString>& names)
{
    QStringList sorted = names.values();
    sorted.sort();
    return sorted.join(QLatin1Char('|'));
}

} // namespace

QString manualPage(const QString& usage, const std::vector<CommandHelp>& commands, const QString& version)
{
    QString page = QStringLiteral(".TH TULV 1 \"\" \"tulv %1\" \"User Commands\"\n").arg(version);
    page += QStringLiteral(".SH NAME\ntulv \\- read, process, split and write recorded sound\n");
    page += QStringLiteral(".SH SYNOPSIS\n.B tulv\n[\\-\\-verbose|\\-\\-debug]\n.I COMMAND\n[\\fIARGUMENTS\\fR...]\n");
    page += QStringLiteral(".SH DESCRIPTION\n") + verbatim(usage);
    page += QStringLiteral(".SH COMMANDS\n");
    for (const CommandHelp& command : commands)
        page += QStringLiteral(".SS tulv %1\n%2.\n.PP\n%3").arg(command.name, command.summary, verbatim(command.help));
    page += QStringLiteral(".SH EFFECTS\n") + verbatim(effectListText());
    page += QStringLiteral(".SH SEE ALSO\n.BR sox (1)\n");
    return page;
}

QString bashCompletion(const std::vector<CommandHelp>& commands)
{
    QStringList names;
    QString optionCases, valueCases;
    QSet<QString> valueOptions, notFiles;
    for (const CommandHelp& command : commands) {
        names << command.name;
        optionCases += QStringLiteral("        %1) options=\"%2\" ;;\n").arg(command.name, optionsOf(command.help).join(QLatin1Char(' ')));
        valueOptionsOf(command.help, valueOptions, notFiles);
    }
    QStringList effects, flags, presets;
    for (const EffectKind& kind : effectKinds()) {
        effects << QLatin1String(kind.name);
        for (const EffectFlag& flag : kind.flags)
            flags << QStringLiteral("--") + QLatin1String(flag.name);
        if (QLatin1String(kind.name) == QLatin1String("preset"))
            presets = kind.arguments.front().words;
    }
    flags.removeDuplicates();
    QString script = QStringLiteral(R"(# bash completion for tulv; made by 'tulv --completion'.
_tulv()
{
    local cur=${COMP_WORDS[COMP_CWORD]} prev=${COMP_WORDS[COMP_CWORD-1]}
    local i command="" first=0 options=""
    for ((i = 1; i < COMP_CWORD; i++)); do
        case ${COMP_WORDS[i]} in
            --verbose|--debug) ;;
            *) command=${COMP_WORDS[i]}; first=$i; break ;;
        esac
    done
    if [[ -z $command ]]; then
        COMPREPLY=($(compgen -W "@COMMANDS@ --help --version --verbose --debug" -- "$cur"))
        return
    fi
    case $command in
@OPTIONCASES@    esac
    case $prev in
        --format) COMPREPLY=($(compgen -W "int8 int16 int24 int32 float double" -- "$cur")); return ;;
        --to) COMPREPLY=($(compgen -W "wav flac ogg mp3 aiff raw" -- "$cur")); return ;;
        --fft) COMPREPLY=($(compgen -W "256 512 1024 2048 4096 8192 16384 32768 65536" -- "$cur")); return ;;
        preset) [[ $command == process ]] && { COMPREPLY=($(compgen -W "@PRESETS@" -- "$cur")); return; } ;;
        @NOTFILES@) return ;;
    esac
    if [[ $command == process ]]; then
        # After IN and OUT come the effects.
        local files=0
        for ((i = first + 1; i < COMP_CWORD; i++)); do
            case ${COMP_WORDS[i]} in
                @VALUEOPTIONS@) ((i++)) ;;
                -?*) ;;
                *) ((files++)) ;;
            esac
        done
        if ((files >= 2)); then
            if [[ $cur == --* ]]; then
                COMPREPLY=($(compgen -W "@FLAGS@ $options" -- "$cur"))
            else
                COMPREPLY=($(compgen -W "@EFFECTS@" -- "$cur"))
            fi
            return
        fi
    fi
    if [[ $cur == -* ]]; then
        COMPREPLY=($(compgen -W "$options --help" -- "$cur"))
        return
    fi
    compopt -o filenames 2>/dev/null
    COMPREPLY=($(compgen -f -- "$cur"))
}
complete -F _tulv tulv
)");
    script.replace(QLatin1String("@COMMANDS@"), names.join(QLatin1Char(' ')));
    script.replace(QLatin1String("@OPTIONCASES@"), optionCases);
    script.replace(QLatin1String("@PRESETS@"), presets.join(QLatin1Char(' ')));
    script.replace(QLatin1String("@VALUEOPTIONS@"), alternatives(valueOptions));
    script.replace(QLatin1String("@NOTFILES@"), alternatives(notFiles));
    script.replace(QLatin1String("@FLAGS@"), flags.join(QLatin1Char(' ')));
    script.replace(QLatin1String("@EFFECTS@"), effects.join(QLatin1Char(' ')));
    return script;
}
