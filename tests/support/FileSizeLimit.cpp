#include "support/FileSizeLimit.h"

#include <stdexcept>

namespace ZephTest {

FileSizeLimit::FileSizeLimit(rlim_t bytes)
{
    if (getrlimit(RLIMIT_FSIZE, &m_saved) != 0)
        throw std::runtime_error("getrlimit(RLIMIT_FSIZE) failed");
    m_handler = signal(SIGXFSZ, SIG_IGN);
    rlimit lowered = m_saved;
    lowered.rlim_cur = bytes;
    if (setrlimit(RLIMIT_FSIZE, &lowered) != 0) {
        signal(SIGXFSZ, m_handler);
        throw std::runtime_error("setrlimit(RLIMIT_FSIZE) failed");
    }
}

FileSizeLimit::~FileSizeLimit()
{
    setrlimit(RLIMIT_FSIZE, &m_saved);
    signal(SIGXFSZ, m_handler);
}

}  // namespace ZephTest
