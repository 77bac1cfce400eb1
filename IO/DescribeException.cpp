#include "IO/DescribeException.h"

#include <typeinfo>

#include <boost/core/demangle.hpp>

#include "IO/Exception.h"

namespace Korvel {

namespace {

// The class a handler names: the thrown type without the boost::wrapexcept<> around it.
std::string ClassName(const std::exception& e)
{
    std::string name = boost::core::demangle(typeid(e).name());
    const std::string wrapper = "boost::wrapexcept<";
    if (name.rfind(wrapper, 0) == 0 && name.back() == '>')
        name = name.substr(wrapper.size(), name.size() - wrapper.size() - 1);
    return name;
}

// Keeps the description on one line: a line feed in a value becomes a space.
std::string Flat(std::string text)
{
    for (char& c : text)
        if (c == '\n')
            c = ' ';
    return text;
}

}  // namespace

std::string DescribeException(const std::exception& e)
{
    const auto* details = dynamic_cast<const boost::exception*>(&e);
    if (!details)
        return e.what();

    std::string line = ClassName(e);
    // The library's own exceptions keep the standard what(), which says nothing; a standard
    // one's message comes first, without the call stack that follows its first line.
    if (!dynamic_cast<const Korvel::Exception*>(&e)) {
        const std::string what = e.what();
        line += ": " + what.substr(0, what.find('\n'));
    }
    const std::string* description = boost::get_error_info<DescriptionInfo>(*details);
    if (description)
        line += ": " + Flat(*description);
    // A description that is the system's text already says it.
    const std::string* systemText = boost::get_error_info<DetailsInfo>(*details);
    if (systemText && !(description && *description == *systemText))
        line += ": " + Flat(*systemText);
    if (const int* number = boost::get_error_info<SystemErrorCodeInfo>(*details))
        line += " (errno " + std::to_string(*number) + ")";
    if (const unsigned long long* position = boost::get_error_info<Core::IOException::SeekInfo>(*details))
        line += ", position " + std::to_string(*position);
    if (const std::string* filename = boost::get_error_info<FilenameInfo>(*details))
        line += ", file \"" + Flat(*filename) + "\"";

    const char* const* function = boost::get_error_info<boost::throw_function>(*details);
    const char* const* file = boost::get_error_info<boost::throw_file>(*details);
    const int* sourceLine = boost::get_error_info<boost::throw_line>(*details);
    if (function && file && sourceLine) {
        const std::string path = *file;
        line += ", in " + std::string(*function) + " at " + path.substr(path.rfind('/') + 1) + ":" +
                std::to_string(*sourceLine);
    }
    return line;
}

}  // namespace Korvel
