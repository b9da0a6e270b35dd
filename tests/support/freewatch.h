// Test helpers that look into the blocks the process frees, under
// AddressSanitizer, so that a test can tell whether memory was wiped before
// it went back: FreeWatch keeps a copy of one watched block as it stood when
// it was freed; SecretWatch counts the freed blocks that still hold a secret
// (as bytes or as UTF-16 units). Both ride on one free hook.
#pragma once
#include <cstddef>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace katest {

// Installs the process's free hook on first use; every watch calls it.
inline void installFreeHook();

// Whether freed blocks can be seen at all (only under the sanitizer).
inline bool freeHookAvailable()
{
#if defined(__SANITIZE_ADDRESS__)
    return true;
#else
    return false;
#endif
}

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
        installFreeHook();
    }
    ~FreeWatch() { watched_ = nullptr; }
    FreeWatch(const FreeWatch&) = delete;
    FreeWatch& operator=(const FreeWatch&) = delete;

    static bool available() { return freeHookAvailable(); }
    bool seen() const { return seen_; }
    bool wiped() const
    {
        for (size_t i = 0; i < size_; ++i) {
            if (snapshot_[i] != 0)
                return false;
        }
        return true;
    }

    static void freed(const volatile void* p)
    {
        if (p != nullptr && p == watched_) {
            std::memcpy(snapshot_, const_cast<const void*>(p), size_);
            seen_ = true;
        }
    }

private:
    static inline const volatile void* watched_ = nullptr;
    static inline size_t size_ = 0;
    static inline bool seen_ = false;
    static inline unsigned char snapshot_[kMax];
};

// Watches a secret until destruction; one watch at a time. The test itself
// must not free heap copies of the secret while watching.
class SecretWatch {
public:
    static constexpr size_t kMaxSecret = 64;

    explicit SecretWatch(const char* secret)
    {
        size_t len = std::strlen(secret);
        narrowLen_ = len < kMaxSecret ? len : kMaxSecret;
        std::memcpy(narrow_, secret, narrowLen_);
        for (size_t i = 0; i < narrowLen_; ++i) {
            wide_[2 * i] = narrow_[i];
            wide_[2 * i + 1] = 0;
        }
        leaks_ = 0;
        frees_ = 0;
        installFreeHook();
        active_ = true;
    }
    ~SecretWatch() { active_ = false; }
    SecretWatch(const SecretWatch&) = delete;
    SecretWatch& operator=(const SecretWatch&) = delete;

    static bool available() { return freeHookAvailable(); }
    // Freed blocks that still held the secret.
    int leaks() const { return leaks_; }
    // Freed blocks seen while watching, so that a test can tell the hook ran.
    long frees() const { return frees_; }

    static void freed(const volatile void* p)
    {
#if defined(__SANITIZE_ADDRESS__)
        if (!active_ || p == nullptr || narrowLen_ == 0)
            return;
        ++frees_;
        size_t n = __sanitizer_get_allocated_size(p);
        const void* block = const_cast<const void*>(p);
        if (memmem(block, n, narrow_, narrowLen_) != nullptr || memmem(block, n, wide_, 2 * narrowLen_) != nullptr)
            ++leaks_;
#else
        (void)p;
#endif
    }

private:
    static inline bool active_ = false;
    static inline char narrow_[kMaxSecret] = {};
    static inline char wide_[2 * kMaxSecret] = {};
    static inline size_t narrowLen_ = 0;
    static inline int leaks_ = 0;
    static inline long frees_ = 0;
};

namespace detail {

// The sanitizer installs a hook pair only when both are given.
inline void onMalloc(const volatile void*, size_t) {}

inline void onFree(const volatile void* p)
{
    FreeWatch::freed(p);
    SecretWatch::freed(p);
}

}  // namespace detail

inline void installFreeHook()
{
#if defined(__SANITIZE_ADDRESS__)
    static const bool installed = (__sanitizer_install_malloc_and_free_hooks(detail::onMalloc, detail::onFree), true);
    (void)installed;
#endif
}

}  // namespace katest
