#ifndef TULV_FILTERS_FILTERLOCKGUARD_H
#define TULV_FILTERS_FILTERLOCKGUARD_H

// Scoped read and write locks of a filter list. Under the thread sanitizer
// they also declare the ordering the lock gives: Qt's lock lives in a
// library the sanitizer does not instrument, so it would otherwise take
// every hand-over of a filter between threads for a race.

#include <QReadWriteLock>

#if defined(__SANITIZE_THREAD__)
#include <sanitizer/tsan_interface.h>
#define TULV_LOCK_ACQUIRED(lock) __tsan_acquire(lock)
#define TULV_LOCK_RELEASING(lock) __tsan_release(lock)
#else
#define TULV_LOCK_ACQUIRED(lock) ((void)(lock))
#define TULV_LOCK_RELEASING(lock) ((void)(lock))
#endif

namespace tulvdetail {

class FilterWriteGuard {
public:
    explicit FilterWriteGuard(QReadWriteLock& lock)
        : mLock(lock)
    {
        mLock.lockForWrite();
        TULV_LOCK_ACQUIRED(&mLock);
    }
    ~FilterWriteGuard()
    {
        TULV_LOCK_RELEASING(&mLock);
        mLock.unlock();
    }
    FilterWriteGuard(const FilterWriteGuard&) = delete;
    FilterWriteGuard& operator=(const FilterWriteGuard&) = delete;

private:
    QReadWriteLock& mLock;
};

class FilterReadGuard {
public:
    explicit FilterReadGuard(QReadWriteLock& lock)
        : mLock(lock)
    {
        mLock.lockForRead();
        TULV_LOCK_ACQUIRED(&mLock);
    }
    ~FilterReadGuard()
    {
        TULV_LOCK_RELEASING(&mLock);
        mLock.unlock();
    }
    FilterReadGuard(const FilterReadGuard&) = delete;
    FilterReadGuard& operator=(const FilterReadGuard&) = delete;

private:
    QReadWriteLock& mLock;
};

} // namespace tulvdetail

#endif
