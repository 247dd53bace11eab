#ifndef TULV_CORE_SOUNDREFCOUNTED_H
#define TULV_CORE_SOUNDREFCOUNTED_H

// Intrusive reference count: an algorithm may be held by several owners (a
// composite, a player, a writer consulting a detector) and is destroyed by
// whichever lets it go last. The creator holds the first reference.
// The count is a plain integer: graphs are built and torn down from one thread.
class SoundRefCounted {
public:
    SoundRefCounted() = default;
    SoundRefCounted(const SoundRefCounted&) = delete;
    SoundRefCounted& operator=(const SoundRefCounted&) = delete;

    // Takes a reference.
    void addRef() { ++mRefCount; }
    // Lets a reference go; the object deletes itself when it was the last one.
    // Out of line: inlined next to a `new` of a known type, GCC warns that
    // the deletion frees a non-heap object.
    void release();
    int getRefCount() const { return mRefCount; }

protected:
    virtual ~SoundRefCounted() = default;

private:
    int mRefCount = 1;
};

#endif
