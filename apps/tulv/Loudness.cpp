#include "Loudness.h"

#include "Formats.h"
#include "OpenInput.h"

#include <QRegularExpression>

#include <algorithm>
#include <cmath>

namespace {

// Gains per track, held for the sound of each and moved linearly (in
// amplitude) from one track's to the next across the gap between them, so
// that no step is heard in the surface noise. Passes the rest on.
class TrackGain : public SoundAlgo {
public:
    explicit TrackGain(const std::vector<TrackRow>& rows)
    {
        for (const TrackRow& row : rows)
            mTracks.push_back({ row.begin, row.end, std::pow(10.0, row.gainDb / 20.0) });
    }

    SoundTools::Status process() override
    {
        const int first = getOutOrigin();
        const unsigned int n = std::min(getOutFrameNb(), getInFrameNb());
        if (n == 0)
            return SoundTools::Ok;
        const SoundTools::StereoFrame<double>* in = mInBuffers[0]->getStereoFrame(first);
        SoundTools::StereoFrame<double>* out = mOutBuffers[0]->getStereoFrame(first);
        if (!in || !out)
            return SoundTools::Error;
        // The track index only moves forward: a few comparisons per frame.
        for (unsigned int k = 0; k < n; ++k) {
            const double g = gainAt(first + (long long)k);
            out[k].left = in[k].left * g;
            out[k].right = in[k].right * g;
        }
        return SoundTools::Ok;
    }

protected:
    ~TrackGain() override = default;

    SoundTools::Status initProcess(const LoopContext& context, SoundAlgo* previous, SoundAlgo* next) override
    {
        mIndex = 0;
        return SoundAlgo::initProcess(context, previous, next);
    }

private:
    struct Track {
        long long begin, end; // frames of the track's sound
        double gain; // linear
    };

    double gainAt(long long frame)
    {
        if (mTracks.empty())
            return 1.0;
        while (mIndex + 1 < mTracks.size() && frame >= mTracks[mIndex + 1].begin)
            ++mIndex;
        const Track& track = mTracks[mIndex];
        if (frame < track.end || mIndex + 1 == mTracks.size() || frame < track.begin)
            return track.gain;
        const Track& next = mTracks[mIndex + 1];
        const double along = double(frame - track.end) / double(std::max(1LL, next.begin - track.end));
        return track.gain + (next.gain - track.gain) * along;
    }

    std::vector<Track> mTracks;
    size_t mIndex = 0;
};

double linear(double db)
{
    return std::pow(10.0, db / 20.0);
}

} // namespace

AlgoRef<SoundAlgoLoudness> measureLoudness(SoundReader& reader, long long begin, long long end, bool quiet,
                                           PassResult& result)
{
    const unsigned int channels = reader.getFileChannelNum() == 1 ? 1 : 2;
    AlgoRef<SoundAlgoLoudness> meter(new SoundAlgoLoudness(channels));
    const double rate = reader.getSampleRate();
    reader.setStartPoint(end > begin ? begin / rate : 0.0);
    reader.setEndPoint(end > begin ? end / rate : 0.0);
    reader.rewind();
    const unsigned int frames = end > begin ? unsigned(end - begin) : reader.getFrameNB();
    result = runPass(QStringLiteral("measuring loudness"), *meter, reader, nullptr, frames, quiet);
    reader.setStartPoint(0.0);
    reader.setEndPoint(0.0);
    reader.rewind();
    if (result != PassResult::Done)
        return nullptr;
    return meter;
}

bool setReplayGain(SoundIDTag& tags, const char* scope, double lufs, double truePeakDb)
{
    if (!std::isfinite(lufs))
        return false;
    const std::string prefix = std::string("REPLAYGAIN_") + scope;
    tags.setProperty(prefix + "_GAIN",
                     { QStringLiteral("%1 dB").arg(kReplayGainReferenceLufs - lufs, 0, 'f', 2).toStdString() });
    const double peak = std::isfinite(truePeakDb) ? linear(truePeakDb) : 0.0;
    tags.setProperty(prefix + "_PEAK", { QString::number(peak, 'f', 6).toStdString() });
    return true;
}

bool tagReplayGain(const QStringList& files, bool album, bool quiet, QString& reason)
{
    std::vector<AlgoRef<SoundAlgoLoudness>> meters;
    for (const QString& file : files) {
        std::unique_ptr<SoundReader> reader = openInput(file, reason);
        PassResult result = PassResult::Failed;
        if (reader)
            meters.push_back(measureLoudness(*reader, 0, 0, quiet, result));
        if (!reader || !meters.back()) {
            reason = QStringLiteral("cannot measure '%1': %2").arg(file, reader ? QStringLiteral("reading failed") : reason);
            return false;
        }
    }
    std::vector<const SoundAlgoLoudness*> all;
    double albumPeakDb = SoundAlgoLoudness::kSilence;
    for (const auto& meter : meters) {
        all.push_back(meter.get());
        albumPeakDb = std::max(albumPeakDb, meter->getTruePeak());
    }
    const double albumLufs = SoundAlgoLoudness::getIntegratedLoudness(all);
    for (int i = 0; i < files.size(); ++i) {
        const QString& file = files.at(i);
        const bool mp3 = isMp3(file);
        SoundIDTag tags = mp3 ? readMp3Tags(file) : readFileTags(file);
        bool any = setReplayGain(tags, "TRACK", meters[i]->getIntegratedLoudness(), meters[i]->getTruePeak());
        if (album)
            any = setReplayGain(tags, "ALBUM", albumLufs, albumPeakDb) || any;
        if (!any)
            continue;
        if (mp3)
            writeMp3Tags(tags, file);
        else
            writeFileTags(tags, file);
    }
    return true;
}

bool measureTrackLoudness(SoundReader& reader, std::vector<TrackRow>& rows, double targetLufs, bool quiet,
                          PassResult& result)
{
    result = PassResult::Done;
    for (TrackRow& row : rows) {
        AlgoRef<SoundAlgoLoudness> meter = measureLoudness(reader, row.begin, row.end, quiet, result);
        if (!meter)
            return false;
        const double lufs = meter->getIntegratedLoudness();
        row.gainDb = std::isfinite(lufs) ? targetLufs - lufs : 0.0;
        row.levelDb += row.gainDb;
    }
    return true;
}

SoundAlgo* buildTrackGainStage(const std::vector<TrackRow>& rows)
{
    auto* chain = new SoundAlgoComposite();
    chain->pushAlgo(new TrackGain(rows));
    // A raised track may lift a peak over full scale: the limiter catches it.
    chain->pushAlgo(buildLimiter(0.0));
    return chain;
}

bool parseLoudnessTarget(const QString& text, double& value, bool& lufs)
{
    static const QRegularExpression pattern(QStringLiteral("^\\s*([-+]?[0-9]+(?:\\.[0-9]*)?)\\s*(LUFS|dB|dBFS)?\\s*$"),
                                            QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return false;
    value = match.captured(1).toDouble();
    lufs = match.captured(2).compare(QLatin1String("LUFS"), Qt::CaseInsensitive) == 0;
    return true;
}
