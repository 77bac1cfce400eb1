#pragma once
// A fresh temporary directory, removed with everything in it when the object dies.
#include <string>

namespace ZephTest {

class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;

    const std::string& Path() const { return m_path; }
    // Path of `name` inside the directory.
    std::string File(const std::string& name) const { return m_path + "/" + name; }

    // Removes every directory whose TempDir is still alive: for paths that end the process
    // without unwinding (a test that timed out).
    static void RemoveAllLive();

private:
    std::string m_path;
};

}  // namespace ZephTest
