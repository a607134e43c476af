#include "platform/FreedMemory.h"

#include <malloc/malloc.h>

namespace FreedMemory {

void giveBack()
{
    // The system allocator returns the free pages of every zone when asked to relieve pressure.
    malloc_zone_pressure_relief(nullptr, 0);
}

} // namespace FreedMemory
