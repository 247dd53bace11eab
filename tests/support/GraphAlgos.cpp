#include "tests/support/GraphAlgos.h"

namespace testsupport {

SoundTools::Status FanOut::process()
{
    const unsigned int n = getOutFrameNb();
    const int inFirst = getInOrigin();
    const int outFirst = getOutOrigin();
    for (size_t port = 0; port < mLines.size(); ++port) {
        for (unsigned int k = 0; k < n; ++k) {
            const double* x = getInBuffer(0)->getFrame(inFirst + int(k));
            double* y = getOutBuffer(unsigned(port))->getFrame(outFirst + int(k));
            if (!x || !y)
                return SoundTools::Error;
            for (int c = 0; c < 2; ++c)
                y[c] = mLines[port].gain * x[c] + mLines[port].offset;
        }
    }
    return SoundTools::Ok;
}

GeometryCopy::~GeometryCopy()
{
    if (mCounter)
        ++*mCounter;
}

SoundTools::Status GeometryCopy::process()
{
    if (mProbe)
        mProbe();
    if (mFailure != SoundTools::Ok)
        return mFailure;
    auto in = getInBuffer(0);
    auto out = getOutBuffer(0);
    const int first = getOutOrigin() + static_cast<int>(mGeometry.outOverlap);
    const int end = getOutOrigin() + static_cast<int>(getOutFrameNb());
    const int delay = static_cast<int>(mGeometry.delay);
    for (int j = first; j < end; ++j) {
        const double* source = in->getFrame(j - delay);
        double* target = out->getFrame(j);
        // Reading past the input's valid frames would mean the graph handed
        // this member less than its geometry promised.
        if (!source || !target || j - delay > in->getEnd())
            return SoundTools::Error;
        target[0] = mGain * source[0];
        target[1] = mGain * source[1];
    }
    return SoundTools::Ok;
}

} // namespace testsupport

