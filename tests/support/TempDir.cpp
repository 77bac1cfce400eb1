#include "support/TempDir.h"

#include <cstdlib>
#include <filesystem>
#include <mutex>
#include <set>
#include <stdexcept>

namespace ZephTest {
namespace {

std::mutex g_liveMutex;
std::set<std::string> g_live;

}  // namespace

TempDir::TempDir() : m_path((std::filesystem::temp_directory_path() / "zephio-test-XXXXXX").string())
{
    if (!mkdtemp(m_path.data()))
        throw std::runtime_error("mkdtemp failed");
    std::lock_guard<std::mutex> lock(g_liveMutex);
    g_live.insert(m_path);
}

TempDir::~TempDir()
{
    std::lock_guard<std::mutex> lock(g_liveMutex);
    g_live.erase(m_path);
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

void TempDir::RemoveAllLive()
{
    std::lock_guard<std::mutex> lock(g_liveMutex);
    std::error_code ignored;
    for (const auto& path : g_live)
        std::filesystem::remove_all(path, ignored);
}

}  // namespace ZephTest
