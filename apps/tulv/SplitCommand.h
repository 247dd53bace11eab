#ifndef TULV_APPS_SPLITCOMMAND_H
#define TULV_APPS_SPLITCOMMAND_H

#include "SplitJob.h"

#include <QString>
#include <QStringList>

// A split as the command line or the demo asks for it.
struct SplitJobRequest {
    QString in;
    QString out; // empty for a dry run
    SplitSettings settings;
    SoundTools::SoundFormat format = SoundTools::Int16;
    bool formatGiven = false;
    unsigned int bitrate = 192;
    bool bitrateGiven = false; // a rate the encoder lacks is refused, not replaced
    QStringList tagItems; // "KEY=VALUE", already checked
    QString saveRegions;
    QString loadRegions;
    QString labels;     // Audacity labels of the tracks to write
    QString cue;        // cue sheet of the tracks to write
    QString loadLabels; // tracks taken from Audacity labels instead of the detection
    bool json = false;  // the table as JSON
    bool dryRun = false;
    bool force = false; // replace files under the tracks' names
    bool quiet = false;
    bool printTable = false;
};

struct SplitOutcome {
    std::vector<TrackRow> tracks;
    QStringList files;
    QStringList notes; // what the user should know: lead-in and lead-out left out, fewer tracks than asked
    unsigned int sampleRate = 0;
};

// Runs the split, reporting failures on stderr; returns the exit code.
int runSplitJob(const SplitJobRequest& request, SplitOutcome& outcome);

#endif
