// Scratch folders and files for tests that read real files: each TempDir is a fresh folder under
// the system's temporary directory, removed with everything in it when the object goes away.
#pragma once

#include <string>
#include <vector>

class TempDir {
  public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& path() const { return path_; }
    // path() + "/" + name.
    std::string file(const std::string& name) const;
    // Writes `bytes` to path()/name (creating sub-folders named in `name`) and returns the path.
    std::string write(const std::string& name, const std::string& bytes) const;

  private:
    std::string path_;
};

// The bytes of a dense matrix file: int32 rows, int32 columns, then `elements` as doubles
// (column-major, as given). `elements` may hold fewer or more values than rows * columns, to make
// broken files.
std::string denseMatrixBytes(int rows, int columns, const std::vector<double>& elements);

// Runs `body` with the working directory set to `dir`, restoring the previous one afterwards.
template <typename Body>
void inDirectory(const std::string& dir, Body body);

// Changes the working directory for the lifetime of the object.
class ScopedWorkingDirectory {
  public:
    explicit ScopedWorkingDirectory(const std::string& dir);
    ~ScopedWorkingDirectory();

  private:
    std::string previous_;
};

template <typename Body>
void inDirectory(const std::string& dir, Body body) {
    ScopedWorkingDirectory scope(dir);
    body();
}
