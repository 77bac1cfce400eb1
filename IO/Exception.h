#pragma once
// A table row is one line, however long: not reflowed.
// clang-format off
/// \file
/// The library's exceptions. They carry no message of their own: everything a handler can
/// learn travels in typed details (boost::error_info) and in the recorded throw location
/// (file, line, bare function name). Korvel::DescribeException puts it all in one line.
///
/// \code
///   catch (const Korvel::Core::IOException& e) {
///       if (const std::string* d = boost::get_error_info<Korvel::DescriptionInfo>(e)) ...
///       std::cerr << Korvel::DescribeException(e) << "\n";
///   }
/// \endcode
///
/// What each throwing operation attaches, and nothing else. In the Details column a quoted text
/// is the DescriptionInfo, "system text" a DescriptionInfo that is the system's error text,
/// "file" the FilenameInfo (the path concerned), "code" the SystemErrorCodeInfo (errno, saved
/// right after the failed call), "text" the DetailsInfo (the system's error text) and "stack"
/// the CallStackInfo.
///
/// | Operation | Fails when | Thrown | Details |
/// |---|---|---|---|
/// | DataInputMemory, DataInputString, DataOutputString: SetPosition | past the end | IOException | SeekInfo |
/// | DataInputFile::Create | the open fails | IOException | file, "Can not open file for reading", text, stack |
/// | DataOutputFile::Create | open, seek to the end, size or seek back fails | IOException | system text |
/// | DataOutputFile::Write, SetPosition | the flush, the seek fails | IOException | system text |
/// | DataBitInput::ReadBitsInt, ReadBits | the input ends; ReadBitsInt: over 8 bits | IOException | none |
/// | DataInputPipe, DataOutputPipe by name (the name is logged) | the open fails | IOException | "Failed to open input pipe", code, text |
/// | the same, with PipeOptions | the open is cancelled, times out | IOException | as above, see PipeOptions.h |
/// | PipeCanceller, cancellable pipes | no descriptor | IOException | "Failed to create a wake descriptor", code, text |
/// | DataAvailableDescriptor() | no descriptor | IOException | "No descriptor for frame announcements", code, text |
/// | the pipes' options-taking Create | invalid PipeOptions | std::invalid_argument | message |
/// | CommunicationChannel::ReadHeader | too long | IOException | "Frame length above the channel's bound", text |
/// | GenerateTempFileName, GeneratePipeName | no free name | CoreException | "Failed to generate temp name", stack |
/// | the device queries (DeviceUtils.h) | an empty argument | std::invalid_argument | message, line feed, stack |
/// | DataBitInput::ReadBits | over 64 bits asked | std::invalid_argument | message |
/// | DataInputMemory::Create | null data, non-zero size | std::invalid_argument | message |
/// | DataOutputString::Write | position + size overflows | std::length_error | message |
///
/// The output pipe's description says "output pipe"; the channel's text is the length read.
/// Every throw records its source file, line and function: a constructor's function is its
/// class name ("DataOutputFile"), name generation's is "SafeTempName". Allocation failures and
/// boost's thread and random-device errors pass through unchanged.
// clang-format on
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
