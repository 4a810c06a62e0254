#pragma once
// An allocator for storage that a flood of alerts makes and frees all the time (list blocks,
// tree nodes, the versions handed to the grids): freed blocks of one size go on a free list,
// per type and thread, and the next allocation of that size takes one from there instead of
// the heap. Bounded: at most MaxRecycledBlocks blocks are kept per type; the rest go back to
// the heap. The size kept is the first one freed (a deque's blocks, a shared node).

#include <cstddef>
#include <memory>
#include <new>

constexpr int MaxRecycledBlocks = 4096;

// For tests: when not negative, the number of allocations by any TRecycling on this thread
// that still succeed; the next one throws std::bad_alloc, as a full heap would.
inline thread_local int RecyclingFailAfter = -1;

template <class T>
class TRecycling {
public:
    using value_type = T;
    static_assert(alignof(T) <= __STDCPP_DEFAULT_NEW_ALIGNMENT__);

    TRecycling() = default;
    template <class U>
    TRecycling(const TRecycling<U>&) noexcept
    {
    }

    T* allocate(std::size_t n)
    {
        if (RecyclingFailAfter >= 0 && RecyclingFailAfter-- == 0)
            throw std::bad_alloc();
        TFree& free = Free();
        if (free.Head && n == free.BlockElements) {
            void* block = free.Head;
            free.Head = *static_cast<void**>(block);
            --free.Count;
            return static_cast<T*>(block);
        }
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }

    void deallocate(T* p, std::size_t n) noexcept
    {
        TFree& free = Free();
        if (free.BlockElements == 0 && n * sizeof(T) >= sizeof(void*))
            free.BlockElements = n;
        if (n == free.BlockElements && free.Count < MaxRecycledBlocks) {
            *reinterpret_cast<void**>(p) = free.Head;
            free.Head = p;
            ++free.Count;
            return;
        }
        ::operator delete(p);
    }

    template <class U>
    bool operator==(const TRecycling<U>&) const noexcept
    {
        return true;
    }

    // How many blocks wait on this thread's list (for tests).
    static int Waiting() { return Free().Count; }

private:
    // Trivially destructible, so that a block freed while the program ends still finds it.
    struct TFree {
        void* Head = nullptr;
        int Count = 0;
        std::size_t BlockElements = 0;
    };
    static TFree& Free()
    {
        thread_local TFree free;
        return free;
    }
};

// make_shared with the object and its count in one recycled block.
template <class T, class... TArgs>
std::shared_ptr<T> MakeRecycled(TArgs&&... args)
{
    return std::allocate_shared<T>(TRecycling<T>(), std::forward<TArgs>(args)...);
}
