#ifndef TULV_APPS_PASS_H
#define TULV_APPS_PASS_H

#include <tulv/tulv.h>

#include <QString>

#include <memory>

// Holds one reference of an algorithm and lets it go on scope exit.
struct ReleaseAlgo {
    // Out of line: inlined next to the `new`, the release through a base
    // pointer makes the compiler believe a sub-object is being deleted.
    void operator()(SoundRefCounted* algo) const;
};
template <typename T>
using AlgoRef = std::unique_ptr<T, ReleaseAlgo>;

// The outcome of one run of the block loop as the tool sees it.
enum class PassResult { Done, Failed, Interrupted };

// Runs `algo` over `reader` into `writer` (null: analysis only) with a
// progress report labelled `label`; `frames` is the length of the pass for
// the percentage (0: as the loop counts it). A Ctrl-C during the pass stops
// it at the end of the current block.
PassResult runPass(const QString& label, SoundAlgo& algo, SoundReader& reader, SoundWriter* writer,
                   unsigned int frames, bool quiet);

#endif
