// Root of the driver's class tree. Every object is taken from the ram*
// allocator and never throws: a failed `new` yields null after the
// out-of-memory diagnostic, so every caller checks the result.
#pragma once
#include <cstddef>
#include <cstdint>

class KaObject {
public:
    KaObject() noexcept = default;
    virtual ~KaObject();

    // Ordering hook used by sorted containers; every object is equal by default.
    virtual int16_t compare(const KaObject& other) const;

    static void* operator new(size_t size) noexcept;
    static void* operator new[](size_t size) noexcept;
    static void* operator new(size_t, void* place) noexcept { return place; }
    static void operator delete(void* block) noexcept;
    static void operator delete[](void* block) noexcept;
    static void operator delete(void*, void*) noexcept {}
};
