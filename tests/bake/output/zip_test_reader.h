// An independent reader of stored zip archives for the export tests: it walks the archive from
// the end of central directory record, checks every central header against its local header and
// returns the members' bytes. Its own bitwise CRC-32 (polynomial 0xEDB88320, no table) stands
// apart from the zlib one the writer uses.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct ZipTestMember {
    std::string name;
    uint32_t crc = 0;          // as the central directory states it
    uint32_t size = 0;         // uncompressed size from the central directory
    uint32_t localOffset = 0;  // of its local header
    std::string data;          // the member's bytes, after its local header
};

// The CRC-32 of `bytes`, bit by bit.
uint32_t bitwiseCrc32(const std::string& bytes);

// Little-endian fields of `bytes` at `at`.
uint32_t readU32(const std::string& bytes, size_t at);
uint16_t readU16(const std::string& bytes, size_t at);

// The whole file.
std::string readFileBytes(const std::string& path);

// Parses `archive`; on a structural problem (a missing signature, headers that disagree, a
// compressed member, sizes past the end, a CRC that does not match the data) returns "" members
// and sets *problem. Members are in central directory order.
std::vector<ZipTestMember> readStoredZip(const std::string& archive, std::string* problem);
