#include "common/EmergencyExit.h"

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <climits>
#include <csignal>
#include <cstring>

#include "common/Process.h"

namespace ZephCommon {
namespace EmergencyExit {
namespace {

constexpr int kMaxPaths = 4;
char g_paths[kMaxPaths][PATH_MAX];
std::atomic<int> g_pathCount{0};
// Read by the signal handler as well as by other threads: a lock-free atomic serves both.
std::atomic<pid_t> g_helper{0};
static_assert(std::atomic<pid_t>::is_always_lock_free, "g_helper is read in a signal handler");
std::atomic<bool> g_failing{false};
const char* g_prefix = "";

extern "C" void OnTerminationSignal(int signal)
{
    RemoveFiles();
    if (const pid_t helper = g_helper; helper > 0)
        kill(helper, SIGTERM);
    std::signal(signal, SIG_DFL);
    raise(signal);
}

}  // namespace

void Arm(const char* prefix)
{
    g_prefix = prefix;
    struct sigaction action {};
    action.sa_handler = OnTerminationSignal;
    sigemptyset(&action.sa_mask);
    for (int s : {SIGINT, SIGTERM, SIGHUP})
        sigaction(s, &action, nullptr);
}

bool RemoveOnExit(const std::string& path)
{
    const int slot = g_pathCount;
    if (slot == kMaxPaths || path.size() >= sizeof g_paths[slot])
        return false;
    std::strcpy(g_paths[slot], path.c_str());
    g_pathCount = slot + 1;
    return true;
}

void RemoveFiles()
{
    for (int i = 0; i < g_pathCount; ++i)
        unlink(g_paths[i]);
}

void SetHelper(pid_t pid)
{
    g_helper = pid;
}

void Fail(const std::string& message)
{
    if (g_failing.exchange(true))
        for (;;)
            pause();  // another thread is already ending the process
    // One write, so that log lines of other threads cannot cut the message in two.
    const std::string line = g_prefix + message + "\n";
    if (write(STDERR_FILENO, line.data(), line.size()) < 0) {
    }
    if (const pid_t helper = g_helper; helper > 0)
        kill(helper, SIGKILL);
    RemoveFiles();
    _exit(1);
}

void FailAfterGrace(const std::string& message)
{
    for (int i = 0; i < 100 && !g_failing; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    Fail(message);
}

void MakeFifo(const std::string& path)
{
    if (!RemoveOnExit(path))
        Fail("pipe name too long: " + path);
    if (mkfifo(path.c_str(), 0600) != 0)
        Fail("cannot create the FIFO " + path + ": " + std::strerror(errno));
}

HelperWatch::HelperWatch(const std::vector<std::string>& args, const std::string& helper, const std::string& until)
{
    pid_t pid = 0;
    if (const int error = SpawnSelf(args, pid); error != 0)
        Fail("cannot start " + helper + ": " + std::strerror(error));
    SetHelper(pid);
    m_thread = std::thread([pid, earlyEnd = helper + " ended before " + until, state = m_state] {
        while (waitpid(pid, &state->status, 0) < 0 && errno == EINTR) {
        }
        SetHelper(0);
        if (!state->finishing)
            Fail(earlyEnd + " (" + DescribeWaitStatus(state->status) + ")");
    });
}

HelperWatch::~HelperWatch()
{
    if (m_thread.joinable())
        m_thread.detach();
}

void HelperWatch::Finishing()
{
    m_state->finishing = true;
}

int HelperWatch::Wait()
{
    m_thread.join();
    return m_state->status;
}

}  // namespace EmergencyExit
}  // namespace ZephCommon
