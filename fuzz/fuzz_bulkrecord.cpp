// The bulk record reader over arbitrary data file bytes: the first byte
// picks the code page of the description (UTF-8, ISO-8859-1, UTF-16LE or
// UTF-16BE) and whether a record is skipped first; the rest is the data
// file. Every field comes back within the block, every call either returns
// or fails with a diagnostic, and the reader ends in a bounded number of
// calls.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "bulk/bulkloadfile.h"
#include "fuzzfixture.h"

namespace {

const char* const kCodePages[] = {"UTF-8", "ISO-8859-1", "UTF-16LE", "UTF-16BE"};

// A private directory for the files of every input.
const std::string& workDir()
{
    static const std::string dir = [] {
        char pattern[] = "/tmp/fuzzbulkXXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp");
    }();
    return dir;
}

void writeFile(const std::string& path, const void* data, size_t size)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr)
        std::abort();
    if (size != 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0)
        return 0;
    kafuzz::DiagnosticScope scope;
    const std::string dir = workDir();
    const std::string dataPath = dir + "/data.csv";
    const std::string descPath = dir + "/data.xml";
    std::string description = std::string("<table codepage=\"") + kCodePages[data[0] & 3] +
                              "\"><row><column datatype=\"VARBINARY\" length=\"8\">a</column>"
                              "<column datatype=\"VARCHAR\" length=\"8\">b</column>"
                              "<column datatype=\"LONGVARCHAR\">c</column></row></table>";
    writeFile(descPath, description.data(), description.size());
    writeFile(dataPath, data + 1, size - 1);
    // A side file the data may name.
    writeFile(dir + "/data_000001.lob", data, size < 3000 ? size : 3000);
    BulkLoadFile file;
    if (file.open(dataPath.c_str(), descPath.c_str(), nullptr, nullptr, 1, BulkDelimiters{}) != 0)
        return 0;
    if ((data[0] & 4) != 0 && file.skipRows(1) != 0) {
        kafuzz::check(scope.list.count > 0, "failed skip posted nothing");
        return 0;
    }
    int32_t continued = 0;
    // Every call consumes at least one byte of the data or ends it; a
    // side file adds at most a few blocks.
    for (size_t calls = 0; calls < 4 * size + 64; ++calls) {
        const uint8_t* field = nullptr;
        uint64_t length = 0;
        int32_t isNull = 0;
        int64_t cp = 0;
        if (file.readRecord(&field, &length, &continued, &isNull, &cp) != 0) {
            kafuzz::check(scope.list.count > 0, "failed read posted nothing");
            return 0;
        }
        if (field == nullptr) {
            kafuzz::check(length == 0, "end of data with a length");
            return 0;
        }
        kafuzz::check(length <= 1024, "field longer than a block");
        kafuzz::check(isNull == 0 || length == 0, "null field with a length");
        kafuzz::check(file.fieldNumber >= 1, "field number below one");
    }
    kafuzz::check(false, "reader did not end");
    return 0;
}
