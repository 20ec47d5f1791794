// Independent units of the baker's work (eigen slices, boundary element solves, fits) run side by
// side in forked worker processes, with dynamic load balancing: each worker takes the next unit as
// soon as it is done with the last one, since units differ a lot in cost. Processes rather than
// threads, because the sparse direct solver and the hierarchical-matrix library keep global state
// that is not safe to share between threads; a process inherits the parent's data (the meshes,
// the matrices) for free and hands back only its result, as bytes through a pipe.
//
// Called from the baker's main thread, which must run no other thread while the workers start
// (fork copies only the calling thread). Workers never print: the parent reports progress as
// results come in.
#pragma once

#include <Eigen/Core>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "tools/bake/parallel/byte_packing.h"

struct WorkerOptions {
    int workerCount = 0;  // processes; 0: one per hardware thread. 1 runs the units in-process.
};

// Runs work(u) for every unit u in [0, unitCount), each in some worker process, and calls
// done(u, result) in the parent with the bytes work(u) returned, in order of completion.
// `describe(u)` names a unit in messages (for example "eigen slice 3 of 6 (2.4-3.1 kHz)").
// A unit that throws, or a worker that dies (a signal, an exit without its result), stops the run:
// the other workers are terminated and BakeError is thrown with the unit's description and what
// went wrong (the exception's message, or the signal). `done` runs on the calling thread and may
// throw too, which ends the run the same way.
// Under an MPI launcher with several ranks (mpi_ranks.h) the units go to the ranks instead,
// one at a time each (unit_scheduler.h), and `options` is not used; every rank must then call
// this at the same point with the same units.
// For tests of the fault path only: with TONWELL_BAKE_FAIL_UNIT=TEXT in the environment, every
// unit whose description contains TEXT throws before it starts.
void runInWorkerProcesses(int unitCount, const std::function<std::string(int)>& work,
                          const std::function<void(int, const std::string&)>& done,
                          const std::function<std::string(int)>& describe,
                          const WorkerOptions& options = WorkerOptions());

// The number of workers `options` asks for (hardware threads when 0).
int workerCountFor(const WorkerOptions& options);
