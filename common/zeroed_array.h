#pragma once

#include <cstddef>
#include <cstdlib>
#include <memory>
#include <new>

/// Frees what zeroedArray allocated.
struct ZeroedRelease {
    void operator()(void* items) const { std::free(items); }
};

template <typename T>
using ZeroedArray = std::unique_ptr<T[], ZeroedRelease>;

/// `count` zero items of a plain type from calloc. A large array arrives as
/// the system's zero pages, which cost nothing until an item on them is
/// written: a table that a run mostly leaves alone costs only what it uses.
/// Throws std::bad_alloc, as new would, when there is no memory.
template <typename T>
ZeroedArray<T> zeroedArray(std::size_t count)
{
    void* items = std::calloc(count, sizeof(T));
    if (items == nullptr)
        throw std::bad_alloc();
    return ZeroedArray<T>(static_cast<T*>(items));
}
