#pragma once
/// \file
/// The path type streams are named with: a thin value wrapper over std::filesystem::path.
#include "ZephExport/Export.h"
#include <filesystem>
#include <string>

namespace Korvel {

/// A file system path; converts implicitly from strings and std::filesystem::path.
class ZEPH_API ioPath {
public:
    ioPath() = default;
    ///@{
    /// The path given, unchanged.
    ioPath(const std::string& path) : m_path(path) {}
    ioPath(const char* path) : m_path(path) {}
    ioPath(const std::filesystem::path& path) : m_path(path) {}
    ///@}

    /// The path as UTF-8 text.
    std::string utf8string() const;
    /// The path without its last element.
    ioPath parent_path() const;
    /// The wrapped std::filesystem::path.
    const std::filesystem::path& native() const { return m_path; }

    ///@{
    /// Compares the paths as text, element by element (no file system access).
    bool operator==(const ioPath& other) const { return m_path == other.m_path; }
    bool operator!=(const ioPath& other) const { return !(*this == other); }
    ///@}

    /// Creates the directory and its missing ancestors; true when something was created.
    /// Failures other than "already exists" throw std::filesystem::filesystem_error.
    static bool create_directories(const ioPath& path);

private:
    std::filesystem::path m_path;
};

}  // namespace Korvel
