#pragma once
/// \file
/// Call-stack text for exception details, plus named scopes that the text reports.
#include "ZephExport/Export.h"
#include <string>

namespace Korvel {

/// The calling thread's stack as readable text: one frame per line, with symbol names and,
/// where debug information allows, source file and line; then the open StackDebugInfo
/// scopes of this thread, innermost first.
ZEPH_API std::string GetCallStack();

namespace Core {
namespace StackDebugInfo {

/// Marks a scope (file, function) of the current thread for GetCallStack; both strings must
/// outlive the object (string literals in practice).
class ZEPH_API Descr {
public:
    /// Opens the scope; the destructor closes it.
    Descr(const char* file, const char* function);
    ~Descr();
    Descr(const Descr&) = delete;
    Descr& operator=(const Descr&) = delete;

private:
    const char* m_file;
    const char* m_function;
};

}  // namespace StackDebugInfo
}  // namespace Core
}  // namespace Korvel
