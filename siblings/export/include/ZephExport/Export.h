#pragma once
/// \file
/// The one export macro of the Zeph libraries. They are built with hidden visibility, so only
/// what is marked ZEPH_API (the public classes and functions) leaves a shared library.

/// Marks a class or function as exported from its shared library.
#define ZEPH_API __attribute__((visibility("default")))
