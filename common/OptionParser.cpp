#include "common/OptionParser.h"

#include "common/Process.h"

namespace ZephCommon {

void OptionParser::Switch(const std::string& a, const std::string& b, bool& target)
{
    m_options.push_back({a, b, &target, nullptr});
}

void OptionParser::Number(const std::string& a, const std::string& b, unsigned long long& target)
{
    m_options.push_back({a, b, nullptr, &target});
}

const OptionParser::Option* OptionParser::Find(const std::string& name) const
{
    for (const auto& option : m_options)
        if (name == option.a || (!option.b.empty() && name == option.b))
            return &option;
    return nullptr;
}

std::string OptionParser::Parse(const std::vector<std::string>& args, bool& help) const
{
    for (size_t i = 0; i < args.size(); ++i) {
        std::string name = args[i], value;
        const size_t equals = name.find('=');
        const bool inlineValue = name.rfind("--", 0) == 0 && equals != std::string::npos;
        if (inlineValue) {
            value = name.substr(equals + 1);
            name = name.substr(0, equals);
        }
        if (name == "-h" || name == "--help") {
            help = true;
            return "";
        }
        const Option* option = Find(name);
        if (!option)
            return "unknown option '" + args[i] + "'";
        if (option->flag) {
            if (inlineValue)
                return "option " + name + " takes no value";
            *option->flag = true;
            continue;
        }
        if (!inlineValue) {
            if (i + 1 == args.size())
                return "option " + name + " needs a value";
            value = args[++i];
        }
        if (!ParseNumber(value, *option->number))
            return "bad number '" + value + "' for " + name;
    }
    return "";
}

}  // namespace ZephCommon
