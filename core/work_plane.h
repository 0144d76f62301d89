// Work planes that a filter fills completely before reading: a vector whose elements are
// left uninitialised, so a large plane costs no clearing pass.
#pragma once

#include <memory>
#include <new>
#include <type_traits>
#include <utility>
#include <vector>

template <typename T, typename A = std::allocator<T>>
class uninitialised_allocator : public A {
    using traits = std::allocator_traits<A>;

public:
    template <typename U>
    struct rebind {
        using other = uninitialised_allocator<U, typename traits::template rebind_alloc<U>>;
    };
    using A::A;
    template <typename U>
    void construct(U* p) noexcept(std::is_nothrow_default_constructible<U>::value)
    {
        ::new (static_cast<void*>(p)) U;
    }
    template <typename U, typename... Args>
    void construct(U* p, Args&&... args)
    {
        traits::construct(static_cast<A&>(*this), p, std::forward<Args>(args)...);
    }
};

// work_plane<int> v(n) holds n unset values; work_plane<int> v(n, 0) n zeros.
template <typename T>
using work_plane = std::vector<T, uninitialised_allocator<T>>;
