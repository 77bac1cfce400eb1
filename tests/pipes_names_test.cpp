// Temporary-file and pipe names: where they are, their UUID form, and that nothing is
// created.
#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <boost/exception/get_error_info.hpp>
#include <gtest/gtest.h>

#include "IO/Exception.h"
#include "IO/KorvelIO/IPCTools.h"
#include "support/TempDir.h"

using namespace Korvel::Core;

namespace {

// Sets TMPDIR for the scope of a test and restores it afterwards.
class ScopedTmpdir {
public:
    explicit ScopedTmpdir(const std::string& value)
    {
        const char* old = std::getenv("TMPDIR");
        m_had = old != nullptr;
        if (m_had)
            m_old = old;
        setenv("TMPDIR", value.c_str(), 1);
    }
    ~ScopedTmpdir()
    {
        if (m_had)
            setenv("TMPDIR", m_old.c_str(), 1);
        else
            unsetenv("TMPDIR");
    }

private:
    bool m_had;
    std::string m_old;
};

// `dir`, then a version-4 UUID of the standard variant, then a 6-character suffix.
bool IsNameIn(const std::string& name, const std::string& dir)
{
    const std::string uuidForm = "xxxxxxxx-xxxx-4xxx-Vxxx-xxxxxxxxxxxx";
    if (name.size() != dir.size() + uuidForm.size() + 6 || name.compare(0, dir.size(), dir) != 0)
        return false;
    for (size_t i = 0; i < uuidForm.size(); ++i) {
        const char c = name[dir.size() + i];
        const char f = uuidForm[i];
        const bool ok =
            f == 'x'   ? std::isxdigit(static_cast<unsigned char>(c)) && !std::isupper(static_cast<unsigned char>(c))
            : f == 'V' ? std::string("89ab").find(c) != std::string::npos
                       : c == f;
        if (!ok)
            return false;
    }
    for (size_t i = dir.size() + uuidForm.size(); i < name.size(); ++i)
        if (!std::isalnum(static_cast<unsigned char>(name[i])))
            return false;
    return true;
}

bool Exists(const std::string& path)
{
    struct stat info;
    return lstat(path.c_str(), &info) == 0;
}

}  // namespace

TEST(IpcNames, AreUniqueUuidNamesInTmpdirAndCreateNothing)
{
    ZephTest::TempDir dir;
    ScopedTmpdir tmpdir(dir.Path());
    const std::string first = GenerateTempFileName();
    const std::string second = GenerateTempFileName();
    const std::string pipe = GeneratePipeName();
    for (const auto& name : {first, second, pipe}) {
        EXPECT_TRUE(IsNameIn(name, dir.Path() + "/")) << name;
        EXPECT_FALSE(Exists(name));
    }
    EXPECT_NE(first, second);
    EXPECT_NE(second, pipe);
    // The UUIDs differ, not only the suffixes.
    EXPECT_NE(first.substr(0, first.size() - 6), second.substr(0, second.size() - 6));
    EXPECT_EQ(rmdir(dir.Path().c_str()), 0) << "the directory should still be empty";
    EXPECT_EQ(mkdir(dir.Path().c_str(), 0700), 0);
}

TEST(IpcNames, TrailingSlashOfTmpdirIsNotDoubled)
{
    ZephTest::TempDir dir;
    ScopedTmpdir tmpdir(dir.Path() + "/");
    EXPECT_TRUE(IsNameIn(GenerateTempFileName(), dir.Path() + "/"));
}

TEST(IpcNames, TmpdirThatIsNoDirectoryFallsBackToTheSystemDefault)
{
    ZephTest::TempDir dir;
    const std::string file = dir.File("plain");
    std::fclose(std::fopen(file.c_str(), "w"));
    const std::string fallback = std::string(P_tmpdir) + "/";
    for (const std::string& value : {file, dir.File("missing"), std::string()}) {
        ScopedTmpdir tmpdir(value);
        EXPECT_TRUE(IsNameIn(GenerateTempFileName(), fallback)) << "TMPDIR=" << value;
    }
}

TEST(IpcNames, NameThatCannotBeFormedThrowsCoreExceptionWithStack)
{
    // A directory so deep that its name fits the system's path limit but a file in it
    // does not.
    ZephTest::TempDir dir;
    std::string deep = dir.Path();
    while (deep.size() < 4060) {
        const size_t length = std::min<size_t>(200, 4060 - deep.size() - 1);
        deep += "/" + std::string(length, 'd');
        ASSERT_EQ(mkdir(deep.c_str(), 0700), 0) << deep.size();
    }
    ScopedTmpdir tmpdir(deep);
    try {
        GenerateTempFileName();
        FAIL() << "no exception";
    } catch (const IOException&) {
        FAIL() << "an IOException, not a plain CoreException";
    } catch (const CoreException& e) {
        ASSERT_NE(boost::get_error_info<Korvel::DescriptionInfo>(e), nullptr);
        EXPECT_EQ(*boost::get_error_info<Korvel::DescriptionInfo>(e), "Failed to generate temp name");
        EXPECT_NE(boost::get_error_info<Korvel::CallStackInfo>(e), nullptr);
        ASSERT_NE(boost::get_error_info<boost::throw_function>(e), nullptr);
        EXPECT_STREQ(*boost::get_error_info<boost::throw_function>(e), "SafeTempName");
    }
    EXPECT_THROW(GeneratePipeName(), CoreException);
}
