#include "tulv/dynamics/SoundAlgoFWIntegrator.h"

#include <algorithm>
#include <cmath>

SoundAlgoFWIntegrator::SoundAlgoFWIntegrator(double scale)
    : mScale(scale)
{
}

SoundTools::Status SoundAlgoFWIntegrator::initProcess(const LoopContext& context, SoundAlgo* previous,
                                                      SoundAlgo* next)
{
    mSum[0] = mSum[1] = 0.0;
    return SoundAlgo::initProcess(context, previous, next);
}

SoundTools::Status SoundAlgoFWIntegrator::process()
{
    const int first = getOutOrigin();
    const int N = static_cast<int>(std::min(getOutFrameNb(), getInFrameNb()));
    if (N <= 0)
        return SoundTools::Ok;
    const double* in = mInBuffers[0]->getFrame(first);
    double* out = mOutBuffers[0]->getFrame(first);
    if (!in || !out)
        return SoundTools::Error;
    for (int i = 0; i < N; ++i) {
        for (int c = 0; c < 2; ++c) {
            const double x = in[2 * i + c];
            const double next = in[2 * (i + 1) + c];
            mSum[c] += std::fabs(x);
            if (mSum[c] > mMax[c])
                mMax[c] = mSum[c];
            if (x < 0.0 && next >= 0.0)
                mSum[c] = 0.0;
            out[2 * i + c] = (2.0 * mSum[c] / mMax[c] - 1.0) * mScale;
        }
    }
    return SoundTools::Ok;
}
