// Forked worker processes with a shared unit counter and one result pipe each (see
// worker_processes.h).
//
// Protocol on a worker's pipe: records of a one-byte kind, the unit (int32) and the payload's
// length (uint64), then the payload. 'S' (no payload): the worker starts the unit, so the parent
// knows which unit a worker that dies was working on; 'R': the unit's result; 'E': the message of
// the exception the unit threw.
#include "tools/bake/parallel/worker_processes.h"

#include <poll.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <thread>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/parallel/interrupt_cleanup.h"
#include "tools/bake/parallel/mpi_ranks.h"
#include "tools/bake/parallel/unit_scheduler.h"

namespace {

struct RecordHeader {
    char kind;
    int32_t unit;
    uint64_t length;
} __attribute__((packed));

bool writeAll(int fd, const void* data, size_t size) {
    const char* p = static_cast<const char*>(data);
    while (size > 0) {
        const ssize_t written = ::write(fd, p, size);
        if (written < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        p += written;
        size -= static_cast<size_t>(written);
    }
    return true;
}

void writeRecord(int fd, char kind, int unit, const std::string& payload) {
    const RecordHeader header{kind, unit, payload.size()};
    if (!writeAll(fd, &header, sizeof header) || !writeAll(fd, payload.data(), payload.size()))
        _exit(3);  // the parent is gone
}

[[noreturn]] void runWorker(int fd, std::atomic<int>* nextUnit, int unitCount,
                            const std::function<std::string(int)>& work) {
    for (;;) {
        const int unit = nextUnit->fetch_add(1);
        if (unit >= unitCount) break;
        writeRecord(fd, 'S', unit, std::string());
        std::string result;
        try {
            result = work(unit);
        } catch (const std::exception& e) {
            writeRecord(fd, 'E', unit, e.what());
            _exit(1);
        } catch (...) {
            writeRecord(fd, 'E', unit, "unknown error");
            _exit(1);
        }
        writeRecord(fd, 'R', unit, result);
    }
    ::close(fd);
    _exit(0);
}

struct Worker {
    pid_t pid = -1;
    int fd = -1;
    std::string buffer;
    int currentUnit = -1;  // started and not yet reported
    bool open = true;
};

std::string describeStatus(int status) {
    if (WIFSIGNALED(status))
        return std::string("the worker process was killed by signal ") +
               std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    if (WIFEXITED(status))
        return "the worker process exited with status " + std::to_string(WEXITSTATUS(status)) +
               " before reporting a result";
    return "the worker process ended unexpectedly";
}

void stopWorkers(std::vector<Worker>& workers) {
    for (Worker& w : workers)
        if (w.pid > 0) ::kill(w.pid, SIGTERM);
    for (Worker& w : workers) {
        if (w.fd >= 0) ::close(w.fd);
        w.fd = -1;
        if (w.pid > 0) {
            int status = 0;
            while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
            }
            removeInterruptedChild(w.pid);
        }
        w.pid = -1;
    }
}

void runInProcess(int unitCount, const std::function<std::string(int)>& work,
                  const std::function<void(int, const std::string&)>& done,
                  const std::function<std::string(int)>& describe) {
    for (int unit = 0; unit < unitCount; ++unit) {
        std::string result;
        try {
            result = work(unit);
        } catch (const std::exception& e) {
            throw BakeError(describe(unit) + ": " + e.what());
        }
        done(unit, result);
    }
}

}  // namespace

int workerCountFor(const WorkerOptions& options) {
    if (options.workerCount > 0) return options.workerCount;
    return std::max(1u, std::thread::hardware_concurrency());
}

