#ifndef TULV_TESTS_SUPPORT_DYNREGIONS_H
#define TULV_TESTS_SUPPORT_DYNREGIONS_H

#include "tulv/dynamics/RMSStepDetector.h"

#include <vector>

// Detectors with a chosen region list, for the algorithms that follow them.
namespace dyntest {

// A region of `seconds` of a tone whose RMS is `rmsDb` (both channels), or
// of noise.
struct RegionSpec {
    double seconds;
    double rmsDb;
    bool noise = false;
};

// The regions that tile the layouts in order from frame 0 (levels as mean
// squares), with the end marker a finished run leaves behind.
std::vector<RMSStepDetector::Region> regionsOf(const std::vector<RegionSpec>& layouts, unsigned int sampleRate);

// A detector (reference count 1) holding `regions` and their backup, as
// restored from its JSON form.
RMSStepDetector* detectorWith(const std::vector<RMSStepDetector::Region>& regions, unsigned int sampleRate);

// The recording the layouts describe: a 1 kHz sine per region at its RMS,
// both channels; noise regions hold a sine at their own level.
std::vector<double> recordingOf(const std::vector<RegionSpec>& layouts, unsigned int sampleRate);

} // namespace dyntest

#endif
