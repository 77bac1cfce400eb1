#pragma once
/// \file
/// One readable line for any exception: for a message to the user or a line in a log.
#include "ZephExport/Export.h"
#include <exception>
#include <string>

namespace Korvel {

/// Describes `e` in one line. For an exception of the library (or any other thrown through
/// boost::throw_exception): its class, then whichever of these it carries, in this order: the
/// description, the system's error text and number, the position a seek asked for, the file
/// concerned, and the function, source file and line of the throw. For example (one line):
///
/// \code
///   Korvel::Core::IOException: Can not open file for reading: No such file or directory,
///   file "/data/in.bin", in Create at DataInputFile.cpp:21
/// \endcode
///
/// An exception with no details (the bit reader's end of input) gives its class and throw
/// location only: the call that threw tells the cause. The call stack is left out. For any
/// other std::exception the line is its what(). boost::diagnostic_information reports the same
/// facts and more, for debugging.
ZEPH_API std::string DescribeException(const std::exception& e);

}  // namespace Korvel