void runInWorkerProcesses(int unitCount, const std::function<std::string(int)>& unitWork,
                          const std::function<void(int, const std::string&)>& done,
                          const std::function<std::string(int)>& describe,
                          const WorkerOptions& options) {
    if (unitCount <= 0) return;
    // For the tests of the fault path only: TONWELL_BAKE_FAIL_UNIT=TEXT makes every unit whose
    // description contains TEXT throw before it starts.
    const char* failing = std::getenv("TONWELL_BAKE_FAIL_UNIT");
    const std::string failingUnit = failing ? failing : "";
    const std::function<std::string(int)> work = [&](int unit) {
        if (!failingUnit.empty() && describe(unit).find(failingUnit) != std::string::npos)
            throw std::runtime_error("failure injected by TONWELL_BAKE_FAIL_UNIT");
        return unitWork(unit);
    };
    if (rankCount() > 1) {
        runUnitsOnRanks(unitCount, work, done, describe);
        return;
    }
    const int workerCount = std::min(workerCountFor(options), unitCount);
    if (workerCount <= 1) {
        runInProcess(unitCount, work, done, describe);
        return;
    }

    // The unit counter lives in a page shared by all workers.
    void* page = ::mmap(nullptr, sizeof(std::atomic<int>), PROT_READ | PROT_WRITE,
                        MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (page == MAP_FAILED)
        throw BakeError(std::string("cannot map shared memory: ") + strerror(errno));
    auto* nextUnit = new (page) std::atomic<int>(0);
    std::fflush(stdout);
    std::fflush(stderr);

    std::vector<Worker> workers(workerCount);
    for (int i = 0; i < workerCount; ++i) {
        int fds[2];
        if (::pipe(fds) != 0) {
            stopWorkers(workers);
            ::munmap(page, sizeof(std::atomic<int>));
            throw BakeError(std::string("cannot create a pipe to a worker: ") + strerror(errno));
        }
        const pid_t pid = ::fork();
        if (pid == 0) {
            ::close(fds[0]);
            for (int j = 0; j < i; ++j) ::close(workers[j].fd);
            runWorker(fds[1], nextUnit, unitCount, work);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            stopWorkers(workers);
            ::munmap(page, sizeof(std::atomic<int>));
            throw BakeError(std::string("cannot start a worker process: ") + strerror(errno));
        }
        addInterruptedChild(pid);
        workers[i].pid = pid;
        workers[i].fd = fds[0];
    }

    auto fail = [&](const std::string& message) {
        stopWorkers(workers);
        ::munmap(page, sizeof(std::atomic<int>));
        throw BakeError(message);
    };

    int finished = 0;
    std::vector<char> chunk(1 << 20);
    while (finished < unitCount) {
        std::vector<pollfd> polls;
        std::vector<int> owners;
        for (int i = 0; i < workerCount; ++i)
            if (workers[i].open) {
                polls.push_back({workers[i].fd, POLLIN, 0});
                owners.push_back(i);
            }
        if (polls.empty()) fail("the worker processes ended with units left unfinished");
        if (::poll(polls.data(), polls.size(), -1) < 0) {
            if (errno == EINTR) continue;
            fail(std::string("waiting for the workers failed: ") + strerror(errno));
        }
        for (size_t p = 0; p < polls.size(); ++p) {
            if (!(polls[p].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            Worker& w = workers[owners[p]];
            const ssize_t got = ::read(w.fd, chunk.data(), chunk.size());
            if (got < 0) {
                if (errno == EINTR) continue;
                fail(std::string("reading from a worker failed: ") + strerror(errno));
            }
            if (got == 0) {
                // The worker closed its pipe: it is done, or it died.
                w.open = false;
                int status = 0;
                while (::waitpid(w.pid, &status, 0) < 0 && errno == EINTR) {
                }
                removeInterruptedChild(w.pid);
                w.pid = -1;
                if (w.currentUnit >= 0)
                    fail(describe(w.currentUnit) + ": " + describeStatus(status));
                continue;
            }
            w.buffer.append(chunk.data(), static_cast<size_t>(got));
            // Handle every complete record in the buffer.
            size_t offset = 0;
            while (w.buffer.size() - offset >= sizeof(RecordHeader)) {
                RecordHeader header;
                std::memcpy(&header, w.buffer.data() + offset, sizeof header);
                if (w.buffer.size() - offset - sizeof header < header.length) break;
                const std::string payload = w.buffer.substr(offset + sizeof header, header.length);
                offset += sizeof header + header.length;
                if (header.kind == 'S') {
                    w.currentUnit = header.unit;
                } else if (header.kind == 'E') {
                    fail(describe(header.unit) + ": " + payload);
                } else {
                    w.currentUnit = -1;
                    ++finished;
                    try {
                        done(header.unit, payload);
                    } catch (const std::exception& e) {
                        fail(describe(header.unit) + ": " + e.what());
                    }
                }
            }
            w.buffer.erase(0, offset);
        }
    }
    stopWorkers(workers);
    ::munmap(page, sizeof(std::atomic<int>));
}

// [SECTION] Bytes
