#pragma once

// Memory the program has let go of, handed back to the system where the allocator would keep it
// for later (one implementation per platform).
namespace FreedMemory {

void giveBack();

} // namespace FreedMemory
