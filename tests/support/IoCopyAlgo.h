#ifndef TULV_TESTS_SUPPORT_IOCOPYALGO_H
#define TULV_TESTS_SUPPORT_IOCOPYALGO_H

#include "tulv/core/SoundAlgo.h"

#include <cstring>

namespace iotest {

// Copies its input to its output block by block: a file-to-file run through
// the loop changes nothing but the container. An input overlap makes the
// loop keep context frames and push zeros through at the end of the stream,
// as a filter would; the zeros come out after the last frame of the source,
// so a caller that wants the source's length sets the writer's range.
class CopyAlgo : public SoundAlgo {
public:
    explicit CopyAlgo(unsigned int inOverlap = 0)
        : mInOverlap(inOverlap)
    {
    }
    SoundTools::Status process() override
    {
        auto in = getInBuffer(0);
        auto out = getOutBuffer(0);
        const int from = getOutOrigin();
        // One memcpy per block: the loop's own cost is what remains.
        std::memcpy(out->getFrame(from), in->getFrame(from), sizeof(double) * 2 * getOutFrameNb());
        return SoundTools::Ok;
    }

protected:
    unsigned int getInOverlap(unsigned int) const override { return mInOverlap; }

private:
    unsigned int mInOverlap;
};

} // namespace iotest

#endif
