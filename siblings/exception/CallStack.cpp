#include "ZephException/CallStack.h"

#include <sstream>
#include <utility>
#include <vector>

#include <boost/stacktrace.hpp>

namespace Korvel {
namespace {

thread_local std::vector<std::pair<const char*, const char*>> t_scopes;

}  // namespace

std::string GetCallStack()
{
    std::ostringstream out;
    // Skip this function's own frame: the caller is what matters.
    out << boost::stacktrace::stacktrace(1, static_cast<std::size_t>(-1));
    if (!t_scopes.empty()) {
        out << "Scopes:\n";
        for (auto it = t_scopes.rbegin(); it != t_scopes.rend(); ++it)
            out << "  " << it->second << " (" << it->first << ")\n";
    }
    return out.str();
}

namespace Core {
namespace StackDebugInfo {

Descr::Descr(const char* file, const char* function) : m_file(file), m_function(function)
{
    t_scopes.emplace_back(m_file, m_function);
}

Descr::~Descr()
{
    t_scopes.pop_back();
}

}  // namespace StackDebugInfo
}  // namespace Core
}  // namespace Korvel
