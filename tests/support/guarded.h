// An output buffer for tests, with guard units on both sides: whatever the
// code under test writes outside the room it was given shows up as a broken
// guard. The room starts as a fill pattern, so untouched units can be told
// from written ones. One helper for every test that hands a buffer out.
#pragma once
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace katest {

template <typename T = uint8_t>
class Guarded {
public:
    static constexpr size_t kGuardUnits = 16;
    static constexpr T kGuard = static_cast<T>(0xA5);
    static constexpr T kDefaultFill = static_cast<T>(0x5A);

    // n units of room; misalign shifts the room that many bytes past an
    // 8-byte boundary (for code whose paths depend on alignment).
    explicit Guarded(size_t n, T fill = kDefaultFill, size_t misalign = 0)
        : units_(n + 2 * kGuardUnits + 16 / sizeof(T) + 1, kGuard), size_(n)
    {
        auto base = reinterpret_cast<uintptr_t>(units_.data() + kGuardUnits);
        size_t pad = ((8 - base % 8) % 8 + misalign) / sizeof(T);
        start_ = kGuardUnits + pad;
        for (size_t i = 0; i < n; ++i)
            units_[start_ + i] = fill;
    }

    T* data() { return units_.data() + start_; }
    const T* data() const { return units_.data() + start_; }
    size_t size() const { return size_; }
    // Room in bytes, as ODBC buffer lengths count it.
    size_t bytes() const { return size_ * sizeof(T); }

    // Nothing before or after the room was written.
    bool guardsIntact() const
    {
        for (size_t i = 0; i < units_.size(); ++i) {
            if ((i < start_ || i >= start_ + size_) && units_[i] != kGuard)
                return false;
        }
        return true;
    }
    // Nothing at all was written (the room still holds the fill).
    bool untouched(T fill = kDefaultFill) const
    {
        for (size_t i = 0; i < size_; ++i) {
            if (units_[start_ + i] != fill)
                return false;
        }
        return guardsIntact();
    }
    // The first n units of the room as bytes.
    std::string str(size_t n) const { return std::string(reinterpret_cast<const char*>(data()), n * sizeof(T)); }

private:
    std::vector<T> units_;
    size_t size_;
    size_t start_;
};

}  // namespace katest
