#pragma once
/// \file
/// Reference counting for every object the library hands out (boost::intrusive_ptr hooks).
#include <boost/intrusive_ptr.hpp>

#include "ZephPointer/IRefCountable.h"
#include "ZephPointer/RefCountImpl.h"
