// Temporary-file and pipe names: where they are, their UUID form, and that nothing is created.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include <gtest/gtest.h>

#include "IO/ZephIO.h"
#include "support/TempDir.h"

using namespace Korvel::Core;

namespace {

// Sets TMPDIR while it lives.
struct ScopedTmpdir {
    const char* old = std::getenv("TMPDIR");
    const std::string saved = old ? old : "";
    explicit ScopedTmpdir(const std::string& value) { setenv("TMPDIR", value.c_str(), 1); }
    ~ScopedTmpdir() { old ? setenv("TMPDIR", saved.c_str(), 1) : unsetenv("TMPDIR"); }
};

// `dir`, then a version-4 UUID of the standard variant, then a 6-character suffix.
bool IsNameIn(const std::string& name, const std::string& dir)
{
    static const std::regex form("[0-9a-f]{8}-[0-9a-f]{4}-4[0-9a-f]{3}-[89ab][0-9a-f]{3}-[0-9a-f]{12}[A-Za-z0-9]{6}");
    return name.compare(0, dir.size(), dir) == 0 && std::regex_match(name.substr(dir.size()), form);
}

}  // namespace

TEST(IpcNames, AreUniqueUuidNamesInTmpdirOrTheSystemDefaultCreateNothingOrThrowWhenTooLong)
{
    ZephTest::TempDir dir;
    {
        ScopedTmpdir tmpdir(dir.Path() + "/");  // the trailing slash is not doubled
        const std::string first = GenerateTempFileName(), second = GenerateTempFileName(), pipe = GeneratePipeName();
        for (const auto& name : {first, second, pipe})
            EXPECT_TRUE(IsNameIn(name, dir.Path() + "/")) << name;
        EXPECT_NE(second, pipe);
        // The UUIDs differ, not only the suffixes.
        EXPECT_NE(first.substr(0, first.size() - 6), second.substr(0, second.size() - 6));
        EXPECT_EQ(rmdir(dir.Path().c_str()), 0) << "the directory should still be empty";
        ASSERT_EQ(mkdir(dir.Path().c_str(), 0700), 0);
    }
    const std::string file = dir.File("plain");
    std::fclose(std::fopen(file.c_str(), "w"));
    for (const std::string& value : {file, dir.File("missing"), std::string()}) {
        ScopedTmpdir tmpdir(value);
        EXPECT_TRUE(IsNameIn(GenerateTempFileName(), std::string(P_tmpdir) + "/")) << "TMPDIR=" << value;
    }

    // A directory whose name fits the system's path limit but a file in it does not: the throw's
    // details are checked with every other throw's in core_test.
    std::string deep = dir.Path();
    while (deep.size() < 4060) {
        deep += "/" + std::string(std::min<size_t>(200, 4060 - deep.size() - 1), 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0) << deep.size();
    }
    ScopedTmpdir tmpdir(deep);
    EXPECT_THROW(GeneratePipeName(), CoreException);
}
