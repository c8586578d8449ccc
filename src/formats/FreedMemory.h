#pragma once

// Memory freed after large work (a 100 MB document formatted again, a table sorted) stays with
// the allocator's arenas, most of all those of the worker threads, and the process keeps holding
// it long after. returnSoon() gives it back to the system once work has been quiet for a moment,
// on a worker, and only when much of it lies free.
namespace FreedMemory {

// Called on the GUI thread after a result is applied; several calls in a row make one return.
void returnSoon();

// Gives back what lies free now, when that is much; answers whether it tried. The allocator
// still counts the given-back bytes as free, so a second call tries again (and costs little).
bool returnNow();

} // namespace FreedMemory
