// The query-file reader over arbitrary file contents: open, the statement,
// every section, the parameters and the description, then a write and a
// second read of what was written: no crash, no overrun, no endless loop.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include "foundation/kaarray.h"
#include "fuzzfixture.h"
#include "sql/kaqueryf.h"

namespace {

const std::string& scratchDir()
{
    static const std::string dir = [] {
        char name[] = "/tmp/fuzzqfXXXXXX";
        const char* made = mkdtemp(name);
        return std::string(made ? made : "/tmp");
    }();
    return dir;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::DiagnosticScope diagnostics;
    const std::string in = scratchDir() + "/in.qry";
    const std::string out = scratchDir() + "/out.qry";
    if (FILE* f = fopen(in.c_str(), "wb")) {
        if (size > 0)
            (void)fwrite(data, 1, size, f);
        fclose(f);
    }
    KaQueryFile q;
    if (q.open(in.c_str()) != 0)
        return 0;
    KaString text;
    (void)q.getQueryText(&text);
    for (size_t i = 0; i < q.sections.count; ++i) {
        auto* s = static_cast<SectionInfo*>(q.sections.at(i));
        KaString name;
        if (name.assign(s->name.data ? s->name.data : "", s->name.len) == 0)
            (void)q.getSection(name.data, &text);
    }
    KaArray params(4, KaArray::ownsElements | KaArray::ownsBuffer);
    (void)q.getParameters(&params);
    (void)q.getDescription(&text);
    if (q.writeTo(out.c_str()) == 0) {
        KaQueryFile again;
        if (again.open(out.c_str()) == 0)
            (void)again.getQueryText(&text);
    }
    return 0;
}
