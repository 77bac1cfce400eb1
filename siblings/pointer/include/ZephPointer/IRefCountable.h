#pragma once
/// \file
/// The root of every reference-counted object: the count lives in the object and
/// boost::intrusive_ptr drives it through the two hooks below.
#include "ZephExport/Export.h"

namespace Korvel {

/// An object that counts its own references and destroys itself when the last one goes.
class ZEPH_API IRefCountable {
public:
    virtual ~IRefCountable() {}
    ///@{
    /// Each returns the count after the operation; a Release that returns 0 has
    /// destroyed the object.
    virtual int AddRef() const = 0;
    virtual int GetRefCount() const = 0;
    virtual int Release() const = 0;
    ///@}
};

///@{
/// Found by boost::intrusive_ptr through argument-dependent lookup.
ZEPH_API void intrusive_ptr_add_ref(const IRefCountable* object);
ZEPH_API void intrusive_ptr_release(const IRefCountable* object);
///@}

}  // namespace Korvel
