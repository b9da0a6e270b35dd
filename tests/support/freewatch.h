// A test helper that keeps, under AddressSanitizer, a copy of one watched
// block as it stood at the moment it was freed, so that a test can tell
// whether it was wiped first.
#pragma once
#include <cstddef>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
#endif

namespace katest {

// One watch at a time; the first kMax bytes of the block are compared.
class FreeWatch {
public:
    static constexpr size_t kMax = 256;

    FreeWatch(const void* block, size_t size)
    {
        watched_ = block;
        size_ = size < kMax ? size : kMax;
        seen_ = false;
        std::memset(snapshot_, 0xEE, sizeof snapshot_);
#if defined(__SANITIZE_ADDRESS__)
        static bool installed = false;
        if (!installed) {
            __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
            installed = true;
        }
#endif
    }
    ~FreeWatch() { watched_ = nullptr; }
    FreeWatch(const FreeWatch&) = delete;
    FreeWatch& operator=(const FreeWatch&) = delete;

    static bool available()
    {
#if defined(__SANITIZE_ADDRESS__)
        return true;
#else
        return false;
#endif
    }
    bool seen() const { return seen_; }
    bool wiped() const
    {
        for (size_t i = 0; i < size_; ++i) {
            if (snapshot_[i] != 0)
                return false;
        }
        return true;
    }

private:
    // The sanitizer installs a hook pair only when both are given.
    static void onMalloc(const volatile void*, size_t) {}
    static void onFree(const volatile void* p)
    {
        if (p != nullptr && p == watched_) {
            std::memcpy(snapshot_, const_cast<const void*>(p), size_);
            seen_ = true;
        }
    }
    static inline const volatile void* watched_ = nullptr;
    static inline size_t size_ = 0;
    static inline bool seen_ = false;
    static inline unsigned char snapshot_[kMax];
};

}  // namespace katest
