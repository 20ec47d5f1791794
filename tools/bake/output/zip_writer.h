// A zip archive of stored (uncompressed) members, written front to back: the container of the
// npz export (npz_writer.h), which numpy.load, Python's zipfile and `unzip` read. Members are
// streamed: each one's local header is written first and its CRC-32 and sizes are patched in
// when the member ends, so a member never has to be held in memory whole. No data descriptors,
// no 64-bit extension: every member, and the archive, must stay below 4 GiB. Every time stamp is
// 1980-01-01 00:00, so that the same data makes the same bytes.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "tools/bake/common/c_file.h"

class ZipWriter {
  public:
    // Creates (or truncates) `path`. Throws BakeError naming it when it cannot be opened.
    explicit ZipWriter(const std::string& path);

    // Starts member `name` (a relative path with '/' separators). Throws BakeError when a member
    // is already open or on a write error.
    void beginMember(const std::string& name);
    // Appends `size` bytes to the open member. Throws BakeError on a write error, or when the
    // member or the archive would reach 4 GiB.
    void write(const void* bytes, size_t size);
    // Ends the open member: its CRC-32 and sizes go into its local header. Throws BakeError.
    void endMember();
    // Writes the central directory and the end record and closes the file. Throws BakeError.
    // Without it the file is not a valid archive.
    void finish();

    const std::string& path() const { return path_; }

  private:
    struct Member {
        std::string name;
        uint32_t crc = 0;
        uint64_t size = 0;
        uint64_t headerOffset = 0;
    };
    void put(const void* bytes, size_t size);  // raw bytes at the end of the file
    void fail(const std::string& what) const;

    std::string path_;
    CFile file_;
    uint64_t offset_ = 0;  // bytes written so far
    std::vector<Member> members_;
    bool memberOpen_ = false;
};
