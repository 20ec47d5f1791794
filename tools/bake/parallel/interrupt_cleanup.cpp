// The signal handler that cleans up after an interrupted bake (see interrupt_cleanup.h).
#include "tools/bake/parallel/interrupt_cleanup.h"

#include <dirent.h>
#include <fcntl.h>
#include <signal.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <cstring>

namespace {

constexpr int kMaxChildren = 1024;
constexpr size_t kMaxPath = 4096;

std::atomic<pid_t> owner{0};  // the process that registered the folder and the children
std::atomic<pid_t> children[kMaxChildren];
char folder[kMaxPath];
std::atomic<bool> haveFolder{false};
bool installed = false;

// The layout getdents64 fills in.
struct LinuxDirent64 {
    ino64_t inode;
    off64_t offset;
    unsigned short length;
    unsigned char type;
    char name[];
};

// Removes everything inside the directory open as `dir`, `depth` levels at most; async-signal-safe.
void removeContents(int dir, int depth) {
    alignas(8) char buffer[4096];
    for (;;) {
        const long got = syscall(SYS_getdents64, dir, buffer, sizeof buffer);
        if (got <= 0) return;
        bool removedAny = false;
        for (long offset = 0; offset < got;) {
            const auto* entry = reinterpret_cast<const LinuxDirent64*>(buffer + offset);
            offset += entry->length;
            if (!std::strcmp(entry->name, ".") || !std::strcmp(entry->name, "..")) continue;
            if (entry->type == DT_DIR) {
                if (depth <= 0) continue;
                const int sub = openat(dir, entry->name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
                if (sub >= 0) {
                    removeContents(sub, depth - 1);
                    close(sub);
                }
                if (unlinkat(dir, entry->name, AT_REMOVEDIR) == 0) removedAny = true;
            } else if (unlinkat(dir, entry->name, 0) == 0) {
                removedAny = true;
            }
        }
        // Entries were removed under the directory stream: read it again from the start.
        if (removedAny) lseek(dir, 0, SEEK_SET);
    }
}

void onSignal(int signal) {
    if (getpid() == owner.load()) {
        for (auto& child : children) {
            const pid_t pid = child.load();
            if (pid > 0) kill(pid, SIGKILL);
        }
        if (haveFolder.load()) {
            const int dir = open(folder, O_RDONLY | O_DIRECTORY | O_NOFOLLOW);
            if (dir >= 0) {
                removeContents(dir, 4);
                close(dir);
            }
            rmdir(folder);
        }
    }
    // End the process as the signal would have.
    ::signal(signal, SIG_DFL);
    raise(signal);
}

}  // namespace

void installInterruptCleanup() {
    if (installed) return;
    installed = true;
    owner = getpid();
    struct sigaction action;
    std::memset(&action, 0, sizeof action);
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&action.sa_mask, s);
    for (int s : {SIGINT, SIGTERM, SIGHUP}) sigaction(s, &action, nullptr);
}

void setInterruptedFolder(const std::string& path) {
    haveFolder = false;
    if (path.empty() || path.size() >= kMaxPath) return;
    std::memcpy(folder, path.c_str(), path.size() + 1);
    owner = getpid();
    haveFolder = true;
}

void addInterruptedChild(pid_t pid) {
    for (auto& child : children) {
        pid_t empty = 0;
        if (child.compare_exchange_strong(empty, pid)) return;
    }
}

void removeInterruptedChild(pid_t pid) {
    for (auto& child : children) {
        pid_t expected = pid;
        if (child.compare_exchange_strong(expected, 0)) return;
    }
}
