// The in-house helper libraries: path and MD5.
#include <filesystem>

#include <gtest/gtest.h>

#include "ZephFilesystem/ioPath.h"
#include "ZephHash/MD5Generate.h"
#include "support/TempDir.h"

using Korvel::ioPath;
using Korvel::Core::MD5Generate;

TEST(MD5Generate, KnownDigestsOfBytesThenText)
{
    EXPECT_EQ(MD5Generate({}, ""), "d41d8cd98f00b204e9800998ecf8427e");
    EXPECT_EQ(MD5Generate({}, "abc"), "900150983cd24fb0d6963f7d28e17f72");
    // The text follows the bytes: "a" + "bc" hashes like "abc".
    EXPECT_EQ(MD5Generate({'a'}, "bc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(MD5Generate({0x00, 0xff}, "").size(), 32u);
}

TEST(IoPath, KeepsRelativePathsAndCreatesNestedDirectories)
{
    EXPECT_EQ(ioPath().utf8string(), "");
    EXPECT_EQ(ioPath("out/x.bin").utf8string(), "out/x.bin");
    EXPECT_EQ(ioPath(std::string("a/b/c")).parent_path().utf8string(), "a/b");

    ZephTest::TempDir dir;
    ioPath nested(dir.File("one/two/three"));
    EXPECT_TRUE(ioPath::create_directories(nested));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("one/two/three")));
    EXPECT_FALSE(ioPath::create_directories(nested));  // already there: nothing to do
    EXPECT_FALSE(ioPath::create_directories(ioPath()));
}
