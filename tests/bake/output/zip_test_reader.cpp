#include "tests/bake/output/zip_test_reader.h"

#include <fstream>
#include <sstream>

uint32_t bitwiseCrc32(const std::string& bytes) {
    uint32_t crc = 0xFFFFFFFFu;
    for (unsigned char byte : bytes) {
        crc ^= byte;
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

uint32_t readU32(const std::string& bytes, size_t at) {
    uint32_t value = 0;
    for (int i = 3; i >= 0; --i) value = (value << 8) | static_cast<unsigned char>(bytes[at + i]);
    return value;
}

uint16_t readU16(const std::string& bytes, size_t at) {
    return static_cast<uint16_t>(static_cast<unsigned char>(bytes[at]) |
                                 static_cast<unsigned char>(bytes[at + 1]) << 8);
}

std::string readFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

std::vector<ZipTestMember> readStoredZip(const std::string& zip, std::string* problem) {
    std::vector<ZipTestMember> members;
    auto fail = [&](const std::string& what) {
        *problem = what;
        return std::vector<ZipTestMember>();
    };
    // No archive comment is written, so the end record is the last 22 bytes.
    if (zip.size() < 22) return fail("shorter than an end record");
    const size_t end = zip.size() - 22;
    if (readU32(zip, end) != 0x06054b50) return fail("no end of central directory record");
    const uint16_t count = readU16(zip, end + 10);
    if (readU16(zip, end + 8) != count) return fail("entry counts of the end record disagree");
    const uint32_t directorySize = readU32(zip, end + 12);
    const uint32_t directoryOffset = readU32(zip, end + 16);
    if (static_cast<size_t>(directoryOffset) + directorySize != end)
        return fail("the central directory does not end where the end record starts");
    size_t at = directoryOffset;
    for (int i = 0; i < count; ++i) {
        if (at + 46 > end || readU32(zip, at) != 0x02014b50)
            return fail("central header " + std::to_string(i) + " has no signature");
        ZipTestMember m;
        if (readU16(zip, at + 10) != 0) return fail("central header: not stored");
        m.crc = readU32(zip, at + 16);
        const uint32_t compressed = readU32(zip, at + 20);
        m.size = readU32(zip, at + 24);
        const uint16_t nameLength = readU16(zip, at + 28);
        const uint16_t extra = readU16(zip, at + 30), comment = readU16(zip, at + 32);
        m.localOffset = readU32(zip, at + 42);
        m.name = zip.substr(at + 46, nameLength);
        if (compressed != m.size) return fail(m.name + ": compressed and plain sizes differ");
        at += 46 + nameLength + extra + comment;

        const size_t local = m.localOffset;
        if (local + 30 > directoryOffset || readU32(zip, local) != 0x04034b50)
            return fail(m.name + ": no local header at its offset");
        if (readU16(zip, local + 6) != 0) return fail(m.name + ": flags set (data descriptor?)");
        if (readU16(zip, local + 8) != 0) return fail(m.name + ": local header not stored");
        if (readU32(zip, local + 14) != m.crc || readU32(zip, local + 18) != m.size ||
            readU32(zip, local + 22) != m.size)
            return fail(m.name + ": local and central headers disagree on CRC or sizes");
        const uint16_t localName = readU16(zip, local + 26), localExtra = readU16(zip, local + 28);
        if (zip.compare(local + 30, localName, m.name) != 0)
            return fail(m.name + ": local header names another member");
        const size_t data = local + 30 + localName + localExtra;
        if (data + m.size > directoryOffset) return fail(m.name + ": data runs past its end");
        m.data = zip.substr(data, m.size);
        if (bitwiseCrc32(m.data) != m.crc) return fail(m.name + ": CRC-32 does not match");
        members.push_back(m);
    }
    if (at != end) return fail("bytes left between the central directory and the end record");
    return members;
}
