#ifndef TULV_SPECTRAL_SOUNDALGOMULTIBANDAMPLIFIER_H
#define TULV_SPECTRAL_SOUNDALGOMULTIBANDAMPLIFIER_H

#include "tulv/core/SoundAlgoComposite.h"
#include "tulv/dynamics/SoundAlgoAmpliInterface.h"
#include "tulv/dynamics/SoundAlgoLimiter.h"
#include "tulv/dynamics/SoundAlgoRMSAmplifier.h"

#include <QString>

#include <vector>

// An automatic gain split into frequency bands: one SoundAlgoRMSAmplifier per
// band, most bands followed by their own SoundAlgoLimiter. A player drives it
// like a single amplifier: the level operations go to every band.
//
// setLevel, reset and SetBalanceFromRMS may come from a player thread while a
// run goes on; the band amplifiers guard themselves, and the band lists never
// change after construction, so this class takes no lock.
class SoundAlgoMultibandAmplifier : public SoundAlgoComposite, public SoundAlgoAmpliInterface {
    Q_OBJECT
public:
    // The same target level (dB) for every band: band offsets are dropped.
    void setLevel(double level) override;
    void reset() override;
    // The gain (dB) of the lowest band `time` seconds into the stream; 0.0
    // without bands.
    double getLevel(double time) override;
    void changeSong() override {}

    // Channel levels in dB; every band raises its quieter channel to the louder.
    void SetBalanceFromRMS(const SoundTools::StereoFrame<double>& levels);
    // Gives band limiter i the diagnostic file "<base>.channel_<i>".
    void SetDebugFile(const QString& base);

    // Record a band's algorithms (already pushed into the tree, which owns
    // them) in band order.
    void pushAmplifier(SoundAlgoRMSAmplifier* amplifier);
    void pushLimiter(SoundAlgoLimiter* limiter);

protected:
    SoundAlgoMultibandAmplifier(const char* id, bool shareInputs);
    ~SoundAlgoMultibandAmplifier() override;

    std::vector<SoundAlgoRMSAmplifier*> amplifiers; // per band, owned by the tree
    std::vector<SoundAlgoLimiter*> limiters; // per limited band, owned by the tree
};

#endif
