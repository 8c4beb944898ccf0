// Whether the process's address-space limit (RLIMIT_AS, `ulimit -v`) leaves
// the renderer the room it needs.
//
// The software GL driver does not survive running out of address space: a
// mapping that fails in its context creation, its shader compiler or its
// rasteriser threads ends the process with SIGSEGV or SIGABRT instead of an
// error. So the room is checked before the first GL context is created,
// and a limit that leaves too little is refused with a message.
//
// What the renderer needs was measured with the default scene on the
// software driver: runs crashed up to about 480, 630 and 900 MiB above
// what khost held before its first context with 1, 2 and 4 rasteriser
// threads, and never above that. The estimate adds a margin, the window's
// pixels and the scene's vertices.
#pragma once

#include <cstddef>

#include "khost/base/status.h"

namespace khost {

// The GL driver's rasteriser threads: LP_NUM_THREADS when set, else the
// processors this process may run on, at most 32.
int RendererThreads();

// The address space, in KiB, the renderer takes beyond what the process
// holds before its first GL context: for `threads` rasteriser threads, a
// window of `windowPixels` pixels and a scene of `vertices` vertices.
long long RendererNeedKiB(int threads, long long windowPixels, std::size_t vertices);

// Ok when the address space is unlimited or its limit leaves the renderer
// its need; otherwise a failure naming the limit, what the process holds
// and what the renderer needs. [loop thread], before the first GL context.
Status CheckRendererAddressSpace(long long windowPixels, std::size_t vertices);

}  // namespace khost
