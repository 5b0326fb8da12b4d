#include "app/memory.h"

#include <cstdlib>  // defines __GLIBC__ where it is the C library
#if defined(__GLIBC__)
#include <malloc.h>
#endif

namespace app {

void releaseFreedMemory()
{
#if defined(__GLIBC__)
    malloc_trim(0);
#endif
}

} // namespace app
