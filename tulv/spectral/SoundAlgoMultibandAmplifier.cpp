#include "tulv/spectral/SoundAlgoMultibandAmplifier.h"

SoundAlgoMultibandAmplifier::SoundAlgoMultibandAmplifier(const char* id, bool shareInputs)
    : SoundAlgoComposite(QString::fromLatin1(id), shareInputs)
{
}

SoundAlgoMultibandAmplifier::~SoundAlgoMultibandAmplifier() = default;

void SoundAlgoMultibandAmplifier::setLevel(double level)
{
    for (SoundAlgoRMSAmplifier* amplifier : amplifiers)
        amplifier->setLevel(level);
}

void SoundAlgoMultibandAmplifier::reset()
{
    for (SoundAlgoRMSAmplifier* amplifier : amplifiers)
        amplifier->reset();
}

double SoundAlgoMultibandAmplifier::getLevel(double time)
{
    return amplifiers.empty() ? 0.0 : amplifiers.front()->getLevel(time);
}

void SoundAlgoMultibandAmplifier::SetBalanceFromRMS(const SoundTools::StereoFrame<double>& levels)
{
    for (SoundAlgoRMSAmplifier* amplifier : amplifiers)
        amplifier->setBalanceFromRMS(levels);
}

void SoundAlgoMultibandAmplifier::SetDebugFile(const QString& base)
{
    for (size_t i = 0; i < limiters.size(); ++i)
        limiters[i]->SetDebugFile(QStringLiteral("%1.channel_%2").arg(base).arg(i).toLocal8Bit().constData());
}

void SoundAlgoMultibandAmplifier::pushAmplifier(SoundAlgoRMSAmplifier* amplifier)
{
    if (amplifier)
        amplifiers.push_back(amplifier);
}

void SoundAlgoMultibandAmplifier::pushLimiter(SoundAlgoLimiter* limiter)
{
    if (limiter)
        limiters.push_back(limiter);
}
