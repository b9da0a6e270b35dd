// Shared by the record-set tests: a cell of a written record set with the
// text it must read back as, a column with the name and schema type the
// document must give it, and the check of written documents with xmllint
// and Python's xml.etree (tests/bulk/readrecordset.py).
#pragma once
#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "support/sourceroot.h"

namespace katest {

inline std::string run(const std::string& command)
{
    std::string out;
    FILE* p = popen(command.c_str(), "r");
    if (p == nullptr)
        return "<popen failed>";
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, p)) > 0)
        out.append(buffer, n);
    int status = pclose(p);
    if (status != 0)
        out += "<exit " + std::to_string(status) + ">";
    return out;
}

inline std::string readFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

inline std::string jsonString(const std::string& s)
{
    std::string out = "\"";
    for (unsigned char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += char(c);
        } else if (c < 0x20) {
            char hex[8];
            snprintf(hex, sizeof hex, "\\u%04x", c);
            out += hex;
        } else {
            out += char(c);
        }
    }
    return out + "\"";
}

// One cell: the bytes the store holds and what the document must read as.
struct Cell {
    std::string bytes;
    bool null = false;
    char kind = 's';  // 's' text, 'f' number
    std::string expect;
};

template <typename T>
Cell fixed(T value, std::string expect, char kind = 's')
{
    Cell c;
    c.bytes.assign(reinterpret_cast<const char*>(&value), sizeof value);
    c.kind = kind;
    c.expect = std::move(expect);
    return c;
}
inline Cell textCell(std::string bytes, std::string expect)
{
    return Cell{std::move(bytes), false, 's', std::move(expect)};
}
inline Cell nullCell()
{
    return Cell{"", true, 's', ""};
}

struct ColumnSpec {
    std::u16string name;
    int32_t sqlType;
    uint32_t size;
    int32_t precision;
    int32_t scale;
    int32_t nullable;
    int32_t isUnsigned;
    std::string elementName;  // as the document names it
    std::string schemaType;   // type, or base|facet=value...
};

// "OK" when xmllint finds the documents well-formed and Python reads back
// the same columns and values; expected is a scratch file for the values.
inline std::string checkRecordSet(const std::string& data, const std::vector<ColumnSpec>& specs,
                                  const std::vector<std::vector<Cell>>& rows, const std::string& expected,
                                  const std::string& schema = "")
{
    std::string lint = run("xmllint --noout '" + data + "'" + (schema.empty() ? "" : " '" + schema + "'") + " 2>&1");
    if (!lint.empty())
        return "xmllint: " + lint;
    std::string json = "{\"columns\": [";
    for (size_t i = 0; i < specs.size(); ++i)
        json += std::string(i ? "," : "") + "[" + jsonString(specs[i].elementName) + "," +
                (specs[i].nullable ? "\"0\"" : "\"1\"") + "," + jsonString(specs[i].schemaType) + "]";
    json += "], \"records\": [";
    for (size_t r = 0; r < rows.size(); ++r) {
        json += r ? ",[" : "[";
        for (size_t c = 0; c < rows[r].size(); ++c) {
            const Cell& cell = rows[r][c];
            json += c ? "," : "";
            json += cell.null ? "null" : "[\"" + std::string(1, cell.kind) + "\"," + jsonString(cell.expect) + "]";
        }
        json += "]";
    }
    json += "]}";
    std::ofstream(expected) << json;
    std::string script = katest::sourceRoot() + "/tests/bulk/readrecordset.py";
    std::string out = run("/usr/bin/python3 '" + script + "' '" + data + "' '" + expected + "'" +
                          (schema.empty() ? "" : " '" + schema + "'") + " 2>&1");
    if (!out.empty() && out.back() == '\n')
        out.pop_back();
    return out;
}

}  // namespace katest
