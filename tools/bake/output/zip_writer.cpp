// The stored zip writer (see zip_writer.h). Layout (APPNOTE 6.3, all fields little-endian):
//   per member: local file header (signature 0x04034b50, 30 bytes + name), then its bytes;
//   central directory: one header per member (0x02014b50, 46 bytes + name);
//   end of central directory record (0x06054b50, 22 bytes).
// Method 0 (stored): compressed size = uncompressed size; the CRC-32 is zlib's (the polynomial
// 0xEDB88320 of the zip format).
#include "tools/bake/output/zip_writer.h"

#include <sys/types.h>
#include <zlib.h>

#include <algorithm>

#include "tools/bake/common/bake_error.h"

namespace {

constexpr uint64_t kLimit = 0xFFFFFFFFull;  // 4 GiB - 1: the largest size or offset a field holds
constexpr uint16_t kVersionNeeded = 10;     // 1.0: stored members
constexpr uint16_t kDosDate = (0 << 9) | (1 << 5) | 1;  // 1980-01-01
constexpr uint16_t kDosTime = 0;

void append16(std::string& out, uint16_t value) {
    out.push_back(static_cast<char>(value & 0xFF));
    out.push_back(static_cast<char>(value >> 8));
}

void append32(std::string& out, uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) out.push_back(static_cast<char>(value >> shift));
}

}  // namespace

ZipWriter::ZipWriter(const std::string& path) : path_(path), file_(std::fopen(path.c_str(), "wb")) {
    if (!file_) throw BakeError(path + ": cannot be created");
}

void ZipWriter::fail(const std::string& what) const { throw BakeError(path_ + ": " + what); }

void ZipWriter::put(const void* bytes, size_t size) {
    if (size == 0) return;
    if (std::fwrite(bytes, 1, size, file_.get()) != size) fail("cannot be written (disk full?)");
    offset_ += size;
}

void ZipWriter::beginMember(const std::string& name) {
    if (memberOpen_) fail("member " + name + " begun inside member " + members_.back().name);
    if (name.empty() || name.size() > 0xFFFF || members_.size() >= 0xFFFF)
        fail("member name \"" + name + "\" cannot be stored");
    if (offset_ > kLimit) fail("the archive would exceed 4 GiB");
    Member member;
    member.name = name;
    member.headerOffset = offset_;
    member.crc = static_cast<uint32_t>(crc32(0L, Z_NULL, 0));
    std::string header;
    append32(header, 0x04034b50);
    append16(header, kVersionNeeded);
    append16(header, 0);  // flags
    append16(header, 0);  // method: stored
    append16(header, kDosTime);
    append16(header, kDosDate);
    append32(header, 0);  // CRC-32, patched by endMember
    append32(header, 0);  // compressed size, patched
    append32(header, 0);  // uncompressed size, patched
    append16(header, static_cast<uint16_t>(name.size()));
    append16(header, 0);  // extra field length
    header += name;
    put(header.data(), header.size());
    members_.push_back(member);
    memberOpen_ = true;
}

void ZipWriter::write(const void* bytes, size_t size) {
    if (!memberOpen_) fail("bytes written outside a member");
    Member& member = members_.back();
    if (member.size + size > kLimit || offset_ + size > kLimit)
        fail("member " + member.name + " would make the archive exceed 4 GiB");
    // zlib's crc32 takes a uInt length: feed it in pieces.
    const auto* data = static_cast<const Bytef*>(bytes);
    for (size_t done = 0; done < size;) {
        const size_t piece = std::min<size_t>(size - done, 1u << 30);
        member.crc =
            static_cast<uint32_t>(crc32(member.crc, data + done, static_cast<uInt>(piece)));
        done += piece;
    }
    put(bytes, size);
    member.size += size;
}

void ZipWriter::endMember() {
    if (!memberOpen_) fail("no member to end");
    const Member& member = members_.back();
    std::string patch;
    append32(patch, member.crc);
    append32(patch, static_cast<uint32_t>(member.size));
    append32(patch, static_cast<uint32_t>(member.size));
    FILE* f = file_.get();
    if (fseeko(f, static_cast<off_t>(member.headerOffset + 14), SEEK_SET) != 0 ||
        std::fwrite(patch.data(), 1, patch.size(), f) != patch.size() ||
        fseeko(f, static_cast<off_t>(offset_), SEEK_SET) != 0)
        fail("cannot be written (seek or write failed)");
    memberOpen_ = false;
}

void ZipWriter::finish() {
    if (memberOpen_) fail("finished with member " + members_.back().name + " still open");
    const uint64_t directoryOffset = offset_;
    std::string directory;
    for (const Member& m : members_) {
        append32(directory, 0x02014b50);
        append16(directory, (3 << 8) | 20);  // made by: Unix, zip format version 2.0
        append16(directory, kVersionNeeded);
        append16(directory, 0);  // flags
        append16(directory, 0);  // stored
        append16(directory, kDosTime);
        append16(directory, kDosDate);
        append32(directory, m.crc);
        append32(directory, static_cast<uint32_t>(m.size));
        append32(directory, static_cast<uint32_t>(m.size));
        append16(directory, static_cast<uint16_t>(m.name.size()));
        append16(directory, 0);               // extra field length
        append16(directory, 0);               // comment length
        append16(directory, 0);               // disk number
        append16(directory, 0);               // internal attributes
        append32(directory, 0100644u << 16);  // external attributes: a regular file, rw-r--r--
        append32(directory, static_cast<uint32_t>(m.headerOffset));
        directory += m.name;
    }
    if (directoryOffset + directory.size() > kLimit) fail("the archive would exceed 4 GiB");
    std::string end;
    append32(end, 0x06054b50);
    append16(end, 0);  // this disk
    append16(end, 0);  // disk of the central directory
    append16(end, static_cast<uint16_t>(members_.size()));
    append16(end, static_cast<uint16_t>(members_.size()));
    append32(end, static_cast<uint32_t>(directory.size()));
    append32(end, static_cast<uint32_t>(directoryOffset));
    append16(end, 0);  // comment length
    put(directory.data(), directory.size());
    put(end.data(), end.size());
    if (std::fclose(file_.release()) != 0) fail("cannot be written (close failed)");
}
