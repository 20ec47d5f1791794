// The units spread over the MPI ranks (see unit_scheduler.h).
//
// Messages, each starting with the run's number (every rank counts its calls, so a message of an
// earlier run cannot be taken for one of this run):
//   rank r -> 0   request     r wants a unit
//   rank r -> 0   result      unit u's bytes (r then asks again)
//   rank r -> 0   failure     unit u threw or its process died: the message
//   rank 0 -> r   assign      unit u, or -1: none left (r then waits for the end of the run)
//   rank 0 -> r   stop        the run failed: stop the unit and answer "stopped"
//   rank r -> 0   stopped     after a stop; nothing more comes from r in this run
// A run ends with a broadcast from rank 0 (collective, all ranks): success and every unit's
// bytes in index order, or failure and its message. Rank 0 sends it only when every other rank
// is idle (told "none left") or has answered "stopped", so no message is left in flight.
#include "tools/bake/parallel/unit_scheduler.h"

#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

#include "tools/bake/common/bake_error.h"
#include "tools/bake/parallel/byte_packing.h"
#include "tools/bake/parallel/interrupt_cleanup.h"
#include "tools/bake/parallel/mpi_ranks.h"

namespace {

enum Tag { kRequest = 1, kResult, kFailure, kAssign, kStop, kStopped };

int64_t runNumber = 0;  // of this process's calls; equal on every rank

std::string message(int64_t run, int64_t unit, const std::string& payload = std::string()) {
    ByteWriter out;
    out.putInt(run);
    out.putInt(unit);
    out.putString(payload);
    return out.take();
}

struct Message {
    int from = -1, tag = -1;
    int64_t run = -1, unit = -1;
    std::string payload;
};

// The next message of this run (from `source`, any when negative), if one has arrived; messages
// of other runs are dropped.
bool nextMessage(int source, Message& m) {
    std::string bytes;
    while (receiveIfArrived(source, -1, &m.from, &m.tag, &bytes)) {
        ByteReader in(bytes);
        m.run = in.getInt();
        m.unit = in.getInt();
        m.payload = in.getString();
        if (m.run == runNumber) return true;
    }
    return false;
}

void sleepBriefly() {
    const timespec pause{0, 1000000};  // 1 ms
    nanosleep(&pause, nullptr);
}

std::string describeStatus(int status) {
    if (WIFSIGNALED(status))
        return std::string("the unit's process was killed by signal ") +
               std::to_string(WTERMSIG(status)) + " (" + strsignal(WTERMSIG(status)) + ")";
    return "the unit's process exited with status " + std::to_string(WEXITSTATUS(status)) +
           " before reporting a result";
}

// One unit running in a forked process of this rank. Its pipe carries one record: 'R' and the
// result, or 'E' and the exception's message.
class UnitProcess {
  public:
    enum Outcome { kRunning, kSucceeded, kFailed };

    ~UnitProcess() { stop(); }
    bool running() const { return pid_ > 0; }
    int unit() const { return unit_; }

    void start(int unit, const std::function<std::string(int)>& work) {
        int fds[2];
        if (::pipe(fds) != 0)
            throw BakeError(std::string("cannot create a pipe to a unit: ") + strerror(errno));
        std::fflush(stdout);
        std::fflush(stderr);
        const pid_t parent = ::getpid();
        const pid_t pid = ::fork();
        if (pid == 0) {
            // The unit's process: no MPI here, and _exit so that nothing of the rank's runs.
            // It dies with its rank (a rank that is killed leaves no unit computing on).
            ::prctl(PR_SET_PDEATHSIG, SIGKILL);
            if (::getppid() != parent) _exit(3);
            ::close(fds[0]);
            std::string record;
            try {
                record = "R" + work(unit);
            } catch (const std::exception& e) {
                record = std::string("E") + e.what();
            } catch (...) {
                record = "Eunknown error";
            }
            const char* p = record.data();
            size_t left = record.size();
            while (left > 0) {
                const ssize_t written = ::write(fds[1], p, left);
                if (written < 0 && errno == EINTR) continue;
                if (written <= 0) _exit(3);
                p += written;
                left -= static_cast<size_t>(written);
            }
            _exit(0);
        }
        ::close(fds[1]);
        if (pid < 0) {
            ::close(fds[0]);
            throw BakeError(std::string("cannot start a unit's process: ") + strerror(errno));
        }
        addInterruptedChild(pid);
        pid_ = pid;
        fd_ = fds[0];
        unit_ = unit;
        buffer_.clear();
    }

    // Waits up to `milliseconds` for the unit; when it has ended, its result or failure message.
    Outcome poll(int milliseconds, std::string& bytes) {
        pollfd p{fd_, POLLIN, 0};
        if (::poll(&p, 1, milliseconds) <= 0) return kRunning;
        char chunk[1 << 16];
        for (;;) {
            const ssize_t got = ::read(fd_, chunk, sizeof chunk);
            if (got < 0 && errno == EINTR) continue;
            if (got > 0) {
                buffer_.append(chunk, static_cast<size_t>(got));
                if (::poll(&p, 1, 0) <= 0) return kRunning;
                continue;
            }
            break;  // end of the pipe: the process is done, or died
        }
        ::close(fd_);
        fd_ = -1;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        removeInterruptedChild(pid_);
        pid_ = -1;
        const bool clean = WIFEXITED(status) && WEXITSTATUS(status) == 0;
        if (clean && !buffer_.empty() && (buffer_[0] == 'R' || buffer_[0] == 'E')) {
            bytes = buffer_.substr(1);
            return buffer_[0] == 'R' ? kSucceeded : kFailed;
        }
        bytes = describeStatus(status);
        return kFailed;
    }

