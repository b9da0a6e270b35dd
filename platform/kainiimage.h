// In-memory images of odbc.ini and odbcinst.ini, read once at library load,
// and the application code page that the connect path derives from them and
// from the connection string.
#pragma once
#include <cstddef>
#include <cstdint>

// A whole file's bytes and a terminating 0; length is the byte count plus 1.
// data is null when the file was not read.
struct KaIniImage {
    char* data;
    int64_t length;
};

extern KaIniImage odbcIniImage;
extern KaIniImage odbcInstImage;
// The system's files ($ODBCSYSINI, else /etc); a section the user's file
// lacks is read from these.
extern KaIniImage odbcIniSystemImage;
extern KaIniImage odbcInstSystemImage;

// Limits of the image parser.
constexpr size_t kIniImageHeaderMax = 143;  // "[" name "]" searched for
constexpr size_t kIniImageKeyMax = 151;     // key text in the image
constexpr size_t kIniImageIntBuffer = 100;  // text read by the integer readers

// Marks an absent key while a profile integer is read.
constexpr int64_t kIniImageAbsent = -666666;

// Reads both images (the static initialiser's work); frees them first when
// they exist.
void loadIniImages() noexcept;
// The same, returning the result of the last system call (negative when a
// file cannot be opened).
int64_t loadIniImagesChecked() noexcept;
// Frees both images; the argument is ignored (exit-handler shape).
void freeIniImages(void* ignored) noexcept;
void freeIniImagesNow() noexcept;

int32_t getOdbcIniImageString(const char* section, const char* key, const char* defaultValue, char* output,
                              int32_t size) noexcept;
int32_t getOdbcInstImageString(const char* section, const char* key, const char* defaultValue, char* output,
                               int32_t size) noexcept;
int64_t getOdbcIniImageInt(const char* section, const char* key, int64_t defaultValue) noexcept;
int64_t getOdbcInstImageInt(const char* section, const char* key, int64_t defaultValue) noexcept;

// IANA number of a locale's codeset name (nl_langinfo(CODESET), or the part
// of a locale name after its "."); UTF-8 for ASCII and for a codeset without
// an IANA number.
int64_t codePageFromCodeset(const char* codeset) noexcept;
// IANA number of the code page of the application's locale: the LC_CTYPE
// the application set, else (still the C locale) the one LC_ALL, LC_CTYPE
// or LANG names.
int64_t localeAppCodePage() noexcept;

// IANA number of the application code page for a data source (or null):
// the files' IANAAppCodePage or AppCodePage, else the locale's.
int64_t getAppCodePage(const char* dataSourceName) noexcept;
// The same for a UTF-16 connection string of length units; *dsnOut (set to
// null by the caller) may receive the DSN value, which the caller frees with
// ucnvFree.
int64_t getAppCodePageW(const uint16_t* connectionString, int64_t length, uint16_t** dsnOut) noexcept;
int64_t getAppCodePageA(const char* connectionString, int64_t length, char** dsnOut) noexcept;

// Profile reading from an image (key compared ignoring case). A null key
// lists the keys of the section.
int32_t getProfileStringFromImage(const char* image, int64_t length, const char* section, const char* key,
                                  const char* defaultValue, char* output, int32_t size) noexcept;
// 1 when the header is found: *sectionStart is its "[", *nextSection the
// start of the next section or the image's end.
int32_t findSectionInImage(const char* image, int64_t length, const char* header, const char** sectionStart,
                           const char** nextSection) noexcept;
// 1 when the key is found in [*lineStart, sectionEnd); the value runs from
// *valueStart to *valueEnd.
int32_t findKeyInImage(const char* image, const char* key, const char** lineStart, const char* sectionEnd,
                       const char** valueStart, const char** valueEnd) noexcept;

// The first non-empty value of key in the data source's section of odbc.ini,
// the driver's section of odbcinst.ini, "ODBC" of odbc.ini and "ODBC" of
// odbcinst.ini (the last with the caller's default).
int32_t getOdbcProfileString(char* output, int32_t size, const char* dataSourceName, const char* driverName,
                             const char* key, const char* defaultValue) noexcept;
