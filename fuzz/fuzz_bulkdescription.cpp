// The bulk description reader over arbitrary description bytes: an open
// either succeeds with consistent column descriptions (numbers in order,
// names present, a datatype word that maps back) or fails with a
// diagnostic; the object is reopened on the same input to show that a
// failed open leaves it usable.
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "bulk/bulkfiles.h"
#include "bulk/bulkloadfile.h"
#include "fuzzfixture.h"

namespace {

const std::string& descriptionPath()
{
    static const std::string path = [] {
        char pattern[] = "/tmp/fuzzbulkdescXXXXXX";
        const char* made = mkdtemp(pattern);
        return std::string(made != nullptr ? made : "/tmp") + "/d.xml";
    }();
    return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::DiagnosticScope scope;
    FILE* f = std::fopen(descriptionPath().c_str(), "wb");
    if (f == nullptr)
        std::abort();
    if (size != 0 && std::fwrite(data, 1, size, f) != size)
        std::abort();
    std::fclose(f);
    BulkLoadFile file;
    for (int round = 0; round < 2; ++round) {
        if (file.open(nullptr, descriptionPath().c_str(), nullptr, nullptr, 0, BulkDelimiters{}) != 0) {
            kafuzz::check(scope.list.errorCount > 0, "failed open posted no error");
            continue;
        }
        kafuzz::check(file.columnCount > 0, "open without columns");
        for (uint64_t i = 1; i <= file.columnCount; ++i) {
            const BulkColumnDesc* c = file.column(i);
            kafuzz::check(c != nullptr && c->columnNumber == int64_t(i), "column numbers out of order");
            kafuzz::check(c->name != nullptr && c->nameLength > 0, "column without a name");
            kafuzz::check(std::strcmp(bulkDataTypeName(c->datatype, 0), "UNKNOWN") != 0, "datatype without a word");
            kafuzz::check(c->nullable >= 0 && c->nullable <= 2, "nullable out of range");
        }
    }
    return 0;
}
