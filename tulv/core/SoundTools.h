#ifndef TULV_CORE_SOUNDTOOLS_H
#define TULV_CORE_SOUNDTOOLS_H

// Enumerations and the frame type that every part of the library passes around.
namespace SoundTools {

// Result of every processing operation. The values are stored in files and
// passed through Qt signals as plain ints: never renumber them.
enum Status {
    Ok = 0,          // success; the processing loop goes on
    Error = 1,       // failure; the loop stops and the error is reported
    Stopped = 2,     // a stop was requested through SoundAlgo::pleaseStop
    EndOfStream = 3, // the source is exhausted and the tail has been processed
    Waiting = 4      // in-memory queue only: open and waiting for blocks
};

// Sample format of a sound file.
enum SoundFormat {
    Int8 = 0,
    Int16 = 1, // also the answer for any format not listed here
    Int24 = 2,
    Int32 = 3,
    Float32 = 4,
    Float64 = 5
};

// Filter shapes; the designers that give them meaning live with the filters.
enum FilterType {
    LowPass = 0,
    BandPass = 1,
    BandStop = 2,
    HighPass = 3,
    LowShelf = 4,
    BandEq = 5,
    HighShelf = 6
};

// One frame of a plain stereo stream: left then right, nothing else, so that
// an interleaved array of doubles can be viewed as an array of frames.
template <typename T>
struct StereoFrame {
    T left;
    T right;
};

static_assert(sizeof(StereoFrame<double>) == 2 * sizeof(double),
              "a stereo frame must overlay two interleaved samples");

} // namespace SoundTools

#endif
