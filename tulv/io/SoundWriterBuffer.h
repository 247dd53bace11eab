#ifndef TULV_IO_SOUNDWRITERBUFFER_H
#define TULV_IO_SOUNDWRITERBUFFER_H

#include "tulv/io/SoundReaderBuffer.h"
#include "tulv/io/SoundWriter.h"

// The writer a processing loop fills a SoundReaderBuffer through. A result
// other than Ok (the queue was interrupted or closed) stops the loop.
class SoundWriterBuffer : public SoundWriter {
public:
    explicit SoundWriterBuffer(SoundReaderBuffer* target);

    SoundTools::Status open(QString fileName) override { return mTarget->open(fileName); }
    void close() override;
    // The queue skips the last `tail` frames of every block: the next block
    // repeats them.
    SoundTools::Status writeBuffer(std::shared_ptr<SoundBuffer> block, unsigned int tail) override;

protected:
    unsigned int write(unsigned int /*count*/, double* /*frames*/) override { return 0; }

private:
    SoundReaderBuffer* mTarget; // not owned
    bool mOverlapSent = false;
};

#endif
