// The baker's one thread pool: a loop whose iterations are independent, spread over threads that
// take small chunks of indices from a shared counter (iterations differ in cost, for example the
// rows of a boundary element matrix near and far from thin walls). Each call starts its threads
// and joins them before it returns, so no thread outlives it (the worker processes of
// worker_processes.h are forked only while no thread runs).
#pragma once

#include <functional>

// The number of threads `requested` stands for: itself when positive, else the hardware's.
int threadCountFor(int requested);

// Runs body(i) for i in [0, count) on threadCountFor(threads) threads (the calling one among
// them). `body` must be safe to run concurrently for different i.
void parallelFor(int count, int threads, const std::function<void(int)>& body);
