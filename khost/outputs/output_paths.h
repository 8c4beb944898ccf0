// Whether the files a run would write collide with each other or with the
// files it reads, checked before anything is opened or written.
//
// Two outputs collide when they are the same file: the same path once
// symbolic links are followed (for a name not yet there, its folder's), or
// the same device and inode (hard links, /dev/stdout and the file or pipe
// it stands for). One would silently overwrite the other. That holds for
// streams too: two outputs to one pipe or terminal would interleave their
// text into one unreadable whole. Only /dev/null may be shared, as nothing
// reads what goes there.
//
// An output collides with an input (the module, a configuration file the
// host reads, the scene file) that is the same file: writing it would
// destroy what the run, or the next, reads.
//
// An output may not be a file khost itself holds open (its window system
// connection, its internal pipes, a file it reads while running), however
// it is named (/dev/fd/N, /proc/self/fd/N, a link to either): writing it
// would corrupt khost's own traffic or block on it. The descriptors the
// caller handed over (standard input, output and error, and any other a
// shell opened, as with 3>file) are the caller's, and outputs may name
// them.
#pragma once

#include <string>
#include <vector>

#include "khost/base/status.h"

namespace khost {

struct NamedPath {
  std::string What;  // how messages name it: a flag ("--record") or an input ("the module")
  std::string Path;
};

// Records the descriptors open now as the caller's. [loop thread], first
// thing in main, before khost opens anything.
void NoteInheritedDescriptors();

// Ok, or a usage error (exit status 2) whose message names both colliding
// files and how they were given. The check against khost's own descriptors
// runs only once NoteInheritedDescriptors has; it looks at the descriptors
// open when it runs, so it runs after the window and the graphic context
// are up.
Status CheckOutputPaths(const std::vector<NamedPath>& outputs,
                        const std::vector<NamedPath>& inputs);

}  // namespace khost