    void stop() {
        if (pid_ <= 0) return;
        ::kill(pid_, SIGKILL);
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
        int status = 0;
        while (::waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
        removeInterruptedChild(pid_);
        pid_ = -1;
    }

  private:
    pid_t pid_ = -1;
    int fd_ = -1;
    int unit_ = -1;
    std::string buffer_;
};

std::string onRank(const std::string& what, int rank) {
    return what + " (on rank " + std::to_string(rank) + ")";
}

// [SECTION] Rank 0: the queue

void runQueue(int unitCount, const std::function<std::string(int)>& work,
              const std::function<void(int, const std::string&)>& done,
              const std::function<std::string(int)>& describe) {
    const int ranks = rankCount();
    std::vector<std::string> results(unitCount);
    std::vector<bool> have(unitCount, false), idle(ranks, false);
    int next = 0, finished = 0, idleCount = 0;
    std::string failure;
    UnitProcess own;

    auto accept = [&](int unit, const std::string& bytes) {
        if (unit < 0 || unit >= unitCount || have[unit]) return;
        have[unit] = true;
        results[unit] = bytes;
        ++finished;
        try {
            done(unit, bytes);
        } catch (const std::exception& e) {
            if (failure.empty()) failure = describe(unit) + ": " + e.what();
        }
    };

    while (failure.empty()) {
        if (!own.running() && next < unitCount) {
            const int unit = next++;
            try {
                own.start(unit, work);
            } catch (const std::exception& e) {
                failure = describe(unit) + ": " + e.what();
                break;
            }
        }
        std::string bytes;
        if (own.running()) {
            const int unit = own.unit();
            const auto outcome = own.poll(2, bytes);
            if (outcome == UnitProcess::kSucceeded) accept(unit, bytes);
            if (outcome == UnitProcess::kFailed) failure = describe(unit) + ": " + bytes;
        } else {
            sleepBriefly();
        }
        Message m;
        while (failure.empty() && nextMessage(-1, m)) {
            if (m.tag == kRequest) {
                const int unit = next < unitCount ? next++ : -1;
                if (unit < 0 && !idle[m.from]) {
                    idle[m.from] = true;
                    ++idleCount;
                }
                sendToRank(m.from, kAssign, message(runNumber, unit));
            } else if (m.tag == kResult) {
                accept(static_cast<int>(m.unit), m.payload);
            } else if (m.tag == kFailure) {
                failure = describe(static_cast<int>(m.unit)) + ": " + onRank(m.payload, m.from);
            }
        }
        if (finished == unitCount && idleCount == ranks - 1 && !own.running()) break;
    }

    if (!failure.empty()) {
        // Stop every rank still at work and wait until each has answered, taking in (and
        // dropping) whatever it sent before.
        own.stop();
        int waiting = 0;
        for (int r = 1; r < ranks; ++r)
            if (!idle[r]) {
                sendToRank(r, kStop, message(runNumber, -1));
                ++waiting;
            }
        while (waiting > 0) {
            Message m;
            if (!nextMessage(-1, m)) {
                sleepBriefly();
                continue;
            }
            if (m.tag == kStopped) --waiting;
        }
        ByteWriter out;
        out.putInt(0);
        out.putString(failure);
        broadcastFromRankZero(out.take());
        throw BakeError(failure);
    }
    ByteWriter out;
    out.putInt(1);
    for (const std::string& r : results) out.putString(r);
    broadcastFromRankZero(out.take());
}

// [SECTION] Ranks 1..n-1: ask, run, report

void runForQueue(int unitCount, const std::function<std::string(int)>& work,
                 const std::function<void(int, const std::string&)>& done) {
    UnitProcess own;
    bool asked = false, idle = false, failed = false;
    while (!idle) {
        if (!own.running() && !asked && !failed) {
            sendToRank(0, kRequest, message(runNumber, -1));
            asked = true;
        }
        std::string bytes;
        if (own.running()) {
            const int unit = own.unit();
            const auto outcome = own.poll(2, bytes);
            if (outcome == UnitProcess::kSucceeded) {
                sendToRank(0, kResult, message(runNumber, unit, bytes));
            } else if (outcome == UnitProcess::kFailed) {
                sendToRank(0, kFailure, message(runNumber, unit, bytes));
                failed = true;  // rank 0 answers with a stop
            }
        } else {
            sleepBriefly();
        }
        Message m;
        while (!idle && nextMessage(0, m)) {
            if (m.tag == kAssign) {
                asked = false;
                if (m.unit < 0) {
                    idle = true;
                } else {
                    try {
                        own.start(static_cast<int>(m.unit), work);
                    } catch (const std::exception& e) {
                        sendToRank(0, kFailure, message(runNumber, m.unit, e.what()));
                        failed = true;
                    }
                }
            } else if (m.tag == kStop) {
                own.stop();
                sendToRank(0, kStopped, message(runNumber, -1));
                idle = true;
            }
        }
    }
    const std::string outcome = broadcastFromRankZero(std::string());
    ByteReader in(outcome);
    if (in.getInt() == 0) throw BakeError(in.getString());
    std::vector<std::string> results(unitCount);
    for (std::string& r : results) r = in.getString();
    for (int u = 0; u < unitCount; ++u) done(u, results[u]);
}

}  // namespace

void runUnitsOnRanks(int unitCount, const std::function<std::string(int)>& work,
                     const std::function<void(int, const std::string&)>& done,
                     const std::function<std::string(int)>& describe) {
    ++runNumber;
    if (rankIndex() == 0)
        runQueue(unitCount, work, done, describe);
    else
        runForQueue(unitCount, work, done);
}
