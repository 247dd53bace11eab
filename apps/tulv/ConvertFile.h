#ifndef TULV_APPS_CONVERTFILE_H
#define TULV_APPS_CONVERTFILE_H

#include "Arguments.h"
#include "Commands.h"
#include "Pass.h"

#include <tulv/tulv.h>

#include <QString>
#include <QStringList>

#include <optional>
#include <vector>

// One file in, one file out, through an algorithm: what convert and process
// share. The job owns the rules of the output (format, tags, dither, the
// atomic replacement, the warnings); a stage says what runs in between.

// What every output file of a job gets, checked once.
struct ConvertSettings {
    double start = 0.0, end = 0.0, gain = 0.0, limitDb = 0.0;
    bool hasEnd = false, hasLimit = false, hasFormat = false, quiet = false, dither = true, strict = false;
    bool hasBitrate = false; // --bitrate given: a rate the encoder lacks is refused, not replaced
    bool replayGain = false; // tag OUT with its ReplayGain track gain and peak
    SoundTools::SoundFormat format = SoundTools::Int16;
    unsigned int bitrate = 192;
    QStringList tags;
    SoundIDTag cover; // coverData set: --cover was given
};

// The options of the output file and of the range read (format, bitrate,
// start, end, tag, cover, replaygain, no-dither, strict, quiet): rows of --help.
std::vector<OptionInfo> fileOptions();
// Reads those options into `settings` for an OUT whose container `kind`
// names; errors call it `out`. The exit code when the command must stop
// (a usage error).
std::optional<int> readFileSettings(Arguments& args, const QString& kind, const QString& out, ConvertSettings& settings);

// What runs between IN and OUT.
class FileStage {
public:
    virtual ~FileStage() = default;
    // IN is open, nothing read or written yet. False with `problem`: the job
    // stops with a usage error.
    virtual bool prepare(SoundReader& reader, QString& problem);
    // The exit code when prepare refuses: the command line asked for what
    // cannot be done, unless the stage says the file is at fault.
    virtual int refusalCode() const { return ExitUsage; }
    // The passes that must read IN before the written one (the reader is
    // set to the range).
    virtual PassResult analyse(SoundReader& reader, bool quiet);
    // The algorithm of the written pass; the caller releases it. Null with
    // `problem` when it cannot be built.
    virtual SoundAlgo* build(QString& problem) = 0;
    // Frames the stage writes past the end of the range read.
    virtual unsigned int tailFrames() const { return 0; }
};

// Converts `in` to `out` through `stage`; `kind` is a name whose extension
// picks the container (OUT itself, but "x.flac" for standard output).
// Returns the exit code; every failure is said on stderr.
int convertFile(const ConvertSettings& settings, const QString& in, const QString& out, const QString& kind,
                FileStage& stage);

#endif
