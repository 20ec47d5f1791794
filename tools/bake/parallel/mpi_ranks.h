// The baker's MPI ranks: whether tonwell-bake was started by an MPI launcher (mpirun, srun) as one
// of several processes, which one it is, and the few messages the ranks exchange (bytes from one
// rank to another, a broadcast from rank 0, an agreement on the exit status). The only file that
// includes <mpi.h>; called from the baker's main thread only (MPI is initialised without thread
// support), never from a forked worker process.
//
// Run plainly, MPI is not initialised at all: rankCount() is 1, rankIndex() 0 and every function
// here is a no-op, so a plain bake behaves as before (an MPI_Init without a launcher is not free:
// Open MPI 4 then starts a daemon of its own and takes close to a second).
//
// Waiting is lazy: Open MPI's blocking calls spin on a core, which would take one from the units
// (the machine's cores are the ranks'); a wait here tests the request and sleeps about a
// millisecond between tests, which costs nothing next to units of a second or more.
#pragma once

#include <string>

// Initialises MPI when the process was started by a launcher (Open MPI's mpirun sets
// OMPI_COMM_WORLD_SIZE, PMIx-based launchers such as srun PMIX_RANK, PMI-2 ones PMI_RANK) and
// checks that the MPI names bind to Open MPI (mpiSymbolBindingProblem). On the ranks other than 0,
// standard output and error are sent to /dev/null: rank 0 alone prints (rankProblem reaches the
// real error stream). Returns "" or a problem that ends the run (printed by rank 0).
std::string startRanks(int* argc, char*** argv);

// Agrees on the exit status (the largest over the ranks, so a failure anywhere is seen
// everywhere), finalises MPI and returns that status. Plain: returns `status`.
int finishRanks(int status);

// This process's rank (0 plain) and the number of ranks (1 plain), as the bake sees them: 0 and 1
// too while the ranks work alone (RanksWorkAlone).
int rankIndex();
int rankCount();

// While one lives, every rank works on its own (a batch's whole scenes, batch_bake.h): the bake
// sees one rank (rankCount() 1, rankIndex() 0) and runs its units in its own worker processes.
// The messages below still reach the other ranks.
class RanksWorkAlone {
  public:
    RanksWorkAlone();
    ~RanksWorkAlone();
    RanksWorkAlone(const RanksWorkAlone&) = delete;
    RanksWorkAlone& operator=(const RanksWorkAlone&) = delete;
};

// This process's rank among all (0 plain), also while the ranks work alone.
int worldRankIndex();
int worldRankCount();

// "" when the dynamic linker binds the MPI names right in this process: Open MPI's C functions
// (MPI_Init, MPI_Wtime, ...) to libmpi, and the Fortran names the sequential MUMPS calls
// (mpi_send_, mpi_wtime_, ...) to MUMPS's own stubs; else which name went where.
std::string mpiSymbolBindingProblem();

// Prints `message` on this rank's real standard error (also on the ranks whose output is muted)
// and ends every rank at once (MPI_Abort): for a failure on one rank that the others cannot learn
// of otherwise. Plain: prints and exits with status 1.
[[noreturn]] void abortRanks(const std::string& message);

// [SECTION] Messages. Tags below 100 are the unit scheduler's.

// Sends `bytes` to rank `destination` with `tag`; returns when the buffer may be reused (the
// receiver may not have it yet). Blocking (lazily).
void sendToRank(int destination, int tag, const std::string& bytes);

// Receives one message with `tag` (any tag when negative) from rank `source` (any rank when
// negative) if one has arrived: true, and its source, tag and bytes. Does not wait.
bool receiveIfArrived(int source, int tag, int* fromRank, int* fromTag, std::string* bytes);

// Rank 0's `bytes` on every rank (collective: every rank calls it, in the same order as the other
// collective calls). Blocking (lazily).
std::string broadcastFromRankZero(const std::string& bytes);
