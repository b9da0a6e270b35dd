// A scope that switches the character type of the C locale to UTF-8 and puts
// back what was there, for tests of locale (multibyte) text.
#pragma once
#include <clocale>
#include <string>

namespace katest {

struct Utf8Locale {
    std::string saved;
    bool ok;

    Utf8Locale() : saved(std::setlocale(LC_CTYPE, nullptr)), ok(std::setlocale(LC_CTYPE, "C.UTF-8") != nullptr) {}
    ~Utf8Locale() { std::setlocale(LC_CTYPE, saved.c_str()); }
    Utf8Locale(const Utf8Locale&) = delete;
    Utf8Locale& operator=(const Utf8Locale&) = delete;
};

}  // namespace katest
