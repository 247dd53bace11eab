#ifndef TULV_ANALYSIS_SOUNDSTATREFERENCE_H
#define TULV_ANALYSIS_SOUNDSTATREFERENCE_H

#include <QJsonObject>
#include <QString>
#include <QStringList>

#include <vector>

class SoundAlgoFilter;
class SoundAlgoMultibandScale;
class SoundStatFile;

// A named target spectrum: N split frequencies (Hz, ascending) and the level
// of each of the N + 1 bands in dB relative to the loudest. A sound is
// compared with it band by band (getDistance), and the difference becomes a
// correction equaliser (getCorrectionLevels, then buildCorrectionFilter or
// buildScaleFilter). A plain value; two references are equal when their
// names are.
class SoundStatReference {
public:
    SoundStatReference() = default;

    bool operator==(const SoundStatReference& other) const { return mName == other.mName; }

    // Becomes the default reference, a broad spectrum falling by about 20 dB
    // from the bass to the treble, under `name` (version "1").
    void initDefault(const QString& name);
    // 250, 500, 1000, 2000, 3000, 4000, 6000, 8000, 10000 Hz.
    static std::vector<double> getDefaultFrequencies();
    // The reference that makes `file` its own target: its frequencies, its
    // relative levels and its version, under `name`. Empty when the file has
    // no statistics.
    static SoundStatReference fromStatFile(const QString& name, const SoundStatFile& file);

    QString getName() const { return mName; }
    QString getVersion() const { return mVersion; }
    std::vector<double> getFrequencies() const { return mFrequencies; }
    std::vector<double> getLevels() const { return mLevels; }
    void setName(const QString& name) { mName = name; }
    void setLevels(const std::vector<double>& levels) { mLevels = levels; }
    void setFrequencies(const std::vector<double>& frequencies) { mFrequencies = frequencies; }

    // True without frequencies, without levels, or when the levels are not
    // one more than the frequencies.
    bool isEmpty() const;

    // One label per band, "[low,high]" in whole Hz, the last band ending at
    // `topFrequency` (half the sample rate).
    QStringList getFrequencyDescriptors(double topFrequency) const;

    // How far the sound of `file` lies from this reference: the root of the
    // sum of squared differences of the relative band levels, in dB. -1 when
    // they cannot be compared: this reference is empty, of another version,
    // or measured on other band frequencies than the file.
    double getDistance(const SoundStatFile& file) const;

    // Per band, the change in dB that brings the sound of `file` to this
    // reference, each clamped to ±maximumDb, then all lowered together so that
    // the largest is 0: a correction only cuts. Covers the bands present in
    // both; empty when the file was measured on other band frequencies.
    std::vector<double> getCorrectionLevels(const SoundStatFile& file, double maximumDb) const;

    // A new equaliser (reference count 1, the caller's) that changes the
    // mean level of band i by levels[i] dB: a low shelf at the first
    // frequency, a high shelf at the last, a band equaliser spanning each
    // band between them, their gains fitted at `sampleRate` (the response
    // below 16 kHz barely changes with the rate) so that their overlaps do
    // not cut twice. No section when every level is 0. With `setOutputGain`,
    // the output gain makes up part of what the cuts in the presence range
    // (about 1.5 to 5 kHz) take away. Null, with
    // SoundDebuggableClass::getError set, when the reference is empty, its
    // frequencies are not positive and ascending, or `levels` does not hold
    // one level per band.
    SoundAlgoFilter* buildCorrectionFilter(const std::vector<double>& levels, bool setOutputGain,
                                           unsigned int sampleRate = 44100) const;
    // A new multiband scaler (reference count 1, the caller's) that scales
    // band i by levels[i] dB, on second-order complementary splitters at this
    // reference's frequencies. Null, with the error set, as above.
    SoundAlgoMultibandScale* buildScaleFilter(const std::vector<double>& levels) const;

    // JSON object of class "SoundStatReference".
    void writeToJSon(QJsonObject& object) const;
    // Reads a reference object; its name comes from the key `nameKey` when
    // the object holds it as a string, otherwise from "Name". False when the
    // class or a key is missing or of the wrong type (the reference may then
    // be partly read).
    bool readFromJSon(QJsonObject object, QString nameKey = QString());

private:
    QString mName;
    QString mVersion;
    std::vector<double> mFrequencies; // Hz, N split frequencies
    std::vector<double> mLevels; // dB, N + 1 bands
};

#endif
