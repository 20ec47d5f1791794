// The baker's MPI ranks (see mpi_ranks.h), and why linking Open MPI beside MUMPS is safe here.
//
// The sequential MUMPS libraries carry their own MPI stand-in: libdmumps_seq, libmumps_common_seq
// and libmpiseq_seq each export the Fortran stubs (mpi_send_, mpi_wtime_, ... ) and four C names
// that Open MPI's libmpi exports too: MPI_Init, MPI_Comm_rank, MPI_Finalize, MPI_Wtime. An ELF
// process has one global symbol scope, searched in load order (the executable, then its
// DT_NEEDED libraries breadth first, in link order), and a shared library without -Bsymbolic
// reaches even its own exported functions through that scope: libmpi calls MPI_Wtime, MPI_Wtick
// and MPI_Status_c2f/f2c through its PLT. With a MUMPS library ahead of libmpi, Open MPI's
// timers and our MPI_Init would land in MUMPS's stubs.
//
// The choice: libmpi comes first in the link (tools/bake/CMakeLists.txt lists MPI::MPI_C before
// the MUMPS libraries), so every C MPI_* name binds to Open MPI for everyone (our code, libmpi
// itself). MUMPS itself calls only Fortran names (its PLT relocations are mpi_*_ and none is
// MPI_*), which the C libmpi does not export (Open MPI's Fortran bindings are libmpi_mpifh, not
// linked), so they stay with MUMPS's stubs, and the solver stays sequential and rank-local. This
// is checked, not assumed: mpiSymbolBindingProblem asks the dynamic linker where MPI_Init,
// MPI_Wtime and the stubs MUMPS calls resolve (dlsym(RTLD_DEFAULT) searches the same global scope
// the PLTs bind through), startRanks refuses to run under a launcher when it is wrong, and a test
// runs the same check on the baker's test program. The other designs (Open MPI behind
// dlopen(RTLD_LOCAL), whose own PLT would still search the global scope first unless opened with
// RTLD_DEEPBIND; the coordination in a second program without MUMPS) move the same question
// elsewhere at a higher price.
#include "tools/bake/parallel/mpi_ranks.h"

#include <dlfcn.h>
#include <fcntl.h>
// The C interface only (Open MPI's deprecated C++ bindings would need libmpi_cxx).
#define OMPI_SKIP_MPICXX 1
#define MPICH_SKIP_MPICXX 1
#include <mpi.h>
#include <time.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

bool initialised = false;
bool alone = false;  // inside a RanksWorkAlone
int thisRank = 0, allRanks = 1;
int realStderr = 2;  // this rank's error stream before it was muted

// True when an MPI launcher started this process.
bool launchedByMpi() {
    for (const char* name : {"OMPI_COMM_WORLD_SIZE", "PMIX_RANK", "PMI_RANK"})
        if (std::getenv(name)) return true;
    return false;
}

// Tests `request` until it completes, sleeping between tests (see mpi_ranks.h: no spinning).
void waitLazily(MPI_Request* request) {
    long pauseNs = 50000;
    for (;;) {
        int done = 0;
        MPI_Test(request, &done, MPI_STATUS_IGNORE);
        if (done) return;
        const timespec pause{0, pauseNs};
        nanosleep(&pause, nullptr);
        pauseNs = std::min(pauseNs * 2, 2000000L);
    }
}

// The shared object that defines the symbol `name` as the global scope binds it, "" if none.
std::string definingObject(const char* name) {
    void* address = dlsym(RTLD_DEFAULT, name);
    Dl_info info;
    if (!address || !dladdr(address, &info) || !info.dli_fname) return "";
    return info.dli_fname;
}

bool contains(const std::string& text, const char* part) {
    return text.find(part) != std::string::npos;
}

// Bytes move in pieces of at most 1 GiB (MPI counts are int).
constexpr size_t kPiece = size_t(1) << 30;

}  // namespace

std::string mpiSymbolBindingProblem() {
    for (const char* name : {"MPI_Init", "MPI_Wtime", "MPI_Comm_rank", "MPI_Finalize"}) {
        const std::string where = definingObject(name);
        if (!contains(where, "libmpi.so"))
            return std::string(name) + " binds to " + (where.empty() ? "nothing" : where) +
                   ", not to Open MPI's libmpi (link libmpi before the MUMPS libraries)";
    }
    for (const char* name : {"mpi_send_", "mpi_wtime_", "mpi_allreduce_", "mpi_init_"}) {
        const std::string where = definingObject(name);
        if (!contains(where, "mumps") && !contains(where, "mpiseq"))
            return std::string(name) + " (called by MUMPS) binds to " +
                   (where.empty() ? "nothing" : where) + ", not to MUMPS's sequential stubs";
    }
    return "";
}

