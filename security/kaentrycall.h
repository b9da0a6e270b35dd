// Calls through entry points of a library bound at run time (the OpenSSL
// mappers' slots): an empty slot gives the caller's failure value instead
// of a call. Used by the TLS sockets and the key-store reader.
#pragma once

template <typename Ret, typename... Args>
Ret call(void* entry, Ret fail, Args... args) noexcept
{
    auto fn = reinterpret_cast<Ret (*)(Args...)>(entry);
    return fn != nullptr ? fn(args...) : fail;
}

template <typename... Args>
void callVoid(void* entry, Args... args) noexcept
{
    auto fn = reinterpret_cast<void (*)(Args...)>(entry);
    if (fn != nullptr)
        fn(args...);
}
