#include "Arguments.h"
#include "Commands.h"
#include "ConvertChecks.h"
#include "Correction.h"
#include "Interrupt.h"
#include "OpenInput.h"
#include "Outputs.h"

#include <tulv/tulv.h>

#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>

#include <cstdio>

namespace {

const CommandInfo kCommand = {
    "catalog",
    R"(Usage: tulv catalog add CATALOG.json NAME SOURCE [--bands F1,F2,...] [--force]
       tulv catalog remove CATALOG.json NAME...
       tulv catalog list CATALOG [--json]

Manages a catalog of references: named band spectra (the level of each
frequency band relative to the loudest) that 'tulv analyze --catalog'
compares a sound with and 'tulv convert --correct' equalises it towards.

add     makes the reference NAME from SOURCE: a statistics file written by
        'tulv analyze --ssf' (.ssf), or a sound file, measured as analyze
        measures it. The catalog is created when it does not exist.
remove  takes the references NAME... out; a catalog left without any is
        deleted.
list    shows every reference: its bands and levels.
)",
    {
        { "bands", "F1,F2,...", "split frequencies in Hz of the bands a sound SOURCE is\n"
                                "measured on (default 250,500,1000,2000,3000,4000,6000,8000,\n"
                                "10000: ten bands)" },
        { "force", nullptr, "let add replace a reference of the same name" },
        { "json", nullptr, "list prints one JSON object per reference, one per line:\n"
                           "name, version, frequencies (Hz), levelsDb" },
        { "q,quiet", nullptr, "no progress report" },
    },
    R"(The catalog is written under a temporary name and renamed when complete: a
failure leaves the previous catalog as it was. A symbolic link is written
through to its target. A reference's name cannot hold ':', which separates it
from the catalog in 'convert --correct CATALOG.json:NAME'.
)",
};

QString levelsText(const std::vector<double>& levels)
{
    QStringList items;
    for (double level : levels)
        items << QString::number(level, 'f', 1);
    return items.join(QLatin1Char(' '));
}

QString frequenciesText(const std::vector<double>& frequencies)
{
    QStringList items;
    for (double f : frequencies)
        items << QString::number(f, 'g', 10);
    return items.join(QLatin1Char(','));
}

bool readCatalog(const QString& file, SoundStatReferenceCatalog& catalog)
{
    const QString before = SoundDebuggableClass::getError();
    if (catalog.readJSonFile(file))
        return true;
    printError(QStringLiteral("cannot read catalog '%1': %2")
                   .arg(file, QFileInfo::exists(file) ? libraryReason(before, QStringLiteral("not a catalog"))
                                                      : QStringLiteral("No such file or directory")));
    return false;
}

bool writeCatalog(const QString& file, const SoundStatReferenceCatalog& catalog)
{
    const QString before = SoundDebuggableClass::getError();
    if (catalog.writeJSonFile(file))
        return true;
    printError(libraryReason(before, QStringLiteral("cannot write catalog '%1'").arg(file)));
    return false;
}

// The reference that SOURCE makes: read from a statistics file, or measured
// from a sound. Errors are said on stderr; the exit code is returned.
int makeReference(const QString& name, const QString& source, const std::vector<double>& bands, bool quiet,
                  SoundStatReference& reference)
{
    SoundStatFile stats;
    if (source.endsWith(QLatin1String(".ssf"), Qt::CaseInsensitive)) {
        const QString before = SoundDebuggableClass::getError();
        if (!stats.readJSonFile(source)) {
            printError(libraryReason(before, QStringLiteral("cannot read '%1'").arg(source)));
            return ExitFailed;
        }
    } else {
        QString reason;
        std::unique_ptr<SoundReader> reader = openInput(source, reason);
        if (!reader) {
            printError(QStringLiteral("cannot open '%1': %2").arg(source, reason));
            return ExitFailed;
        }
        // A reference from part of a sound would stand for the whole of it.
        if (reader->getMissingFrames() > 0) {
            printError(QStringLiteral("cannot measure '%1': truncated: %2 frames missing").arg(source).arg(reader->getMissingFrames()));
            return ExitFailed;
        }
        if (bands.back() >= reader->getSampleRate() / 2.0) {
            printError(QStringLiteral("cannot measure '%1': band frequency %2 Hz lies above its %3 Hz bandwidth")
                           .arg(source)
                           .arg(bands.back())
                           .arg(reader->getSampleRate() / 2));
            return ExitFailed;
        }
        reader->rewind();
        const QString before = SoundDebuggableClass::getError();
        const PassResult result = measureBands(*reader, bands, stats, quiet);
        if (result == PassResult::Interrupted) {
            printError(QStringLiteral("interrupted while measuring '%1'; the catalog is unchanged").arg(source));
            return interrupt::exitCode();
        }
        if (result == PassResult::Failed || reader->getMissingFrames() > 0) {
            printError(QStringLiteral("cannot measure '%1': %2")
                           .arg(source, reader->getMissingFrames() > 0 ? QStringLiteral("the file ends before its header says")
                                                                       : libraryReason(before, QStringLiteral("reading failed"))));
            return ExitFailed;
        }
        // Silence has no spectrum: its levels would all read 0 dB, a flat
        // reference nobody asked for.
        if (isSilent(stats)) {
            printError(QStringLiteral("cannot make a reference of '%1': it is silent").arg(source));
            return ExitFailed;
        }
    }
    reference = SoundStatReference::fromStatFile(name, stats);
    if (reference.isEmpty()) {
        printError(QStringLiteral("cannot make a reference of '%1': it holds no band levels").arg(source));
        return ExitFailed;
    }
    return ExitOk;
}

