#include "tulv/spectral/SoundAlgoFFTTranslate.h"

#include <algorithm>
#include <cstring>

SoundAlgoFFTTranslate::SoundAlgoFFTTranslate(int shift)
    : shift(shift)
{
}

SoundAlgoFFTTranslate::~SoundAlgoFFTTranslate() = default;

SoundTools::Status SoundAlgoFFTTranslate::process()
{
    const unsigned int count = beginSpectralBlock();
    const int bins = static_cast<int>(getFFTSampleSize());
    // Bins 1 … K−2 move; the ones moved in from outside the spectrum are 0.
    const int inner = bins - 2;
    const int s = std::max(std::min(shift, inner), -inner);
    const int moved = inner - std::abs(s);
    for (unsigned int i = 0; i < count; ++i) {
        const double* in = mInBuffers[0]->getRelFrame(static_cast<int>(i));
        double* out = mOutBuffers[0]->getRelFrame(static_cast<int>(i));
        for (int c = 0; c < 2; ++c, in += 2 * bins, out += 2 * bins) {
            std::fill(out + 2, out + 2 * (bins - 1), 0.0);
            out[0] = in[0];
            out[1] = in[1];
            out[2 * (bins - 1)] = in[2 * (bins - 1)];
            out[2 * (bins - 1) + 1] = in[2 * (bins - 1) + 1];
            if (moved <= 0)
                continue;
            const int to = s >= 0 ? 1 + s : 1;
            const int from = s >= 0 ? 1 : 1 - s;
            std::memcpy(out + 2 * to, in + 2 * from, sizeof(double) * 2 * size_t(moved));
        }
    }
    return SoundTools::Ok;
}
