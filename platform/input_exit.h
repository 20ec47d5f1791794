// How a reader of outside data (the dense matrix files, the transfer object list, the ZEP
// sampling-rate file, a scene folder's presets) reports bad input and ends: in the programs it
// prints its one message and ends the process with exit(code). Two other callers need the same
// readers to come back instead:
//   - the readers' fuzz targets, built with TONWELL_READERS_THROW, where the call throws
//     InputExit, so one process can try millions of inputs and the sanitizers see every block the
//     reader still held released on the way out;
//   - the engine library (libtonwell), which must never end its host's process: while a
//     BadInputCapture lives on the calling thread, the reader's message is kept instead of printed
//     and exitOnBadInput throws BadInput with it, which the library turns into an error code.
// A program never opens a capture, so its messages and exit codes stay what they are.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <string>

#ifdef TONWELL_READERS_THROW
// Fuzzing builds only: what the program would have passed to exit().
struct InputExit {
    int code;
};
#endif

// What exitOnBadInput throws inside a BadInputCapture: the exit code the program would have
// ended with and the reader's last message (without its trailing newline).
struct BadInput {
    int code;
    std::string message;
};

// While one lives on a thread, the readers called on that thread keep their messages
// (printInputMessage) and throw BadInput from exitOnBadInput. Scopes nest; the innermost one
// holds the messages.
class BadInputCapture {
  public:
    BadInputCapture() : outer_(active()) { active() = this; }
    ~BadInputCapture() { active() = outer_; }
    BadInputCapture(const BadInputCapture&) = delete;
    BadInputCapture& operator=(const BadInputCapture&) = delete;

    // The capture of the calling thread, or null.
    static BadInputCapture*& active() {
        static thread_local BadInputCapture* capture = nullptr;
        return capture;
    }
    // The last message a reader printed inside this scope, without its trailing newline.
    std::string lastMessage;

  private:
    BadInputCapture* outer_;
};

// printf to `stream` for a reader's message, or, inside a BadInputCapture, kept as the capture's
// lastMessage instead (nothing printed).
inline void printInputMessage(FILE* stream, const char* format, ...)
    __attribute__((format(printf, 2, 3)));
inline void printInputMessage(FILE* stream, const char* format, ...) {
    va_list args;
    va_start(args, format);
    if (BadInputCapture* capture = BadInputCapture::active()) {
        char text[8192];
        vsnprintf(text, sizeof text, format, args);
        capture->lastMessage = text;
        while (!capture->lastMessage.empty() && capture->lastMessage.back() == '\n') {
            capture->lastMessage.pop_back();
        }
    } else {
        vfprintf(stream, format, args);
    }
    va_end(args);
}

// Flushes the console and ends the process with `code` (a fuzzing build throws InputExit{code};
// inside a BadInputCapture it throws BadInput{code, the last message}). Call after printing the
// message that names the file and the problem. Loading only, never the audio thread.
[[noreturn]] inline void exitOnBadInput(int code) {
    if (BadInputCapture* capture = BadInputCapture::active()) {
        throw BadInput{code, capture->lastMessage};
    }
    fflush(stdout);
    fflush(stderr);
#ifdef TONWELL_READERS_THROW
    throw InputExit{code};
#else
    exit(code);
#endif
}
