#pragma once
// EmergencyExit: how a program that made files (FIFOs, say) and started a helper process ends
// when something goes wrong, leaving neither behind. On SIGINT, SIGTERM or SIGHUP it removes
// the files, sends the helper SIGTERM and dies of the signal; on the first Fail of any thread
// it prints the message, kills the helper and exits with 1. The state sits in fixed buffers
// and lock-free atomics, where the signal handlers can reach it.
#include <sys/types.h>

#include <atomic>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace ZephCommon {
namespace EmergencyExit {

// Installs the signal handlers. `prefix` begins every Fail message ("program: error: ").
void Arm(const char* prefix);

// Keeps `path` to be removed on a failure or signal; false when it is too long or too many.
bool RemoveOnExit(const std::string& path);
// Creates a FIFO at `path`, kept to be removed; Fails when it cannot.
void MakeFifo(const std::string& path);
// Removes the kept paths now (the normal end).
void RemoveFiles();

// The helper process to stop; 0 for none (any more: its ID may be reused once reaped).
void SetHelper(pid_t pid);

// Reports the first failure of any thread in one write, stops the helper, removes the kept
// paths and exits with 1. A second caller waits for the first to end the process.
[[noreturn]] void Fail(const std::string& message);
// The same after up to a second in which another thread (a HelperWatch seeing the helper's end,
// the likelier cause) may fail first.
[[noreturn]] void FailAfterGrace(const std::string& message);

// Starts the helper, this same program with `args` (args[0] included), and waits on a thread
// of its own for it to end. Until Finishing is called its end is a failure, reported as
// "<helper> ended before <until> (<how it ended>)".
class HelperWatch {
public:
    HelperWatch(const std::vector<std::string>& args, const std::string& helper, const std::string& until);
    ~HelperWatch();  // leaves a helper still running to the thread (the process is failing)
    HelperWatch(const HelperWatch&) = delete;
    HelperWatch& operator=(const HelperWatch&) = delete;

    // From now on the helper is expected to end.
    void Finishing();
    // Waits for the helper's end and gives its wait status.
    int Wait();

private:
    struct State {
        std::atomic<bool> finishing{false};
        int status = 0;
    };
    std::shared_ptr<State> m_state = std::make_shared<State>();
    std::thread m_thread;
};

}  // namespace EmergencyExit
}  // namespace ZephCommon
