#ifndef TULV_DYNAMICS_SOUNDALGOAMPLIINTERFACE_H
#define TULV_DYNAMICS_SOUNDALGOAMPLIINTERFACE_H

// The level control that a player shows and moves, whatever algorithm is
// behind it: an automatic gain, a limiter's make-up gain, a multiband
// amplifier. Implementations make every operation safe to call from another
// thread while the algorithm runs.
class SoundAlgoAmpliInterface {
public:
    // Sets the level (dB) and restarts the gain from it at once.
    virtual void setLevel(double level) = 0;
    // Forgets the state of the run: the next block starts from the level.
    virtual void reset() = 0;
    // The gain (dB) that applies `time` seconds into the stream.
    virtual double getLevel(double time) = 0;
    // A new song starts in the same stream.
    virtual void changeSong() = 0;

protected:
    // Not owned through this interface: the algorithm's reference count owns it.
    virtual ~SoundAlgoAmpliInterface() = default;
};

#endif
