#pragma once

namespace app {

// Readies the C library's heap for a large start, before anything else allocates much: the
// heap is reserved in one piece that the kernel may back with 2 MiB pages, and large blocks
// come from it too. A playlist of 100,000 entries touches some 200 MB while it is read and
// shown; in 4 KiB pages that was 50,000 page faults, a third of the start's processor time.
// The reserve is address space only: what is never touched costs nothing. Call once, first
// thing in main(), on the main thread.
void prepareHeap();

// Gives the memory the program has freed back to the system, where the C library keeps it
// for later allocations (glibc keeps freed heap in each thread's arena). Worth it after a
// large part of the program has gone (a video's decoders and OpenGL context); it walks
// every arena, so not for hot paths, and never on a real-time thread.
void releaseFreedMemory();

} // namespace app
