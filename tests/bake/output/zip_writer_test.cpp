// The stored zip container read back byte by byte by an independent reader: signatures, CRC-32s
// against a bitwise CRC, sizes and offsets in both the local and the central headers, members
// laid end to end; and the writer's refusals, each naming the archive.
#include "tools/bake/output/zip_writer.h"

#include <gtest/gtest.h>

#include <string>

#include "tests/bake/output/zip_test_reader.h"
#include "tests/support/temp_dir.h"
#include "tools/bake/common/bake_error.h"

TEST(ZipWriter, TestReadersCrcIsTheStandardOne) {
    // The CRC-32 check value of the zip polynomial (reflected 0x04C11DB7).
    EXPECT_EQ(bitwiseCrc32("123456789"), 0xCBF43926u);
    EXPECT_EQ(bitwiseCrc32(""), 0u);
}

TEST(ZipWriter, MembersCarryTheirCrcAndSizesInBothHeadersLaidEndToEnd) {
    TempDir dir;
    const std::string path = dir.file("a.zip");
    std::string big;
    for (uint32_t i = 0; i < 300000; ++i) big.push_back(static_cast<char>((i * 7919u) >> 3));
    {
        ZipWriter zip(path);
        zip.beginMember("empty.npy");
        zip.endMember();
        zip.beginMember("text.txt");
        zip.write("hello, ", 7);
        zip.write("zip", 3);  // streamed in two writes: one CRC over both
        zip.endMember();
        zip.beginMember("dir/big.bin");
        zip.write(big.data(), 100000);
        zip.write(big.data() + 100000, big.size() - 100000);
        zip.endMember();
        zip.finish();
    }
    const std::string archive = readFileBytes(path);
    std::string problem;
    const std::vector<ZipTestMember> members = readStoredZip(archive, &problem);
    ASSERT_EQ(problem, "");
    ASSERT_EQ(members.size(), 3u);
    EXPECT_EQ(members[0].name, "empty.npy");
    EXPECT_EQ(members[0].size, 0u);
    EXPECT_EQ(members[0].crc, 0u);
    EXPECT_EQ(members[1].name, "text.txt");
    EXPECT_EQ(members[1].data, "hello, zip");
    EXPECT_EQ(members[1].crc, bitwiseCrc32("hello, zip"));
    EXPECT_EQ(members[2].name, "dir/big.bin");
    EXPECT_EQ(members[2].data, big);
    // The archive starts with the first local header and each member follows the last one's data.
    EXPECT_EQ(members[0].localOffset, 0u);
    for (size_t i = 1; i < members.size(); ++i) {
        const ZipTestMember& before = members[i - 1];
        EXPECT_EQ(members[i].localOffset,
                  before.localOffset + 30 + before.name.size() + before.size)
            << members[i].name;
    }
    // Same data, same bytes: the time stamps are fixed.
    {
        ZipWriter zip(dir.file("b.zip"));
        zip.beginMember("empty.npy");
        zip.endMember();
        zip.beginMember("text.txt");
        zip.write("hello, zip", 10);
        zip.endMember();
        zip.beginMember("dir/big.bin");
        zip.write(big.data(), big.size());
        zip.endMember();
        zip.finish();
    }
    EXPECT_EQ(readFileBytes(dir.file("b.zip")), archive);
}

TEST(ZipWriter, MisuseAndUnwritablePathsThrowNamingTheArchive) {
    TempDir dir;
    try {
        ZipWriter zip(dir.file("missing-folder/a.zip"));
        FAIL() << "an archive in a missing folder was opened";
    } catch (const BakeError& e) {
        EXPECT_NE(std::string(e.what()).find("missing-folder/a.zip"), std::string::npos)
            << e.what();
    }
    ZipWriter zip(dir.file("a.zip"));
    EXPECT_THROW(zip.write("x", 1), BakeError);  // outside a member
    zip.beginMember("one");
    try {
        zip.beginMember("two");
        FAIL() << "a member was begun inside another";
    } catch (const BakeError& e) {
        EXPECT_NE(std::string(e.what()).find(dir.file("a.zip")), std::string::npos) << e.what();
    }
    EXPECT_THROW(zip.finish(), BakeError);  // "one" still open
}
