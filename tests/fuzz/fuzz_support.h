// What every fuzz target of Tonwell's readers shares: a scratch folder of its own for the files an
// input becomes (the readers read files, not memory), writing them, splitting an input into the
// several files one reading takes, and the check that aborts with a message when a reader broke
// one of its promises (libFuzzer then keeps the input as a finding).
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

namespace fuzz {

// The process's scratch folder, made on first use and removed when the process exits. It lives
// in a static buffer, not a std::string, because the at-exit handler runs after the statics'
// destructors.
inline const char* scratchDirectory() {
    static char directory[4096] = "";
    if (directory[0] == '\0') {
        const std::string pattern =
            (std::filesystem::temp_directory_path() / "tonwell-fuzz-XXXXXX").string();
        if (pattern.size() >= sizeof directory) abort();
        memcpy(directory, pattern.c_str(), pattern.size() + 1);
        if (mkdtemp(directory) == nullptr) abort();
        atexit([] {
            std::error_code ignored;
            std::filesystem::remove_all(directory, ignored);
        });
    }
    return directory;
}

inline void writeFile(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = fopen(path.c_str(), "wb");
    if (file == nullptr) abort();
    if (size > 0 && fwrite(data, 1, size, file) != size) abort();
    fclose(file);
}

inline void writeFile(const std::string& path, const std::string& bytes) {
    writeFile(path, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

// The separator of the files one input holds: binary files (the dense matrices) are full of zero
// bytes, so a word that no double or count is likely to spell.
constexpr char kFileSeparator[] = "#FILE#";

// The input cut at every kFileSeparator: part 0 is everything before the first one, and so on (an
// input without a separator is one part).
inline std::vector<std::string> splitFiles(const uint8_t* data, size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const size_t separatorLength = sizeof kFileSeparator - 1;
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t at = input.find(kFileSeparator, start);
        parts.push_back(
            input.substr(start, at == std::string::npos ? std::string::npos : at - start));
        if (at == std::string::npos) return parts;
        start = at + separatorLength;
    }
}

// Makes the scratch folder the working directory for the lifetime of the object (readers that
// open names relative to it: the rate file, the transfer list's prefixes), and goes back after,
// so that libFuzzer's own relative paths (the corpus, the crash files) keep their meaning.
class InScratchDirectory {
  public:
    InScratchDirectory() : previous_(std::filesystem::current_path()) {
        std::filesystem::current_path(scratchDirectory());
    }
    ~InScratchDirectory() { std::filesystem::current_path(previous_); }
    InScratchDirectory(const InScratchDirectory&) = delete;
    InScratchDirectory& operator=(const InScratchDirectory&) = delete;

  private:
    std::filesystem::path previous_;
};

// Aborts with `what` unless `condition` holds: a reader accepted what it promised to refuse, or
// handed on a value outside its contract.
inline void require(bool condition, const char* what) {
    if (!condition) {
        fprintf(stderr, "reader promise broken: %s\n", what);
        abort();
    }
}

}  // namespace fuzz
