// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <sys/mman.h>
#include <unistd.h>

#include <cstddef>
#include <memory>
#include <span>
#include <new>
#include <utility>

// Memory of its own mapping, given back to the system in part or whole as soon as it is let go of
// (a block of the allocator goes back whole or not at all), whose pages start as zeros that take
// no memory until written, and which grows without a copy.
class TPages {
public:
    TPages() = default;
    explicit TPages(size_t bytes) { Grow(bytes); }
    TPages(TPages &&other) noexcept : FData(std::exchange(other.FData, nullptr)), FSize(std::exchange(other.FSize, 0))
    {
    }
    TPages &operator=(TPages &&other) noexcept
    {
        if (this != &other) {
            Release();
            FData = std::exchange(other.FData, nullptr);
            FSize = std::exchange(other.FSize, 0);
        }
        return *this;
    }
    ~TPages() { Release(); }

    void *Data() const { return FData; }
    size_t Size() const { return FSize; }
    // Makes room for `bytes` in all, keeping what the pages hold (they may move).
    void Grow(size_t bytes)
    {
        bytes = Rounded(bytes);
        if (bytes <= FSize)
            return;
        void *pages = FData ? ::mremap(FData, FSize, bytes, MREMAP_MAYMOVE)
                            : ::mmap(nullptr, bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (pages == MAP_FAILED)
            throw std::bad_alloc();
        FData = pages;
        FSize = bytes;
    }
    // Gives back the pages past the first `keep` bytes.
    void Keep(size_t keep)
    {
        const size_t from = Rounded(keep);
        if (!FData || from >= FSize)
            return;
        ::munmap(static_cast<char *>(FData) + from, FSize - from);
        FSize = from;
        if (from == 0)
            FData = nullptr;
    }

private:
    static size_t Rounded(size_t bytes)
    {
        const auto page = size_t(::sysconf(_SC_PAGESIZE));
        return (bytes + page - 1) / page * page;
    }
    void Release()
    {
        if (FData)
            ::munmap(FData, FSize);
        FData = nullptr;
        FSize = 0;
    }

    void *FData = nullptr;
    size_t FSize = 0;
};

// An array in pages of its own, of a type that a byte copy copies; its items start as all-zero
// bytes, which the system gives without touching a page until an item is written.
template <typename T> class TPagedArray {
public:
    TPagedArray() = default;
    explicit TPagedArray(size_t count) : FPages(count * sizeof(T)), FCount(count) {}

    T *data() const { return static_cast<T *>(FPages.Data()); }
    size_t size() const { return FCount; }
    T &operator[](size_t i) const { return data()[i]; }
    T *begin() const { return data(); }
    T *end() const { return data() + FCount; }

private:
    TPages FPages;
    size_t FCount = 0;
};
