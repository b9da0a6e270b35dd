// A test helper that looks into every block the process frees, under
// AddressSanitizer, and counts those that still hold a watched secret (as
// bytes or as UTF-16 units): a block that held a secret must be wiped before
// it goes back.
#pragma once
#include <cstddef>
#include <cstring>

#if defined(__SANITIZE_ADDRESS__)
extern "C" int __sanitizer_install_malloc_and_free_hooks(void (*)(const volatile void*, size_t),
                                                         void (*)(const volatile void*));
extern "C" size_t __sanitizer_get_allocated_size(const volatile void* p);
#endif

namespace katest {

class SecretWatch {
public:
    static constexpr size_t kMaxSecret = 64;

    static bool available()
    {
#if defined(__SANITIZE_ADDRESS__)
        return true;
#else
        return false;
#endif
    }

    // Watches the secret until destruction; one watch at a time. The test
    // itself must not free heap copies of the secret while watching.
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
#if defined(__SANITIZE_ADDRESS__)
        static bool installed = false;
        if (!installed) {
            __sanitizer_install_malloc_and_free_hooks(onMalloc, onFree);
            installed = true;
        }
#endif
        active_ = true;
    }
    ~SecretWatch() { active_ = false; }
    SecretWatch(const SecretWatch&) = delete;
    SecretWatch& operator=(const SecretWatch&) = delete;

    // Freed blocks that still held the secret.
    int leaks() const { return leaks_; }
    // Freed blocks seen while watching, so that a test can tell the hook ran.
    long frees() const { return frees_; }

private:
    static void onMalloc(const volatile void*, size_t) {}
    static void onFree(const volatile void* p)
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

    static inline bool active_ = false;
    static inline char narrow_[kMaxSecret] = {};
    static inline char wide_[2 * kMaxSecret] = {};
    static inline size_t narrowLen_ = 0;
    static inline int leaks_ = 0;
    static inline long frees_ = 0;
};

}  // namespace katest
