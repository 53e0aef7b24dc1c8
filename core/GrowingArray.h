#pragma once
// Columns that grow with the work: the packet index of a source, its cut points,
// the levels of the cut list and the assembled packet list. The memory comes from
// the system as anonymous pages, so only pages that have been written are
// resident, and growing moves the pages instead of copying them: a column of n
// elements costs about n elements of memory, also while it grows.
#include <cstddef>
#include <cstdint>
#include <type_traits>
#include <utility>

namespace growing {

// Makes the block of oldBytes at `block` (null, 0: none yet) at least newBytes
// large; its contents are kept. Returns the block, which may have moved, and its
// real size in *bytes; null when the system refuses, the old block then untouched.
void* resize(void* block, size_t oldBytes, size_t newBytes, size_t* bytes);
void release(void* block, size_t bytes);
// Makes the pages of [from, from + bytes) resident at once: cheaper than touching
// them one by one when they are about to be written.
void prefault(void* from, size_t bytes);

} // namespace growing

// Seam for tests: makes growth fail as a machine out of memory would.
struct GrowingArrayProbe {
    // When >= 0: the bytes that growth may still take; a growth that needs more
    // fails (the array keeps what it had).
    int64_t failAfterBytes = -1;
    void reset() { *this = GrowingArrayProbe{}; }
};
GrowingArrayProbe& growingArrayProbe();

template <typename T>
class GrowingArray {
    static_assert(std::is_trivially_copyable_v<T> && std::is_trivially_destructible_v<T>);

public:
    GrowingArray() = default;
    ~GrowingArray() { growing::release(data_, capacity_ * sizeof(T)); }
    GrowingArray(GrowingArray&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0))
    {}
    GrowingArray& operator=(GrowingArray&& other) noexcept
    {
        GrowingArray(std::move(other)).swap(*this);
        return *this;
    }
    GrowingArray(const GrowingArray&) = delete;
    GrowingArray& operator=(const GrowingArray&) = delete;
    void swap(GrowingArray& other) noexcept
    {
        std::swap(data_, other.data_);
        std::swap(capacity_, other.capacity_);
    }

    T& operator[](size_t i) { return data_[i]; }
    const T& operator[](size_t i) const { return data_[i]; }
    T* get() { return data_; }
    const T* get() const { return data_; }
    explicit operator bool() const { return data_ != nullptr; }
    size_t capacity() const { return capacity_; }

    // Room for at least n elements; grows at least by half of what it holds so that
    // a column filled element by element grows a few dozen times in all. False
    // when the memory cannot be had (nothing changes then).
    bool reserve(size_t n)
    {
        if (n <= capacity_) return true;
        if (n > SIZE_MAX / sizeof(T) / 2) return false;
        size_t want = n > capacity_ + capacity_ / 2 ? n : capacity_ + capacity_ / 2;
        size_t bytes = 0;
        void* block = growing::resize(data_, capacity_ * sizeof(T), want * sizeof(T), &bytes);
        if (!block) return false;
        data_ = static_cast<T*>(block);
        // What the caller is about to fill; the room beyond stays untouched.
        growing::prefault(data_ + capacity_, (n - capacity_) * sizeof(T));
        capacity_ = bytes / sizeof(T);
        return true;
    }
    // Makes elements [first, first + n) within the room resident at once, as they are
    // about to be written.
    void prefault(size_t first, size_t n)
    {
        if (first < capacity_) growing::prefault(data_ + first, (n < capacity_ - first ? n : capacity_ - first) * sizeof(T));
    }
    // Gives the memory back; the array is empty again.
    void release()
    {
        growing::release(data_, capacity_ * sizeof(T));
        data_ = nullptr;
        capacity_ = 0;
    }

private:
    T* data_ = nullptr;
    size_t capacity_ = 0;
};
