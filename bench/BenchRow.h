#pragma once
// One line per headline figure, in a form scripts/bench.sh gathers into a single table:
//   @row <TAB> what <TAB> figure <TAB> same-run baseline <TAB> ratio <TAB> target
#include <cstdio>
#include <string>

namespace ZephBench {

inline std::string Figure(double value, const char* unit)
{
    char text[64];
    std::snprintf(text, sizeof text, "%.1f %s", value, unit);
    return text;
}

inline void PrintRow(const std::string& what, const std::string& figure, const std::string& baseline,
                     const std::string& ratio, const std::string& target)
{
    std::printf("@row\t%s\t%s\t%s\t%s\t%s\n", what.c_str(), figure.c_str(), baseline.c_str(), ratio.c_str(),
                target.c_str());
}

}  // namespace ZephBench
