#include "common/Process.h"

#include <dirent.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

extern char** environ;

namespace ZephCommon {

bool ParseNumber(const std::string& text, unsigned long long& value)
{
    unsigned long long n = 0;
    size_t i = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        const unsigned digit = static_cast<unsigned>(text[i] - '0');
        if (n > (~0ULL - digit) / 10)
            return false;
        n = n * 10 + digit;
    }
    if (i == 0)
        return false;
    unsigned shift = 0;
    if (i + 1 == text.size() && (text[i] == 'k' || text[i] == 'K'))
        shift = 10;
    else if (i + 1 == text.size() && (text[i] == 'm' || text[i] == 'M'))
        shift = 20;
    else if (i != text.size())
        return false;
    if (n > (~0ULL >> shift))
        return false;
    value = n << shift;
    return true;
}

std::set<int> OpenDescriptors()
{
    std::set<int> result;
    DIR* dir = opendir("/proc/self/fd");
    if (!dir)
        return result;
    const int own = dirfd(dir);
    while (const dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.')
            continue;
        const int fd = std::atoi(entry->d_name);
        if (fd != own)
            result.insert(fd);
    }
    closedir(dir);
    return result;
}

uint64_t ResidentKiB()
{
    FILE* statm = std::fopen("/proc/self/statm", "r");
    if (!statm)
        return 0;
    unsigned long long pages = 0, resident = 0;
    const bool read = std::fscanf(statm, "%llu %llu", &pages, &resident) == 2;
    std::fclose(statm);
    return read ? resident * static_cast<uint64_t>(sysconf(_SC_PAGESIZE)) / 1024 : 0;
}

int SpawnSelf(const std::vector<std::string>& args, pid_t& pid)
{
    std::vector<char*> argv;
    for (const auto& a : args)
        argv.push_back(const_cast<char*>(a.c_str()));
    argv.push_back(nullptr);
    return posix_spawn(&pid, "/proc/self/exe", nullptr, nullptr, argv.data(), environ);
}

std::string DescribeWaitStatus(int status)
{
    if (WIFEXITED(status))
        return "exit code " + std::to_string(WEXITSTATUS(status));
    if (WIFSIGNALED(status))
        return std::string("killed by signal ") + std::to_string(WTERMSIG(status)) + " (" +
               strsignal(WTERMSIG(status)) + ")";
    return "wait status " + std::to_string(status);
}

}  // namespace ZephCommon
