#ifndef TULV_APPS_MUSICSYNTH_H
#define TULV_APPS_MUSICSYNTH_H

// Music-like material for synthetic record sides: a melody, a bass, a pad and
// percussive hits, from a seed, the same on every platform. The demo side of
// the tool and the test sides are both made of it.

#include <cmath>
#include <cstdint>
#include <cstddef>

namespace musicsynth {

constexpr double kPi = 3.14159265358979323846;

inline double dbToAmplitude(double db)
{
    return std::pow(10.0, db / 20.0);
}

inline int toFrames(double seconds, unsigned int rate)
{
    return static_cast<int>(std::floor(seconds * rate + 0.5));
}

// splitmix64: small, fast and the same on every platform.
struct Random {
    std::uint64_t state;
    explicit Random(std::uint64_t seed)
        : state(seed * 0x9E3779B97F4A7C15ull + 0x632BE59BD9B4E019ull)
    {
    }
    std::uint64_t next()
    {
        std::uint64_t z = (state += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    // [0, 1)
    double uniform() { return double(next() >> 11) * (1.0 / 9007199254740992.0); }
    // [-1, 1)
    double bipolar() { return 2.0 * uniform() - 1.0; }
    double between(double low, double high) { return low + (high - low) * uniform(); }
};

// A sine by rotation of a phasor: four multiplications a sample.
struct Oscillator {
    double c = 1.0, s = 0.0, wc = 1.0, ws = 0.0;
    void setFrequency(double hz, unsigned int rate)
    {
        wc = std::cos(2.0 * kPi * hz / rate);
        ws = std::sin(2.0 * kPi * hz / rate);
    }
    double step()
    {
        const double nc = c * wc - s * ws;
        s = c * ws + s * wc;
        c = nc;
        return s;
    }
    void renormalise()
    {
        const double r = std::sqrt(c * c + s * s);
        c /= r;
        s /= r;
    }
};

// Semitones of a pentatonic scale over two octaves.
constexpr int kScale[] = { 0, 2, 4, 7, 9, 12, 14, 16, 19, 21, 24 };

// A monophonic voice of harmonic notes with a short attack and an
// exponential decay.
struct Voice {
    Oscillator harmonics[3];
    double weights[3] = { 1.0, 0.5, 0.25 };
    double envelope = 0.0;
    double attackStep = 0.0;
    bool attacking = false;
    double decay = 1.0;
    int remaining = 0;
    double baseHz = 220.0;
    double minSeconds = 0.2, maxSeconds = 0.5;
    double decaySeconds = 0.3;

    void start(Random& random, unsigned int rate)
    {
        const int step = kScale[random.next() % (sizeof(kScale) / sizeof(kScale[0]))];
        const double hz = baseHz * std::pow(2.0, step / 12.0);
        for (int h = 0; h < 3; ++h)
            harmonics[h].setFrequency(hz * (h + 1), rate);
        remaining = toFrames(random.between(minSeconds, maxSeconds), rate);
        attacking = true;
        attackStep = (1.0 - envelope) / (0.005 * rate);
        decay = std::exp(-1.0 / (decaySeconds * rate));
    }
    double next(Random& random, unsigned int rate)
    {
        if (remaining-- <= 0)
            start(random, rate);
        if (attacking) {
            envelope += attackStep;
            if (envelope >= 1.0) {
                envelope = 1.0;
                attacking = false;
            }
        } else {
            envelope *= decay;
        }
        double value = 0.0;
        for (int h = 0; h < 3; ++h)
            value += weights[h] * harmonics[h].step();
        return envelope * value;
    }
};

// The body of a track at unit scale: melody, bass, a pad chord that changes
// every two seconds and a percussive noise hit every half second.
struct Body {
    Random random;
    unsigned int rate;
    Voice melody;
    Voice bass;
    Oscillator pad[2];
    int padRemaining = 0;
    double hit = 0.0;
    double hitDecay;
    int hitRemaining = 0;
    int sinceRenormalise = 0;

    Body(std::uint64_t seed, unsigned int sampleRate)
        : random(seed)
        , rate(sampleRate)
        , hitDecay(std::exp(-1.0 / (0.04 * sampleRate)))
    {
        melody.baseHz = 330.0;
        bass.baseHz = 82.5;
        bass.minSeconds = 0.5;
        bass.maxSeconds = 1.0;
        bass.decaySeconds = 0.6;
        bass.weights[2] = 0.0;
    }

    void next(double& left, double& right)
    {
        if (padRemaining-- <= 0) {
            const double root = 110.0 * std::pow(2.0, kScale[random.next() % 5] / 12.0);
            pad[0].setFrequency(root, rate);
            pad[1].setFrequency(root * 1.5, rate);
            padRemaining = toFrames(2.0, rate);
        }
        if (hitRemaining-- <= 0) {
            hit = 1.0;
            hitRemaining = toFrames(random.between(0.45, 0.55), rate);
        }
        const double m = melody.next(random, rate);
        const double b = bass.next(random, rate);
        const double p = 0.5 * (pad[0].step() + pad[1].step());
        const double h = hit * random.bipolar();
        hit *= hitDecay;
        if (++sinceRenormalise == 4096) {
            sinceRenormalise = 0;
            for (Oscillator* o : { &pad[0], &pad[1], &melody.harmonics[0], &melody.harmonics[1],
                                   &melody.harmonics[2], &bass.harmonics[0], &bass.harmonics[1], &bass.harmonics[2] })
                o->renormalise();
        }
        left = 0.8 * m + 0.5 * b + 0.6 * p + 0.5 * h;
        right = 0.5 * m + 0.8 * b + 0.6 * p + 0.5 * h;
    }
};

inline std::uint64_t trackSeed(std::uint64_t sideSeed, size_t track)
{
    return sideSeed * 1000003ull + track * 7919ull + 17ull;
}

// Mean power (both channels) of a track body at unit scale, measured over
// its first 20 seconds: the scale that puts the body at its level.
inline double bodyPower(std::uint64_t seed, unsigned int rate)
{
    Body body(seed, rate);
    const int frames = toFrames(20.0, rate);
    double sum = 0.0;
    for (int i = 0; i < frames; ++i) {
        double l, r;
        body.next(l, r);
        sum += 0.5 * (l * l + r * r);
    }
    return sum / frames;
}

} // namespace musicsynth

#endif
