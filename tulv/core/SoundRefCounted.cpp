#include "tulv/core/SoundRefCounted.h"

void SoundRefCounted::release()
{
    if (--mRefCount <= 0)
        delete this;
}
