// A host program that knows tulv only through its installed umbrella header.
#include <tulv/tulv.h>

#include <cstdio>

int main()
{
    auto buffer = SoundBuffer::createNew(44100);
    buffer->alloc(16, 2, 1, 1);
    buffer->setFrameNB(16);
    buffer->addBuffer(0.5);
    const bool ok = buffer->isStereo() && buffer->getFrame(3)[1] == 0.5;
    std::printf("%s %s\n", ok ? "consumer ok" : "consumer broken", SoundTools::libraryVersion());
    return ok ? 0 : 1;
}
