#ifndef TULV_ANALYSIS_SOUNDSTATFILE_H
#define TULV_ANALYSIS_SOUNDSTATFILE_H

#include "tulv/analysis/SoundAlgoStats.h"
#include "tulv/core/SoundTools.h"

#include <QString>

#include <functional>
#include <vector>

class RMSStepDetector;
class SoundAlgoFFTStats;
class SoundReader;

// What an analysis run learnt about one sound: the level of each frequency
// band, either as one SoundAlgoStats per band of a multiband tree or as one
// long-term spectrum (SoundAlgoFFTStats), and optionally the step detector
// with its regions. Saved as a binary JSON document with the extension
// "ssf" (class "SoundStatFile").
//
// Bands: N split frequencies (Hz, ascending) make N + 1 bands, band 0 below
// the first frequency and band N above the last; level lists have N + 1
// entries.
//
// The file holds one reference on each algorithm it points to and lets it
// go when cleared, replaced or destroyed; copies share the algorithms, each
// copy holding its own references. Used by one thread at a time.
class SoundStatFile {
public:
    SoundStatFile();
    SoundStatFile(const SoundStatFile& other);
    SoundStatFile& operator=(const SoundStatFile& other);
    ~SoundStatFile();

    // "ssf"
    static QString getExtension();
    // The name a statistics file is saved and read under: `name` with its
    // last extension replaced by getExtension(), or with it added when the
    // file name has none ("take1.wav" gives "take1.ssf").
    static QString getFileName(const QString& name);

    // Replaces the statistics by one SoundAlgoStats per band; `stats` must
    // hold frequencies.size() + 1 of them, or the mismatch is logged as
    // critical and the file is left without statistics. With `addRef` the
    // file takes its own reference of each, otherwise it takes over the
    // caller's.
    void setStats(const std::vector<double>& frequencies, const std::vector<SoundAlgoStats*>& stats, bool addRef);
    // Replaces the statistics by one spectrum, read in the bands of
    // `frequencies`; `fftStats` may be null.
    void setStats(const std::vector<double>& frequencies, SoundAlgoFFTStats* fftStats, bool addRef);
    // Replaces the detector; null removes it.
    void setStepDetector(RMSStepDetector* detector, bool addRef);

    RMSStepDetector* getStepDetector() const { return mStepDetector; }
    std::vector<double> getFrequencies() const { return mFrequencies; }
    // Copies of the lists; no new references are taken.
    void getStats(std::vector<double>& frequencies, std::vector<SoundAlgoStats*>& stats) const;
    SoundAlgoFFTStats* getFFTStats() const { return mFFTStats; }
    QString getVersion() const { return mVersion; }
    // Whether band levels can be read: per-band statistics or a spectrum.
    bool hasStats() const;
    // The rate the statistics were measured at; 44100 when there are none.
    unsigned int getSampleRate() const;

    // The level of each band in dB relative to the loudest band (0 dB, the
    // others negative).
    std::vector<double> getRelativeLevels() const;

    // Runs the measuring graph over the reader: processAll(reader, null) by
    // default; a host passes its own to report progress or stop the run
    // (SoundAlgo::pleaseStop) and answers the run's status.
    using Runner = std::function<SoundTools::Status(SoundAlgo& graph, SoundReader& reader)>;

    // Measures the bands of the sound `reader` gives, from its position to
    // its end, replacing the statistics: through a tree of fourth-order
    // crossovers with a SoundAlgoStats per band when `fftSize` is 0,
    // otherwise through Hann-windowed, half-overlapped FFTs of `fftSize`
    // points (a power of two), which read band levels more exactly and run
    // several times faster. `before`, when not null, runs first in the same
    // pass and must pass the sound on unchanged (a step detector in its
    // PassThrough mode, a loudness meter); the caller keeps its reference,
    // and a detector is kept by the file. Error, with
    // SoundDebuggableClass::getError saying why, when the run fails;
    // Stopped when it was stopped. Only a complete run replaces anything.
    SoundTools::Status measure(SoundReader& reader, const std::vector<double>& frequencies, unsigned int fftSize = 0,
                               SoundAlgo* before = nullptr, const Runner& run = Runner());

    // Saves under getFileName(name), replacing an existing file only once the
    // new one is complete. False, with SoundDebuggableClass::getError naming
    // the file, when it could not be written.
    bool writeJSonFile(QString name) const;
    // Reads getFileName(name). False, with SoundDebuggableClass::getError
    // naming the file and the reason, when the file is missing, unreadable,
    // truncated, of another class or of a version this library does not
    // know; the file object is then left as it was.
    bool readJSonFile(QString name);

private:
    void clear();
    void clearStats();
    void clearStepDetector();
    void takeReferences();

    RMSStepDetector* mStepDetector = nullptr;
    std::vector<double> mFrequencies; // Hz, N split frequencies
    std::vector<SoundAlgoStats*> mStats; // N + 1 bands, or empty
    SoundAlgoFFTStats* mFFTStats = nullptr; // replaces mStats when set
    QString mVersion;
};

#endif
