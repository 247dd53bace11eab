#include "Pass.h"

#include "Interrupt.h"
#include "Progress.h"

void ReleaseAlgo::operator()(SoundRefCounted* algo) const
{
    if (algo)
        algo->release();
}

PassResult runPass(const QString& label, SoundAlgo& algo, SoundReader& reader, SoundWriter* writer,
                   unsigned int frames, bool quiet)
{
    if (interrupt::requested())
        return PassResult::Interrupted;
    Progress progress(label, frames, reader.getSampleRate(), quiet);
    progress.attach(&algo);
    const SoundTools::Status status = algo.processAll(reader, writer);
    const bool stopped = status == SoundTools::Stopped || interrupt::requested();
    progress.finish(!stopped && status != SoundTools::Error);
    if (stopped)
        return PassResult::Interrupted;
    return status == SoundTools::Error ? PassResult::Failed : PassResult::Done;
}
