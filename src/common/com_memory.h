#pragma once

#include <windows.h>
#include <objbase.h>
#include <propidl.h>

// Owners for memory that COM hands out: a CoTaskMemAlloc'ed block (endpoint
// id strings, mix formats) and a PROPVARIANT filled by a property store. Each
// frees its content exactly once when it goes out of scope. No thread
// affinity beyond that of the memory itself.

template <typename T>
class CoTaskMemPtr
{
public:
    CoTaskMemPtr() = default;
    ~CoTaskMemPtr() { CoTaskMemFree(pointer); }
    CoTaskMemPtr(const CoTaskMemPtr&) = delete;
    CoTaskMemPtr& operator=(const CoTaskMemPtr&) = delete;

    T* Get() const { return pointer; }
    // For out-parameters: frees what was held and hands out the empty slot.
    T** Put()
    {
        CoTaskMemFree(pointer);
        pointer = nullptr;
        return &pointer;
    }

private:
    T* pointer = nullptr;
};

class PropVariantValue
{
public:
    PropVariantValue() { PropVariantInit(&value); }
    ~PropVariantValue() { PropVariantClear(&value); }
    PropVariantValue(const PropVariantValue&) = delete;
    PropVariantValue& operator=(const PropVariantValue&) = delete;

    const PROPVARIANT& Get() const { return value; }
    // For out-parameters: clears what was held and hands out the empty value.
    PROPVARIANT* Put()
    {
        PropVariantClear(&value);
        return &value;
    }

private:
    PROPVARIANT value;
};
