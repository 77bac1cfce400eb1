#pragma once
/// \file
/// The library's exceptions. They carry no message of their own: everything a handler can
/// learn travels in typed details (boost::error_info) and in the recorded throw location.
///
/// \code
///   catch (const Korvel::Core::IOException& e) {
///       if (const std::string* d = boost::get_error_info<Korvel::DescriptionInfo>(e)) ...
///       std::cerr << boost::diagnostic_information(e);
///   }
/// \endcode
#include "ZephExport/Export.h"
#include <exception>
#include <stdexcept>
#include <string>
#include <type_traits>

#include <boost/exception/all.hpp>

#include "ZephException/CallStack.h"

namespace Korvel {

/// The root of the library family's exceptions; catch it to catch them all.
class ZEPH_API Exception : public virtual std::exception, public virtual boost::exception {
public:
    virtual ~Exception() {}
};

/// Tag types name the details in diagnostic text ("[Korvel::TagDescription*] = ...").
struct TagDescription;
struct TagFilename;
struct TagDetails;
struct TagCallStack;
struct TagSystemErrorCode;

/// What failed, or the system's error text.
typedef boost::error_info<TagDescription, std::string> DescriptionInfo;
/// The path concerned, as UTF-8.
typedef boost::error_info<TagFilename, std::string> FilenameInfo;
/// The system's error text (strerror).
typedef boost::error_info<TagDetails, std::string> DetailsInfo;
/// The call stack at the throw.
typedef boost::error_info<TagCallStack, std::string> CallStackInfo;
/// The system error number (errno).
typedef boost::error_info<TagSystemErrorCode, int> SystemErrorCodeInfo;

namespace Core {

/// A failure of the library's core services (e.g. no temporary name could be formed).
class ZEPH_API CoreException : public virtual Korvel::Exception {
public:
    virtual ~CoreException() {}
};

/// A failed input or output: opening a file or pipe, seeking, flushing.
class ZEPH_API IOException : public virtual CoreException {
public:
    virtual ~IOException() {}
    struct TagSeek;
    /// The position a failed SetPosition asked for.
    typedef boost::error_info<TagSeek, unsigned long long> SeekInfo;
};

}  // namespace Core

/// Library exceptions: attaches the current call stack as CallStackInfo and returns `e`.
template <class E>
typename std::enable_if<std::is_base_of<Korvel::Exception, E>::value, const E&>::type AddStack(const E& e)
{
    e << CallStackInfo(GetCallStack());
    return e;
}

/// Standard exceptions: a new one whose message is the old one, a line feed, the call stack.
template <class E>
typename std::enable_if<std::is_base_of<std::logic_error, E>::value || std::is_base_of<std::runtime_error, E>::value,
                        E>::type
AddStack(const E& e)
{
    return E(std::string(e.what()) + "\n" + GetCallStack());
}

}  // namespace Korvel
