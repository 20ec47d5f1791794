// The baker's independent units (eigen slices, transfer groups) spread over MPI ranks, with
// dynamic load balancing: rank 0 keeps the queue (the units in index order, which the callers
// make costliest first) and hands the next unit to whichever rank asks, rank 0 included; results
// come back to rank 0 as the bytes the unit returned. Used by runInWorkerProcesses when the baker
// runs as several ranks; rankCount() > 1.
//
// Every rank runs the same bake (the cheap serial stages are computed on each, so the units'
// inputs are there without being sent), and calls this at the same points with the same units.
// Each rank runs one unit at a time, in a forked process of its own (worker_processes.h's
// reasons: MUMPS and hmat-oss keep global state; and the rank's main thread stays free to answer
// rank 0 and to stop the unit when the run fails). Launch one rank per core.
#pragma once

#include <functional>
#include <string>

// Runs work(u) for every unit u in [0, unitCount) on some rank. On rank 0, done(u, result) is
// called as each result arrives (progress can be shown); on the other ranks, once all are in, for
// every unit in index order, with rank 0's bytes, so that every rank ends the call in the same
// state. `describe(u)` names a unit in messages.
// Collective: every rank calls it with the same unitCount, in the same order. A unit that throws,
// a unit's process that dies, or a `done` that throws on rank 0, stops the units on every rank
// and throws BakeError with the unit's description and what went wrong, on every rank.
void runUnitsOnRanks(int unitCount, const std::function<std::string(int)>& work,
                     const std::function<void(int, const std::string&)>& done,
                     const std::function<std::string(int)>& describe);
