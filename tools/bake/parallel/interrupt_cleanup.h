// What a bake leaves behind when it is stopped by a signal: nothing. Ctrl-C (SIGINT; under mpirun,
// the SIGTERM that mpirun sends every rank when it is interrupted or a rank dies) and SIGHUP end
// the baker at once, and a signal handler then kills the worker processes it started and removes
// the temporary folder it was baking into, before the signal ends the process as it would have.
// The previous scene folder is untouched (the bake only replaces it by a rename at the end).
//
// The handler uses only async-signal-safe calls (kill, open, getdents64, unlinkat, rmdir), on
// paths and process ids registered beforehand in fixed-size tables. It acts only in the process
// that registered them: a forked worker inherits the handler, and dies of the signal as before.
#pragma once

#include <sys/types.h>

#include <string>

// Installs the handler for SIGINT, SIGTERM and SIGHUP (once; later calls do nothing).
void installInterruptCleanup();

// The temporary folder to remove when a signal ends the baker (one at a time; "" forgets it).
// Its tree may be at most four levels deep. Not real-time; call from the main thread.
void setInterruptedFolder(const std::string& path);

// Worker processes to kill (SIGKILL) when a signal ends the baker: added when forked, removed
// when reaped. At most 1024 at a time (more are not tracked).
void addInterruptedChild(pid_t pid);
void removeInterruptedChild(pid_t pid);
