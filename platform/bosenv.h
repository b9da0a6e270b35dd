// Environment, host, user and time through the operating-system layer: the
// environment variables, the host, user and process names, the processor
// count, local time, sleeping, the thread identity and ASCII case changes.
// Used by the date-time conversions (the current time), the connect path
// (host and user names) and the ini files.
#pragma once
#include <cstddef>
#include <cstdint>

constexpr size_t BOS_HOST_NAME_SIZE = 256;

struct BosLocalTime {
    uint16_t day;    // 1-31
    uint16_t month;  // 1-12
    uint16_t year;   // four digits
    uint16_t hour;
    uint16_t minute;
    uint16_t second;
    uint16_t millisecond;
};

[[nodiscard]] const char* bosGetEnv(const char* name);
// value: capacity units; returns value or null.
[[nodiscard]] uint16_t* bosGetEnvW(const uint16_t* name, uint16_t* value, size_t capacity);
// buffer: size bytes (units) including the terminator; the name is cut to fit.
[[nodiscard]] int bosGetHostName(char* buffer, size_t size);
[[nodiscard]] int bosGetHostNameW(uint16_t* buffer, size_t units);
[[nodiscard]] int bosGetComputerName(char* buffer, size_t size);
[[nodiscard]] int bosGetComputerNameW(uint16_t* buffer, size_t units);
[[nodiscard]] int bosGetUserName(char* buffer, size_t size);
[[nodiscard]] int bosGetUserNameW(uint16_t* buffer, size_t units);
[[nodiscard]] int bosGetProcessName(char* buffer, size_t size);
[[nodiscard]] int64_t bosGetCpuCount();
void bosGetLocalTime(BosLocalTime* t);
void bosSleep(uint16_t milliseconds);
[[nodiscard]] uint64_t bosGetThreadId();
void bosUpper(char* buffer, size_t n);
void bosLower(char* buffer, size_t n);
