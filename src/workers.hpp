// Worker threads that run work_on over batches, in the order they are handed over. With
// no workers, a batch is worked on at once by the thread that hands it over.
#pragma once

#include "batch.hpp"

// Starts `count` workers (0: none).
void workers_start(int count);

// Hands `b` over to be worked on.
void workers_submit(batch& b);

// Waits until `b`, handed over earlier, has been worked on.
void workers_wait(batch& b);

// Lets the workers finish what they were handed, and ends them.
void workers_stop();

// The number of CPUs this process may run on (its affinity mask), at least 1.
int usable_cpus();
