#pragma once
// Lowers the process's file size limit (RLIMIT_FSIZE) for the object's lifetime, so that real
// writes past `bytes` fail with EFBIG. SIGXFSZ is ignored meanwhile instead of ending the
// process; both are restored on destruction.
#include <signal.h>
#include <sys/resource.h>

namespace ZephTest {

class FileSizeLimit {
public:
    explicit FileSizeLimit(rlim_t bytes);
    ~FileSizeLimit();
    FileSizeLimit(const FileSizeLimit&) = delete;
    FileSizeLimit& operator=(const FileSizeLimit&) = delete;

private:
    rlimit m_saved;
    sighandler_t m_handler;
};

}  // namespace ZephTest
