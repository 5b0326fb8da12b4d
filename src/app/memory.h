#pragma once

namespace app {

// Gives the memory the program has freed back to the system, where the C library keeps it
// for later allocations (glibc keeps freed heap in each thread's arena). Worth it after a
// large part of the program has gone (a video's decoders and OpenGL context); it walks
// every arena, so not for hot paths, and never on a real-time thread.
void releaseFreedMemory();

} // namespace app
