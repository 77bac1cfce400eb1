#include "IO/KorvelIO/IPCTools.h"

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include <boost/uuid/random_generator.hpp>
#include <boost/uuid/uuid.hpp>
#include <boost/uuid/uuid_io.hpp>

#include "IO/Detail/SystemExtensions.h"
#include "IO/Detail/Throw.h"
#include "IO/Exception.h"

namespace Korvel {
namespace Core {

namespace {

// glibc's tempnam keeps only five characters of a prefix, so the name is formed here the
// way tempnam would form it with the whole prefix: same directory choice, then the prefix,
// then six characters chosen so that no file has the name.
const int kSuffixLength = 6;
const int kAttempts = 100;
const char kSuffixAlphabet[] = "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789";

bool IsDirectory(const char* path)
{
    struct stat info;
    return path && *path && stat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

// TMPDIR when it names a directory, else the system default; empty when none is usable.
std::string TempDirectory()
{
    const char* candidates[] = {Detail::TrustedEnvironment("TMPDIR"), P_tmpdir, "/tmp"};
    for (const char* candidate : candidates) {
        if (!IsDirectory(candidate))
            continue;
        std::string dir(candidate);
        while (dir.size() > 1 && dir.back() == '/')
            dir.pop_back();
        if (dir != "/")
            dir += '/';
        return dir;
    }
    return std::string();
}

// Empty when the directory is unusable, the name cannot be examined (too long, no access) or
// every suffix tried is taken.
std::string FormFreeName(const std::string& prefix, boost::uuids::random_generator& random)
{
    const std::string dir = TempDirectory();
    if (dir.empty())
        return std::string();
    for (int attempt = 0; attempt < kAttempts; ++attempt) {
        const boost::uuids::uuid bits = random();
        std::string name = dir + prefix;
        for (int i = 0; i < kSuffixLength; ++i)
            name += kSuffixAlphabet[bits.data[i] % (sizeof(kSuffixAlphabet) - 1)];
        struct stat info;
        if (lstat(name.c_str(), &info) != 0)
            return errno == ENOENT ? name : std::string();
    }
    return std::string();
}

std::string SafeTempName(const std::string& prefix, boost::uuids::random_generator& random)
{
    std::string name = FormFreeName(prefix, random);
    if (name.empty())
        KORVEL_THROW(AddStack(CoreException() << DescriptionInfo("Failed to generate temp name")));
    return name;
}

}  // namespace

std::string GenerateTempFileName()
{
    boost::uuids::random_generator random;
    const std::string text = boost::uuids::to_string(random());
    return SafeTempName(text, random);
}

}  // namespace Core
}  // namespace Korvel
