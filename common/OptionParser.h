#pragma once
// OptionParser: a program's command-line options, each a switch or a number (ParseNumber: k and
// m suffixes), given as `--name value` or `--name=value`; -h and --help ask for the usage text.
#include <string>
#include <vector>

namespace ZephCommon {

class OptionParser {
public:
    // Options named `a` (and `b`, when given, e.g. "-n" and "--frames").
    void Switch(const std::string& a, const std::string& b, bool& target);
    void Number(const std::string& a, const std::string& b, unsigned long long& target);

    // Sets the targets from `args`. Empty when all of them parsed, else what is wrong with the
    // first that did not. Parsing stops at -h or --help, which sets `help`.
    std::string Parse(const std::vector<std::string>& args, bool& help) const;

private:
    struct Option {
        std::string a, b;
        bool* flag;
        unsigned long long* number;
    };
    const Option* Find(const std::string& name) const;
    std::vector<Option> m_options;
};

}  // namespace ZephCommon