std::string startRanks(int* argc, char*** argv) {
    if (!launchedByMpi()) return "";
    const std::string problem = mpiSymbolBindingProblem();
    if (!problem.empty()) return problem;
    if (MPI_Init(argc, argv) != MPI_SUCCESS) return "MPI_Init failed";
    initialised = true;
    MPI_Comm_rank(MPI_COMM_WORLD, &thisRank);
    MPI_Comm_size(MPI_COMM_WORLD, &allRanks);
    if (thisRank != 0) {
        std::fflush(stdout);
        std::fflush(stderr);
        realStderr = dup(2);
        const int null = open("/dev/null", O_WRONLY);
        if (null >= 0) {
            dup2(null, 1);
            dup2(null, 2);
            close(null);
        }
    }
    return "";
}

int finishRanks(int status) {
    if (!initialised) return status;
    std::fflush(stdout);
    std::fflush(stderr);
    int agreed = status;
    MPI_Request request;
    MPI_Iallreduce(&status, &agreed, 1, MPI_INT, MPI_MAX, MPI_COMM_WORLD, &request);
    waitLazily(&request);
    MPI_Finalize();
    initialised = false;
    return agreed;
}

int rankIndex() { return alone ? 0 : thisRank; }
int rankCount() { return alone ? 1 : allRanks; }
int worldRankIndex() { return thisRank; }
int worldRankCount() { return allRanks; }

RanksWorkAlone::RanksWorkAlone() { alone = true; }
RanksWorkAlone::~RanksWorkAlone() { alone = false; }

void abortRanks(const std::string& message) {
    const std::string line =
        "tonwell-bake: rank " + std::to_string(thisRank) + ": " + message + "\n";
    std::fflush(stdout);
    if (write(realStderr, line.data(), line.size()) < 0) {
        // Nowhere left to say it.
    }
    if (initialised) MPI_Abort(MPI_COMM_WORLD, 1);
    std::_Exit(1);
}

void sendToRank(int destination, int tag, const std::string& bytes) {
    // The length first, then the bytes in pieces, all with the same tag (MPI keeps their order
    // between one pair of ranks).
    const uint64_t length = bytes.size();
    MPI_Request request;
    MPI_Isend(&length, 1, MPI_UINT64_T, destination, tag, MPI_COMM_WORLD, &request);
    waitLazily(&request);
    for (size_t offset = 0; offset < bytes.size(); offset += kPiece) {
        const int count = static_cast<int>(std::min(kPiece, bytes.size() - offset));
        MPI_Isend(bytes.data() + offset, count, MPI_BYTE, destination, tag, MPI_COMM_WORLD,
                  &request);
        waitLazily(&request);
    }
}

bool receiveIfArrived(int source, int tag, int* fromRank, int* fromTag, std::string* bytes) {
    int arrived = 0;
    MPI_Status status;
    MPI_Iprobe(source < 0 ? MPI_ANY_SOURCE : source, tag < 0 ? MPI_ANY_TAG : tag, MPI_COMM_WORLD,
               &arrived, &status);
    if (!arrived) return false;
    *fromRank = status.MPI_SOURCE;
    *fromTag = status.MPI_TAG;
    uint64_t length = 0;
    MPI_Request request;
    MPI_Irecv(&length, 1, MPI_UINT64_T, *fromRank, *fromTag, MPI_COMM_WORLD, &request);
    waitLazily(&request);
    bytes->assign(length, '\0');
    for (size_t offset = 0; offset < length; offset += kPiece) {
        const int count = static_cast<int>(std::min<uint64_t>(kPiece, length - offset));
        MPI_Irecv(&(*bytes)[offset], count, MPI_BYTE, *fromRank, *fromTag, MPI_COMM_WORLD,
                  &request);
        waitLazily(&request);
    }
    return true;
}

std::string broadcastFromRankZero(const std::string& bytes) {
    if (!initialised) return bytes;
    uint64_t length = bytes.size();
    MPI_Request request;
    MPI_Ibcast(&length, 1, MPI_UINT64_T, 0, MPI_COMM_WORLD, &request);
    waitLazily(&request);
    std::string result = thisRank == 0 ? bytes : std::string(length, '\0');
    for (size_t offset = 0; offset < length; offset += kPiece) {
        const int count = static_cast<int>(std::min<uint64_t>(kPiece, length - offset));
        MPI_Ibcast(&result[offset], count, MPI_BYTE, 0, MPI_COMM_WORLD, &request);
        waitLazily(&request);
    }
    return result;
}