int add(Arguments& args, const QString& file)
{
    const QStringList positional = args.positional();
    if (positional.size() != 4)
        return args.usageError(QStringLiteral("add takes CATALOG.json NAME SOURCE"));
    const QString name = positional.at(2), source = positional.at(3);
    if (name.trimmed().isEmpty() || name.contains(QLatin1Char(':')))
        return args.usageError(QStringLiteral("a reference needs a name without ':', not '%1'").arg(name));
    std::vector<double> bands = defaultBands();
    QString problem;
    if (args.has("bands") && source.endsWith(QLatin1String(".ssf"), Qt::CaseInsensitive))
        return args.usageError(QStringLiteral("--bands measures a sound; '%1' was measured already").arg(source));
    if (args.has("bands") && !parseBands(args.value("bands"), bands, problem))
        return args.usageError(problem);

    // Everything that can refuse the job is asked before the sound is measured.
    SoundStatReferenceCatalog catalog;
    const QFileInfo info(file);
    if ((info.exists() || info.isSymLink()) && !readCatalog(file, catalog))
        return ExitFailed;
    if (catalog.getReference(name).getName() == name && !args.has("force")) {
        printError(QStringLiteral("catalog '%1' already has a reference '%2' (--force replaces it)").arg(file, name));
        return ExitFailed;
    }
    if (!checkOutput(file, source, false, problem)) {
        printError(QStringLiteral("cannot write '%1': %2").arg(file, problem));
        return ExitFailed;
    }
    SoundStatReference reference;
    if (const int code = makeReference(name, source, bands, args.has("quiet"), reference))
        return code;
    catalog.addReference(reference);
    if (!writeCatalog(file, catalog))
        return ExitFailed;
    std::fprintf(stderr, "reference '%s' (%zu bands) written to '%s'\n", qUtf8Printable(name), reference.getLevels().size(),
                 qUtf8Printable(file));
    return ExitOk;
}

int remove(Arguments& args, const QString& file)
{
    const QStringList names = args.positional().mid(2);
    if (names.isEmpty())
        return args.usageError(QStringLiteral("remove takes CATALOG.json NAME..."));
    SoundStatReferenceCatalog catalog;
    if (!readCatalog(file, catalog))
        return ExitFailed;
    // All or nothing: a typo among the names leaves the catalog as it was.
    for (const QString& name : names)
        if (catalog.getReference(name).getName() != name) {
            printError(QStringLiteral("catalog '%1' has no reference '%2' (it has: %3)")
                           .arg(file, name, catalog.getNameList().join(QStringLiteral(", "))));
            return ExitFailed;
        }
    for (const QString& name : names) {
        SoundStatReference reference;
        reference.setName(name);
        catalog.removeReference(reference);
    }
    if (!writeCatalog(file, catalog))
        return ExitFailed;
    // A link is written through, never deleted: it then leads to an empty list.
    if (catalog.isEmpty())
        std::fprintf(stderr, "catalog '%s' holds no reference any more%s\n", qUtf8Printable(file),
                     QFileInfo(file).isSymLink() ? "" : " and is deleted");
    return ExitOk;
}

int list(Arguments& args, const QString& file)
{
    if (args.positional().size() != 2)
        return args.usageError(QStringLiteral("list takes one CATALOG"));
    SoundStatReferenceCatalog catalog;
    if (!readCatalog(file, catalog))
        return ExitFailed;
    QString text;
    for (const SoundStatReference& r : catalog.getReferenceList()) {
        if (args.has("json")) {
            QJsonArray frequencies, levels;
            for (double f : r.getFrequencies())
                frequencies.append(f);
            for (double level : r.getLevels())
                levels.append(level);
            const QJsonObject object{ { QStringLiteral("name"), r.getName() },
                                      { QStringLiteral("version"), r.getVersion() },
                                      { QStringLiteral("frequencies"), frequencies },
                                      { QStringLiteral("levelsDb"), levels } };
            text += QString::fromUtf8(QJsonDocument(object).toJson(QJsonDocument::Compact)) + QLatin1Char('\n');
        } else {
            text += QStringLiteral("%1\n  bands split at (Hz): %2\n  levels (dB): %3\n")
                        .arg(r.getName(), frequenciesText(r.getFrequencies()), levelsText(r.getLevels()));
        }
    }
    printOut(text);
    return ExitOk;
}

} // namespace

int runCatalog(const QStringList& arguments)
{
    Arguments args(kCommand);
    if (const auto stop = args.parse(arguments))
        return *stop;
    const QStringList positional = args.positional();
    if (positional.size() < 2)
        return args.usageError(QStringLiteral("needs an action (add, remove, list) and a CATALOG"));
    const QString action = positional.at(0), file = positional.at(1);
    if (action != QLatin1String("add") && args.has("force"))
        return args.usageError(QStringLiteral("--force belongs to add"));
    if (action != QLatin1String("add") && args.has("bands"))
        return args.usageError(QStringLiteral("--bands belongs to add"));
    if (action != QLatin1String("list") && args.has("json"))
        return args.usageError(QStringLiteral("--json belongs to list"));
    if (action == QLatin1String("list"))
        return list(args, file);
    if (action != QLatin1String("add") && action != QLatin1String("remove"))
        return args.usageError(QStringLiteral("unknown action '%1' (add, remove, list)").arg(action));
    // The library saves a catalog under a .json name whatever it is given:
    // another name would leave the file named on the command line untouched.
    if (SoundStatReferenceCatalog::getFileName(file) != file)
        return args.usageError(QStringLiteral("a catalog is written as a .json file, not '%1'").arg(file));
    return action == QLatin1String("add") ? add(args, file) : remove(args, file);
}
