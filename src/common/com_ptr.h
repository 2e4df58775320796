#pragma once

#include <wrl/client.h>

// Owning COM references for every layer: each interface obtained is released
// exactly once, when its holder goes. No thread affinity of their own.
template <typename T>
using ComPtr = Microsoft::WRL::ComPtr<T>;

// Takes over the one reference a freshly created COM object starts with.
// (ComPtr::Attach cannot be used for this: mingw-w64's adds a reference.)
template <typename T>
ComPtr<T> AdoptReference(T* created)
{
    ComPtr<T> owner;
    *owner.GetAddressOf() = created;
    return owner;
}
