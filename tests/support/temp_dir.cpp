#include "tests/support/temp_dir.h"

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace fs = std::filesystem;

TempDir::TempDir() {
    std::string pattern = (fs::temp_directory_path() / "tonwell-test-XXXXXX").string();
    std::vector<char> buffer(pattern.begin(), pattern.end());
    buffer.push_back('\0');
    if (mkdtemp(buffer.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buffer.data();
}

TempDir::~TempDir() {
    std::error_code ignored;
    fs::remove_all(path_, ignored);
}

std::string TempDir::file(const std::string& name) const { return path_ + "/" + name; }

std::string TempDir::write(const std::string& name, const std::string& bytes) const {
    const std::string target = file(name);
    fs::create_directories(fs::path(target).parent_path());
    std::ofstream out(target, std::ios::binary);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + target);
    return target;
}

std::string denseMatrixBytes(int rows, int columns, const std::vector<double>& elements) {
    std::string bytes(8 + 8 * elements.size(), '\0');
    const int32_t header[2] = {rows, columns};
    memcpy(&bytes[0], header, 8);
    if (!elements.empty()) memcpy(&bytes[8], elements.data(), 8 * elements.size());
    return bytes;
}

ScopedWorkingDirectory::ScopedWorkingDirectory(const std::string& dir) {
    previous_ = fs::current_path().string();
    fs::current_path(dir);
}

ScopedWorkingDirectory::~ScopedWorkingDirectory() {
    std::error_code ignored;
    fs::current_path(previous_, ignored);
}
