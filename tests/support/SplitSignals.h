#ifndef TULV_TESTS_SUPPORT_SPLITSIGNALS_H
#define TULV_TESTS_SUPPORT_SPLITSIGNALS_H

// Record sides for track splitting, rendered by the demo's own synthesizer
// (any layout, at constant memory, the same samples on every run), with the
// true boundaries of every track; and the detector helpers of the split tests.

#include "apps/tulv/DemoRecord.h"
#include "tests/support/Common.h"
#include "tulv/dynamics/RMSStepDetector.h"

#include <memory>
#include <string>
#include <vector>

namespace splitsignals {

using SideLayout = DemoRecordReader::Layout;
using TrackLayout = DemoRecordReader::TrackShape;
// Reads a side without holding it.
using SideReader = DemoRecordReader;

// Frame ranges [begin, end), absolute.
struct Span {
    int begin = 0;
    int end = 0;
};

struct SideTruth {
    int frames = 0;
    std::vector<Span> tracks; // first note to last sound (the end of a fade)
};

// The truth of a side, without rendering it.
SideTruth truthOf(const SideLayout& layout);

// The demo's side: a plain track, one with a quiet passage 20 dB down, one
// followed by a gap holding a short noise burst, and a slow fade-out.
SideLayout typicalSide();

// Renders a side to a 16-bit WAV file through the library's writer.
bool writeSideWav(const SideLayout& layout, const std::string& path);

using DetectorPtr = testsupport::AlgoRef<RMSStepDetector>;

// A detector holding `regions`, built through its JSON form as a host would
// restore one.
DetectorPtr detectorFromRegions(const std::vector<RMSStepDetector::Region>& regions, unsigned int sampleRate,
                                bool realTimeMode = false, double noiseThresholdDb = -40.0);

} // namespace splitsignals

#endif
