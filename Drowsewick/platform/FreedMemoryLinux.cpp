#include "platform/FreedMemory.h"

#include <malloc.h>

namespace FreedMemory {

void giveBack()
{
    // glibc keeps freed pages inside its heaps resident until asked to return them.
    malloc_trim(0);
}

} // namespace FreedMemory
