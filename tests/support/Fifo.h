#pragma once
// A FIFO named "fifo" in a fresh temporary directory, removed with it.
#include <sys/stat.h>

#include <stdexcept>
#include <string>

#include "support/TempDir.h"

namespace ZephTest {

struct Fifo {
    TempDir dir;
    std::string path = dir.File("fifo");
    Fifo()
    {
        if (mkfifo(path.c_str(), 0600) != 0)
            throw std::runtime_error("mkfifo failed: " + path);
    }
};

}  // namespace ZephTest
