#pragma once

#include <memory>
#include <type_traits>
#include <utility>

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

// Lets go of what `held` owns on a worker, then (called on the GUI thread) returns soon. The
// pages of a large text go back to the system as it is freed, which takes the freeing thread
// about a millisecond per 10 MB: the GUI thread hands such a text over instead.
void releaseOnWorker(std::shared_ptr<void> held);

template <class T>
void release(T&& value)
{
    releaseOnWorker(std::make_shared<std::decay_t<T>>(std::forward<T>(value)));
}

} // namespace FreedMemory
