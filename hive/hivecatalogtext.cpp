// Builders of the metadata statements of the Hive catalog listing.
#include "hive/hivecatalogtext.h"

#include "catalog/catalognames.h"

namespace {

constexpr int32_t kNts = -3;

// Appends to a bounded UTF-16 buffer, counting what does not fit.
struct TextOut {
    uint16_t* out;
    int32_t room;
    int32_t used = 0;

    uint16_t* tail() const noexcept { return out != nullptr && used < room ? out + used : nullptr; }
    int32_t left() const noexcept { return out != nullptr && used < room ? room - used : 0; }
    void ascii(const char* s) noexcept
    {
        for (; *s != 0; ++s) {
            if (out != nullptr && used < room - 1)
                out[used] = static_cast<uint8_t>(*s);
            ++used;
        }
    }
    void identifier(const uint16_t* name) noexcept { used += catalogQuoteIdentifier(name, kNts, tail(), left()); }
    int32_t finish() noexcept
    {
        if (out != nullptr && room > 0)
            out[used < room ? used : room - 1] = 0;
        return used;
    }
};

}  // namespace

int32_t hiveShowTablesText(const uint16_t* database, uint16_t* out, int32_t room) noexcept
{
    TextOut t{out, room};
    t.ascii("SHOW TABLES IN ");
    t.identifier(database);
    return t.finish();
}

int32_t hiveDescribeText(const uint16_t* database, const uint16_t* table, bool formatted, bool temporary,
                         bool globalTemporary, bool qualify, uint16_t* out, int32_t room) noexcept
{
    TextOut t{out, room};
    t.ascii(formatted && !temporary ? "DESCRIBE FORMATTED " : "DESCRIBE ");
    if (database != nullptr && (globalTemporary || (!temporary && qualify))) {
        t.identifier(database);
        t.ascii(".");
    }
    t.identifier(table);
    return t.finish();
}
