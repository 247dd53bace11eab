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
    QStringList tagItems; // "KEY=VALUE", already checked
    QString saveRegions;
    QString loadRegions;
    bool dryRun = false;
    bool force = false; // replace files under the tracks' names
    bool quiet = false;
    bool printTable = false;
};

struct SplitOutcome {
    std::vector<TrackRow> tracks;
    QStringList files;
    unsigned int sampleRate = 0;
};

// Runs the split, reporting failures on stderr; returns the exit code.
int runSplitJob(const SplitJobRequest& request, SplitOutcome& outcome);

#endif
