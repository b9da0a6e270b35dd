// Code-page tables and lookups, the application-code-page scanners and the
// UTF-16/UTF-8 encoders.
#include "foundation/codepage.h"

#include <algorithm>
#include <array>
#include <unicode/ucnv.h>
#include <unicode/uchar.h>
#include <unicode/ustring.h>
#include <unicode/utf16.h>
#include <unicode/utf8.h>

#include "foundation/ram.h"

namespace {

struct NumberName {
    int64_t number;
    const char* name;
};

struct NumberPair {
    int64_t key;
    int64_t value;
};

struct NameNumber {
    const char* name;
    int64_t number;
};

constexpr NumberName ianaCharsetTable[] = {
    {3, "ANSI_X3.4-1968"},
    {4, "ISO_8859-1:1987"},
    {5, "ISO_8859-2:1987"},
    {6, "ISO_8859-3:1988"},
    {7, "ISO_8859-4:1988"},
    {8, "ISO_8859-5:1988"},
    {9, "ISO_8859-6:1987"},
    {10, "ISO_8859-7:1987"},
    {11, "ISO_8859-8:1988"},
    {12, "ISO_8859-9"},
    {13, "ISO-8859-10"},
    {14, "ISO_6937-2-add"},
    {15, "JIS_X0201"},
    {16, "JIS_Encoding"},
    {17, "ibm-942_P120-2000"},
    {18, "Extended_UNIX_Code_Packed_Format_for_Japanese"},
    {19, "Extended_UNIX_Code_Fixed_Width_for_Japanese"},
    {20, "BS_4730"},
    {21, "SEN_850200_C"},
    {22, "IT"},
    {23, "ES"},
    {24, "DIN_66003"},
    {25, "NS_4551-1"},
    {26, "NF_Z_62-010"},
    {27, "ISO-10646-UTF-1"},
    {28, "ISO_646.basic:1983"},
    {29, "INVARIANT"},
    {30, "ISO_646.irv:1983"},
    {31, "NATS-SEFI"},
    {32, "NATS-SEFI-ADD"},
    {33, "NATS-DANO"},
    {34, "NATS-DANO-ADD"},
    {35, "SEN_850200_B"},
    {36, "ibm-1363_P11B-2000"},
    {37, "ISO-2022-KR"},
    {38, "EUC-KR"},
    {39, "ISO-2022-JP"},
    {40, "ISO-2022-JP-2"},
    {41, "JIS_C6220-1969-jp"},
    {42, "JIS_C6220-1969-ro"},
    {43, "PT"},
    {44, "greek7-old"},
    {45, "latin-greek"},
    {46, "NF_Z_62-010_(1973)"},
    {47, "Latin-greek-1"},
    {48, "ISO_5427"},
    {49, "JIS_C6226-1978"},
    {50, "BS_viewdata"},
    {51, "INIS"},
    {52, "INIS-8"},
    {53, "INIS-cyrillic"},
    {54, "ISO_5427:1981"},
    {55, "ISO_5428:1980"},
    {56, "GB_1988-80"},
    {57, "GB_2312-80"},
    {58, "NS_4551-2"},
    {59, "videotex-suppl"},
    {60, "PT2"},
    {61, "ES2"},
    {62, "MSZ_7795.3"},
    {63, "JIS_C6226-1983"},
    {64, "greek7"},
    {65, "ASMO_449"},
    {66, "iso-ir-90"},
    {67, "JIS_C6229-1984-a"},
    {68, "JIS_C6229-1984-b"},
    {69, "JIS_C6229-1984-b-add"},
    {70, "JIS_C6229-1984-hand"},
    {71, "JIS_C6229-1984-hand-add"},
    {72, "JIS_C6229-1984-kana"},
    {73, "ISO_2033-1983"},
    {74, "ANSI_X3.110-1983"},
    {75, "T.61-7bit"},
    {76, "T.61-8bit"},
    {77, "ECMA-cyrillic"},
    {78, "CSA_Z243.4-1985-1"},
    {79, "CSA_Z243.4-1985-2"},
    {80, "CSA_Z243.4-1985-gr"},
    {81, "ISO_8859-6-E"},
    {82, "ISO_8859-6-I"},
    {83, "T.101-G2"},
    {84, "ISO_8859-8-E"},
    {85, "ISO_8859-8-I"},
    {86, "CSN_369103"},
    {87, "JUS_I.B1.002"},
    {88, "IEC_P27-1"},
    {89, "JUS_I.B1.003-serb"},
    {90, "JUS_I.B1.003-mac"},
    {91, "greek-ccitt"},
    {92, "NC_NC00-10:81"},
    {93, "ISO_6937-2-25"},
    {94, "GOST_19768-74"},
    {95, "ISO_8859-supp"},
    {96, "ISO_10367-box"},
    {97, "latin-lap"},
    {98, "JIS_X0212-1990"},
    {99, "DS_2089"},
    {100, "us-dk"},
    {101, "dk-us"},
    {102, "KSC5636"},
    {103, "UNICODE-1-1-UTF-7"},
    {104, "ISO-2022-CN"},
    {105, "ISO-2022-CN-EXT"},
    {106, "UTF-8"},
    {109, "ISO-8859-13"},
    {110, "ISO-8859-14"},
    {111, "ISO-8859-15"},
    {112, "ISO-8859-16"},
    {113, "GBK"},
    {114, "GB18030"},
    {1000, "ISO-10646-UCS-2"},
    {1001, "ISO-10646-UCS-4"},
    {1002, "ISO-10646-UCS-Basic"},
    {1003, "ISO-10646-Unicode-Latin1"},
    {1004, "ISO-10646-J-1"},
    {1005, "ISO-Unicode-IBM-1261"},
    {1006, "ISO-Unicode-IBM-1268"},
    {1007, "ISO-Unicode-IBM-1276"},
    {1008, "ISO-Unicode-IBM-1264"},
    {1009, "ISO-Unicode-IBM-1265"},
    {1010, "UNICODE-1-1"},
    {1011, "SCSU"},
    {1012, "UTF-7"},
    {1013, "UTF-16BE"},
    {1014, "UTF-16LE"},
    {1015, "UTF-16LE"},
    {1016, "CESU-8"},
    {1017, "UTF-32"},
    {1018, "UTF-32BE"},
    {1019, "UTF-32LE"},
    {1020, "BOCU-1"},
    {2000, "ISO-8859-1-Windows-3.0-Latin-1"},
    {2001, "ISO-8859-1-Windows-3.1-Latin-1"},
    {2002, "ISO-8859-2-Windows-Latin-2"},
    {2003, "ISO-8859-9-Windows-Latin-5"},
    {2004, "hp-roman8"},
    {2005, "Adobe-Standard-Encoding"},
    {2006, "Ventura-US"},
    {2007, "Ventura-International"},
    {2008, "DEC-MCS"},
    {2009, "IBM850"},
    {2010, "IBM852"},
    {2011, "IBM437"},
    {2012, "PC8-Danish-Norwegian"},
    {2013, "IBM862"},
    {2014, "PC8-Turkish"},
    {2015, "IBM-Symbols"},
    {2016, "cp838"},
    {2017, "HP-Legal"},
    {2018, "HP-Pi-font"},
    {2019, "HP-Math8"},
    {2020, "Adobe-Symbol-Encoding"},
    {2021, "HP-DeskTop"},
    {2022, "Ventura-Math"},
    {2023, "Microsoft-Publishing"},
    {2024, "ibm-943_P15A-2003"},
    {2025, "GB2312"},
    {2026, "Big5"},
    {2027, "macintosh"},
    {2028, "IBM037"},
    {2029, "IBM038"},
    {2030, "IBM273"},
    {2031, "IBM274"},
    {2032, "IBM275"},
    {2033, "IBM277"},
    {2034, "IBM278"},
    {2035, "IBM280"},
    {2036, "IBM281"},
    {2037, "IBM284"},
    {2038, "IBM285"},
    {2039, "IBM290"},
    {2040, "IBM297"},
    {2041, "IBM420"},
    {2042, "IBM423"},
    {2043, "IBM424"},
    {2044, "IBM500"},
    {2045, "IBM851"},
    {2046, "IBM855"},
    {2047, "IBM857"},
    {2048, "IBM860"},
    {2049, "IBM861"},
    {2050, "IBM863"},
    {2051, "IBM864"},
    {2052, "IBM865"},
    {2053, "IBM868"},
    {2054, "IBM869"},
    {2055, "IBM870"},
    {2056, "IBM871"},
    {2057, "IBM880"},
    {2058, "IBM891"},
    {2059, "IBM903"},
    {2060, "IBM904"},
    {2061, "IBM905"},
    {2062, "IBM918"},
    {2063, "IBM1026"},
    {2064, "EBCDIC-AT-DE"},
    {2065, "EBCDIC-AT-DE-A"},
    {2066, "EBCDIC-CA-FR"},
    {2067, "EBCDIC-DK-NO"},
    {2068, "EBCDIC-DK-NO-A"},
    {2069, "EBCDIC-FI-SE"},
    {2070, "EBCDIC-FI-SE-A"},
    {2071, "EBCDIC-FR"},
    {2072, "EBCDIC-IT"},
    {2073, "EBCDIC-PT"},
    {2074, "EBCDIC-ES"},
    {2075, "EBCDIC-ES-A"},
    {2076, "EBCDIC-ES-S"},
    {2077, "EBCDIC-UK"},
    {2078, "EBCDIC-US"},
    {2079, "UNKNOWN-8BIT"},
    {2080, "MNEMONIC"},
    {2081, "MNEM"},
    {2082, "VISCII"},
    {2083, "VIQR"},
    {2084, "KOI8-R"},
    {2085, "HZ-GB-2312"},
    {2086, "IBM866"},
    {2087, "IBM775"},
    {2088, "KOI8-U"},
    {2089, "IBM00858"},
    {2090, "IBM00924"},
    {2091, "IBM01140"},
    {2092, "IBM01141"},
    {2093, "IBM01142"},
    {2094, "IBM01143"},
    {2095, "IBM01144"},
    {2096, "IBM01145"},
    {2097, "IBM01146"},
    {2098, "IBM01147"},
    {2099, "IBM01148"},
    {2100, "IBM01149"},
    {2101, "ibm-1375_P100-2007"},
    {2102, "IBM1047"},
    {2103, "PTCP154"},
    {2250, "windows-1250"},
    {2251, "windows-1251"},
    {2252, "windows-1252"},
    {2253, "windows-1253"},
    {2254, "windows-1254"},
    {2255, "windows-1255"},
    {2256, "windows-1256"},
    {2257, "windows-1257"},
    {2258, "windows-1258"},
    {2259, "TIS620"},
    {4971, "ibm-4971"},
    {2000000000, nullptr},
    {2000000001, "UNICONV_CID_DECKANJI"},
    {2000000002, "UNICONV_CID_EUCGB"},
    {2000000003, "UNICONV_CID_MACCYR"},
    {2000000004, "UNICONV_CID_MACEE"},
    {2000000005, "UNICONV_CID_MACGRK"},
    {2000000006, "UNICONV_CID_MACTURK"},
    {2000000007, "UNICONV_CID_GREEK8"},
    {2000000008, "UNICONV_CID_TURKISH8"},
    {2000000009, "UNICONV_CID_EUCKSC"},
    {2000000010, "UNICONV_CID_MACTHAI"},
    {2000000011, "UNICONV_CID_ROMAN9"},
    {2000000012, "UNICONV_CID_MACEURO"},
    {2000000036, "windows-949"},
    {2000000038, "windows-874-2000"},
    {2000000300, "ibm-16684"},
    {2000000737, "UNICONV_CID_CP737"},
    {2000000775, "UNICONV_CID_CP775"},
    {2000000833, "ibm-933_P110-1995"},
    {2000000834, "ibm-834"},
    {2000000835, "ibm-835"},
    {2000000837, "UNICONV_CID_CP837"},
    {2000000856, "ibm-856"},
    {2000000862, "IBM862"},
    {2000000874, "ibm-1161_P100-1999"},
    {2000000875, "ibm-875"},
    {2000000930, "ibm-930"},
    {2000000933, "ibm-933"},
    {2000000935, "ibm-935"},
    {2000000937, "ibm-937"},
    {2000000939, "ibm-939"},
    {2000000941, "ibm-941_P13A-2001"},
    {2000000943, "ibm-943_P14A-2000"},
    {2000000950, "ibm-1370_P100-1999"},
    {2000000954, "UNICONV_CID_CP954"},
    {2000001025, "ibm-1025"},
    {2000001027, "ibm-5123"},
    {2000001159, "ibm-1159"},
    {2000001250, "ibm-1250_P100-1995"},
    {2000001364, "ibm-1364"},
    {2000001386, "ibm-1386"},
    {2000001388, "ibm-1388"},
    {2000001399, "ibm-1399"},
    {2000002024, "windows-932-2000"},
    {2000004396, "ibm-16684"},
    {2000005026, "ibm-1390"},
    {2000005037, "solaris-eucJP-2_7"},
    {2000005038, "solaris-eucJP-2_8"},
    {2000005039, "td_ebcdic"},
    {2000005040, "td_ebcdic037_0e"},
    {2000005041, "td_ebcdic273_0e"},
    {2000005042, "td_ebcdic277_0e"},
    {2000005043, "td_hangulebcdic933_1ii"},
    {2000005044, "td_hangulksc5601_2r4"},
    {2000005045, "td_kanjiebcdic5026_0i"},
    {2000005046, "td_kanjiebcdic5035_0i"},
    {2000005047, "td_kanjieuc_0u"},
    {2000005048, "td_kanjisjis_0s"},
    {2000005049, "td_katakanaebcdic"},
    {2000005050, "td_latin1252_0a"},
    {2000005051, "td_latin1_0a"},
    {2000005052, "td_latin9_0a"},
    {2000005053, "td_schebcdic935_2ij"},
    {2000005054, "td_schgb2312_1t0"},
    {2000005055, "td_tchbig5_1r0"},
    {2000005056, "td_tchebcdic937_3ib"},
    {2000010001, "mysql_armscii8"},
    {2000010002, "mysql_big5"},
    {2000010003, "mysql_cp850"},
    {2000010004, "mysql_cp852"},
    {2000010005, "mysql_cp866"},
    {2000010006, "mysql_cp932"},
    {2000010007, "mysql_cp1250"},
    {2000010008, "mysql_cp1251"},
    {2000010009, "mysql_cp1256"},
    {2000010010, "mysql_cp1257"},
    {2000010011, "mysql_dec8"},
    {2000010012, "mysql_eucjpms"},
    {2000010013, "mysql_euckr"},
    {2000010014, "mysql_gb2312"},
    {2000010015, "mysql_gbk"},
    {2000010016, "mysql_geostd8"},
    {2000010017, "mysql_greek"},
    {2000010018, "mysql_hebrew"},
    {2000010019, "mysql_hp8"},
    {2000010020, "mysql_keybcs2"},
    {2000010021, "mysql_koi8r"},
    {2000010022, "mysql_koi8u"},
    {2000010023, "mysql_latin1"},
    {2000010024, "mysql_latin2"},
    {2000010025, "mysql_latin5"},
    {2000010026, "mysql_latin7"},
    {2000010027, "mysql_macce"},
    {2000010028, "mysql_macroman"},
    {2000010029, "mysql_sjis"},
    {2000010030, "mysql_swe7"},
    {2000010031, "mysql_tis620"},
    {2000010032, "mysql_ujis"},
    {2000013124, "ibm-13124_P100-1995"},
};

constexpr NumberName ianaPreferredNameTable[] = {
    {3, "us-ascii"},
    {4, "iso-8859-1"},
    {5, "iso-8859-2"},
    {6, "iso-8859-3"},
    {7, "iso-8859-4"},
    {8, "iso-8859-5"},
    {10, "iso-8859-7"},
    {11, "iso-8859-8"},
    {12, "iso-8859-9"},
    {17, "Shift_JIS"},
    {18, "euc-jp"},
    {37, "iso-2022-kr"},
    {38, "euc-kr"},
    {39, "iso-2022-jp"},
    {106, "UTF-8"},
    {109, "iso-8859-13"},
    {111, "iso-8859-15"},
    {113, "GBK"},
    {1013, "UTF-16BE"},
    {1014, "UTF-16LE"},
    {1017, "UTF-32"},
    {1018, "UTF-32BE"},
    {1019, "UTF-32LE"},
    {2009, "IBM850"},
    {2010, "IBM852"},
    {2011, "IBM437"},
    {2025, "gb2312"},
    {2026, "Big5"},
    {2027, "MACINTOSH"},
    {2028, "IBM037"},
    {2030, "IBM273"},
    {2033, "IBM277"},
    {2034, "IBM278"},
    {2035, "IBM280"},
    {2037, "IBM284"},
    {2038, "IBM285"},
    {2039, "IBM290"},
    {2040, "IBM297"},
    {2041, "IBM420"},
    {2043, "IBM424"},
    {2044, "IBM500"},
    {2046, "IBM855"},
    {2047, "IBM857"},
    {2048, "IBM860"},
    {2049, "IBM861"},
    {2050, "IBM863"},
    {2051, "IBM864"},
    {2052, "IBM865"},
    {2054, "IBM869"},
    {2055, "IBM870"},
    {2056, "IBM871"},
    {2063, "IBM1026"},
    {2084, "koi8-r"},
    {2085, "hz-gb-2312"},
    {2086, "IBM866"},
    {2087, "IBM775"},
    {2089, "IBM00858"},
    {2091, "IBM01140"},
    {2092, "IBM01141"},
    {2093, "IBM01142"},
    {2094, "IBM01143"},
    {2095, "IBM01144"},
    {2096, "IBM01145"},
    {2097, "IBM01146"},
    {2098, "IBM01147"},
    {2099, "IBM01148"},
    {2100, "IBM01149"},
    {2250, "windows-1250"},
    {2251, "windows-1251"},
    {2252, "windows-1252"},
    {2253, "windows-1253"},
    {2254, "windows-1254"},
    {2255, "windows-1255"},
    {2256, "windows-1256"},
    {2257, "windows-1257"},
    {2258, "windows-1258"},
    {2000000036, "KS_C_5601"},
    {2000000038, "windows-874"},
    {2000000862, "IBM862"},
    {2000000943, "IBM-943_P14A-2000"},
    {2000005026, "IBM-5026"},
};

constexpr NumberPair appCodePageTable[] = {
    {-1, 1015},   {0, 3},       {1, 4},       {2, 2009},    {3, 2011},    {4, 2004},    {5, 2027},    {6, 17},
    {7, 18},      {9, 2025},    {11, 2024},   {12, 5},      {13, 8},      {14, 9},      {15, 10},     {16, 11},
    {17, 12},     {18, 13},     {19, 6},      {20, 7},      {21, 111},    {32, 2084},   {33, 2259},   {34, 2026},
    {37, 2028},   {42, 109},    {43, 110},    {273, 2030},  {277, 2033},  {278, 2034},  {284, 2037},  {285, 2038},
    {290, 2039},  {297, 2040},  {420, 2041},  {424, 2043},  {500, 2044},  {852, 2010},  {855, 2046},  {857, 2047},
    {860, 2048},  {861, 2049},  {863, 2050},  {864, 2051},  {865, 2052},  {869, 2054},  {870, 2055},  {871, 2056},
    {874, 111},   {921, 109},   {923, 111},   {932, 17},    {936, 113},   {949, 36},    {950, 2026},  {954, 18},
    {1006, 2053}, {1026, 2063}, {1047, 2102}, {1140, 2091}, {1141, 2092}, {1142, 2093}, {1143, 2094}, {1144, 2095},
    {1145, 2096}, {1146, 2097}, {1147, 2098}, {1148, 2099}, {1149, 2100}, {1250, 2250}, {1251, 2251}, {1252, 2252},
    {1253, 2253}, {1254, 2254}, {1255, 2255}, {1256, 2256}, {1257, 2257}, {1258, 2258},
};

constexpr NumberPair windowsCodePageTable[] = {
    {37, 2028},   {437, 2011},   {500, 2044},  {708, 9},     {710, 9},     {775, 2087},   {850, 2009},
    {852, 2010},  {855, 2046},   {857, 2047},  {858, 2089},  {860, 2048},  {861, 2049},   {862, 2013},
    {863, 2050},  {864, 2051},   {865, 2052},  {866, 2086},  {869, 2054},  {870, 2055},   {874, 2000000038},
    {932, 2024},  {936, 113},    {949, 36},    {950, 2026},  {1026, 2063}, {1047, 2102},  {1140, 2091},
    {1141, 2092}, {1142, 2093},  {1143, 2094}, {1144, 2095}, {1145, 2096}, {1146, 2097},  {1147, 2098},
    {1148, 2099}, {1149, 2100},  {1200, 1014}, {1201, 1013}, {1250, 2250}, {1251, 2251},  {1252, 2252},
    {1253, 2253}, {1254, 2254},  {1255, 2255}, {1256, 2256}, {1257, 2257}, {1258, 2258},  {1361, 36},
    {20127, 3},   {20936, 2025}, {28591, 4},   {28592, 5},   {28593, 6},   {28594, 7},    {28595, 8},
    {28596, 9},   {28597, 10},   {28598, 11},  {28599, 12},  {28605, 111}, {38598, 11},   {50220, 39},
    {50221, 40},  {50225, 37},   {50227, 104}, {50229, 105}, {51932, 18},  {51936, 2025}, {51949, 38},
    {54936, 114}, {65000, 1012}, {65001, 106},
};

template <typename Row, size_t N, typename Key>
constexpr bool sortedByNumber(const Row (&rows)[N], Key key)
{
    for (size_t i = 1; i < N; ++i)
        if (!(key(rows[i - 1]) < key(rows[i])))
            return false;
    return true;
}
static_assert(sortedByNumber(ianaCharsetTable, [](const NumberName& r) { return r.number; }));
static_assert(sortedByNumber(ianaPreferredNameTable, [](const NumberName& r) { return r.number; }));
static_assert(sortedByNumber(appCodePageTable, [](const NumberPair& r) { return r.key; }));
static_assert(sortedByNumber(windowsCodePageTable, [](const NumberPair& r) { return r.key; }));
static_assert(std::size(ianaCharsetTable) == 345);
static_assert(std::size(ianaPreferredNameTable) == 81);
static_assert(std::size(appCodePageTable) == 78);
static_assert(std::size(windowsCodePageTable) == 73);

// Name order of the alias tables: bytes compared as signed values with ASCII
// letters folded to lower case; a table name that merely begins with the
// searched name sorts after it.
constexpr int compareCharsetName(const char* searched, const char* table)
{
    for (;; ++searched, ++table) {
        signed char a = static_cast<signed char>(*searched);
        signed char b = static_cast<signed char>(*table);
        if (a == 0)
            return 0 - b;
        if (a == b)
            continue;
        if (a >= 'A' && a <= 'Z')
            a = static_cast<signed char>(a + 32);
        if (b >= 'A' && b <= 'Z')
            b = static_cast<signed char>(b + 32);
        if (a != b)
            return a - b;
    }
}

// The first alias table: preferred names turned round, plus three aliases.
// "IBM862" is left to the second table so that it reads back as the
// registry's number.
constexpr size_t kPreferredAliasRows = std::size(ianaPreferredNameTable) - 1 + 3;

constexpr auto makePreferredAliases()
{
    std::array<NameNumber, kPreferredAliasRows> out{};
    size_t n = 0;
    for (const NumberName& r : ianaPreferredNameTable)
        if (r.number != 2000000862)
            out[n++] = {r.name, r.number};
    out[n++] = {"IBM-939", 2000000939};
    out[n++] = {"IBM-5035", 2000000939};
    out[n++] = {"IBM-4396", 2000004396};
    std::sort(out.begin(), out.end(),
              [](const NameNumber& a, const NameNumber& b) { return compareCharsetName(a.name, b.name) < 0; });
    return out;
}

constexpr bool excludedFromConverterAliases(int64_t number)
{
    return number == 1015 || number == 2000000862 || number == 2000000941 || number == 2000001025 ||
           number == 2000001388 || number == 2000004396;
}

constexpr size_t countConverterAliases()
{
    size_t n = 0;
    for (const NumberName& r : ianaCharsetTable)
        if (r.name != nullptr && !excludedFromConverterAliases(r.number))
            ++n;
    return n + 2 + 10;
}

constexpr size_t kConverterAliasRows = countConverterAliases();

constexpr auto makeConverterAliases()
{
    std::array<NameNumber, kConverterAliasRows> out{};
    size_t n = 0;
    for (const NumberName& r : ianaCharsetTable)
        if (r.name != nullptr && !excludedFromConverterAliases(r.number))
            out[n++] = {r.name, r.number};
    out[n++] = {"ibm-862", 2000000862};
    out[n++] = {"ibm-1025_P100-1995", 2000001025};
    constexpr const char* cpibm[] = {"cpibm1140", "cpibm1141", "cpibm1142", "cpibm1143", "cpibm1144",
                                     "cpibm1145", "cpibm1146", "cpibm1147", "cpibm1148", "cpibm1149"};
    for (int i = 0; i < 10; ++i)
        out[n++] = {cpibm[i], 2091 + i};
    std::sort(out.begin(), out.end(),
              [](const NameNumber& a, const NameNumber& b) { return compareCharsetName(a.name, b.name) < 0; });
    return out;
}

template <size_t N>
constexpr bool namesStrictlySorted(const std::array<NameNumber, N>& rows)
{
    for (size_t i = 1; i < N; ++i)
        if (compareCharsetName(rows[i - 1].name, rows[i].name) >= 0)
            return false;
    return true;
}

constexpr auto preferredAliasTable = makePreferredAliases();
constexpr auto converterAliasTable = makeConverterAliases();
// A name twice (in any case mixture) would make the lookup ambiguous.
static_assert(namesStrictlySorted(preferredAliasTable));
static_assert(namesStrictlySorted(converterAliasTable));

// Binary search of sorted rows; order(row) is negative when the key sorts
// before the row, positive after it, 0 on the row itself.
template <typename Row, typename Order>
const Row* findRow(const Row* rows, size_t n, Order order)
{
    size_t low = 0;
    size_t high = n;
    while (low < high) {
        size_t middle = low + (high - low) / 2;
        int c = order(rows[middle]);
        if (c < 0)
            high = middle;
        else if (c > 0)
            low = middle + 1;
        else
            return &rows[middle];
    }
    return nullptr;
}

int orderOf(int64_t key, int64_t rowKey)
{
    return key < rowKey ? -1 : key > rowKey ? 1 : 0;
}

template <size_t N>
const char* findName(const NumberName (&rows)[N], int64_t number)
{
    const NumberName* row = findRow(rows, N, [number](const NumberName& r) { return orderOf(number, r.number); });
    return row != nullptr ? row->name : nullptr;
}

template <size_t N>
int64_t findNumber(const NumberPair (&rows)[N], int64_t key)
{
    const NumberPair* row = findRow(rows, N, [key](const NumberPair& r) { return orderOf(key, r.key); });
    return row != nullptr ? row->value : kCodePageNotInTable;
}

template <size_t N>
int64_t findByName(const std::array<NameNumber, N>& rows, const char* name)
{
    const NameNumber* row =
        findRow(rows.data(), N, [name](const NameNumber& r) { return compareCharsetName(name, r.name); });
    return row != nullptr ? row->number : kCodePageNone;
}

}  // namespace

const char* ianaNameFromNumber(int64_t number) noexcept
{
    return findName(ianaCharsetTable, number);
}

const char* ianaPreferredName(int64_t number) noexcept
{
    const char* name = findName(ianaPreferredNameTable, number);
    return name != nullptr ? name : ianaNameFromNumber(number);
}

int64_t ianaNumberFromName(const char* name) noexcept
{
    if (name == nullptr)
        return kCodePageNone;
    int64_t number = findByName(preferredAliasTable, name);
    if (number == kCodePageNone)
        number = findByName(converterAliasTable, name);
    return number;
}

int64_t ianaFromAppCodePage(int64_t legacy) noexcept
{
    return findNumber(appCodePageTable, legacy);
}

int64_t ianaFromWindowsCodePage(int64_t number) noexcept
{
    return findNumber(windowsCodePageTable, number);
}

// --- Application code page in a connection string ---------------------------

namespace {

struct Scan {
    const uint16_t* text;
    size_t end;
    size_t i;
};

int32_t codePointAt(const Scan& s, size_t i, size_t* units)
{
    uint16_t u = s.text[i];
    if (U16_IS_LEAD(u) && i + 1 < s.end && U16_IS_TRAIL(s.text[i + 1])) {
        *units = 2;
        return U16_GET_SUPPLEMENTARY(u, s.text[i + 1]);
    }
    *units = 1;
    return u;
}

// 1 when the end was reached.
int skipWhite(Scan& s)
{
    while (s.i < s.end) {
        size_t units;
        if (!u_isWhitespace(codePointAt(s, s.i, &units)))
            return 0;
        s.i += units;
    }
    return 1;
}

int matchKeyword(const Scan& s, const char* keyword)
{
    size_t i = s.i;
    for (const char* k = keyword; *k != 0; ++k, ++i) {
        if (i >= s.end)
            return 0;
        uint16_t u = s.text[i];
        uint16_t upper = static_cast<uint16_t>(*k);
        uint16_t lower = static_cast<uint16_t>(upper >= 'A' && upper <= 'Z' ? upper + 32 : upper);
        if (u != upper && u != lower)
            return 0;
    }
    return 1;
}

bool isDigitUnit(uint16_t u)
{
    return u >= '0' && u <= '9';
}

// The value behind a keyword; 0 when there is none. A number too large for
// 64 bits is no value.
int parseValue(Scan& s, int64_t* value)
{
    if (skipWhite(s) || s.text[s.i] != '=')
        return 0;
    ++s.i;
    if (skipWhite(s))
        return 0;
    bool braced = false;
    if (s.text[s.i] == '{') {
        braced = true;
        ++s.i;
        if (skipWhite(s))
            return 0;
    }
    bool negative = false;
    if (s.text[s.i] == '-') {
        negative = true;
        ++s.i;
    }
    const uint64_t limit = negative ? uint64_t{1} << 63 : uint64_t{INT64_MAX};
    uint64_t magnitude = 0;
    bool overflow = false;
    while (s.i < s.end && isDigitUnit(s.text[s.i])) {
        uint64_t digit = s.text[s.i] - '0';
        if (magnitude > (limit - digit) / 10)
            overflow = true;
        else
            magnitude = magnitude * 10 + digit;
        ++s.i;
    }
    if (s.i < s.end) {
        uint16_t u = s.text[s.i];
        bool ends = u == ';' || U16_IS_LEAD(u) || (braced && u == '}');
        if (!ends && braced) {
            if (skipWhite(s) || s.text[s.i] != '}')
                return 0;
        }
    }
    if (overflow)
        return 0;
    *value = negative ? static_cast<int64_t>(0 - magnitude) : static_cast<int64_t>(magnitude);
    return 1;
}

void skipAttribute(Scan& s)
{
    while (s.i < s.end && s.text[s.i] != ';')
        ++s.i;
    if (s.i < s.end)
        ++s.i;
}

// 1 when the scan is to end (the end reached while skipping white space).
int captureDsn(Scan& s, uint16_t** dsnOut)
{
    if (skipWhite(s))
        return 1;
    if (s.text[s.i] != '=')
        return 0;
    ++s.i;
    if (skipWhite(s))
        return 1;
    size_t start = s.i;
    while (s.i < s.end && s.text[s.i] != ';')
        ++s.i;
    size_t units = s.i - start;
    if (units == 0)
        return 0;
    auto* copy = static_cast<uint16_t*>(ramAlloc((units + 1) * sizeof(uint16_t)));
    if (copy == nullptr)
        return 0;
    for (size_t k = 0; k < units; ++k)
        copy[k] = s.text[start + k];
    copy[units] = 0;
    *dsnOut = copy;
    return 0;
}

}  // namespace

int64_t scanAppCodePageW(const uint16_t* text, size_t length, uint16_t** dsnOut) noexcept
{
    int64_t result = kCodePageNotInTable;
    if (text == nullptr)
        return result;
    Scan s{text, length, 0};
    while (s.i < s.end) {
        if (U16_IS_LEAD(s.text[s.i])) {
            s.i += (s.i + 1 < s.end) ? 2 : 1;
            continue;
        }
        if (skipWhite(s))
            break;
        int64_t value = 0;
        if (matchKeyword(s, "IANAAPPCODEPAGE") || matchKeyword(s, "IACP")) {
            s.i += matchKeyword(s, "IANAAPPCODEPAGE") ? 15 : 4;
            if (parseValue(s, &value))
                return value;
            result = kCodePageNotInTable;
        } else if (matchKeyword(s, "APPCODEPAGE") || matchKeyword(s, "ACP")) {
            s.i += matchKeyword(s, "APPCODEPAGE") ? 11 : 3;
            result = parseValue(s, &value) ? ianaFromAppCodePage(value) : kCodePageNotInTable;
        } else if (dsnOut != nullptr && *dsnOut == nullptr && matchKeyword(s, "DSN")) {
            s.i += 3;
            if (captureDsn(s, dsnOut))
                break;
        }
        skipAttribute(s);
    }
    return result;
}

int64_t scanAppCodePage(const char* text, size_t length, char** dsnOut) noexcept
{
    if (text == nullptr || length > static_cast<size_t>(INT32_MAX / 2 - 1))
        return kCodePageNotInTable;
    UErrorCode status = U_ZERO_ERROR;
    UConverter* converter = ucnv_open(nullptr, &status);
    if (U_FAILURE(status))
        return kCodePageNotInTable;
    size_t units = 2 * length + 1;
    auto* wide = static_cast<uint16_t*>(ramAlloc(units * sizeof(uint16_t)));
    if (wide == nullptr) {
        ucnv_close(converter);
        return kCodePageNotInTable;
    }
    UChar* target = reinterpret_cast<UChar*>(wide);
    const char* source = text;
    ucnv_toUnicode(converter, &target, reinterpret_cast<UChar*>(wide) + units, &source, text + length, nullptr, true,
                   &status);
    int64_t result = kCodePageNotInTable;
    if (U_SUCCESS(status)) {
        uint16_t* dsn = nullptr;
        size_t wideLen = static_cast<size_t>(target - reinterpret_cast<UChar*>(wide));
        result = scanAppCodePageW(wide, wideLen, dsnOut != nullptr ? &dsn : nullptr);
        if (dsn != nullptr) {
            size_t dsnLen = u_strlen(reinterpret_cast<UChar*>(dsn));
            auto* narrow = static_cast<char*>(ramAlloc(dsnLen * 4 + 1));
            if (narrow != nullptr) {
                u_austrcpy(narrow, reinterpret_cast<UChar*>(dsn));
                *dsnOut = narrow;
            }
            ramFree(dsn);
        }
    }
    ramFree(wide);
    ucnv_close(converter);
    return result;
}

void ucnvFree(void* block) noexcept
{
    ramFree(block);
}

// --- UTF-16 <-> UTF-8 ---------------------------------------------------------

namespace {

// ICU's termination rule: a NUL when there is room, the not-terminated
// warning when the text fills the buffer exactly, overflow beyond it.
template <typename Unit>
void terminateOutput(Unit* dest, int32_t capacity, int32_t length, UErrorCode* status)
{
    if (U_FAILURE(*status))
        return;
    if (length < capacity)
        dest[length] = 0;
    if (length == capacity)
        *status = U_STRING_NOT_TERMINATED_WARNING;
    else if (length > capacity)
        *status = U_BUFFER_OVERFLOW_ERROR;
}

}  // namespace

char* ucnvUtf16ToUtf8(char** dest, int32_t capacity, int32_t* lengthOut, const uint16_t** src, int32_t srcLength,
                      UErrorCode* status) noexcept
{
    if (status == nullptr || U_FAILURE(*status))
        return nullptr;
    if (src == nullptr || *src == nullptr || srcLength < -1 || capacity < 0 ||
        (capacity > 0 && (dest == nullptr || *dest == nullptr))) {
        *status = U_ILLEGAL_ARGUMENT_ERROR;
        return nullptr;
    }
    const uint16_t* s = *src;
    char* out = capacity > 0 ? *dest : nullptr;
    int64_t written = 0;
    int64_t total = 0;
    int64_t taken = 0;  // units behind the last character written
    bool writing = true;
    int64_t i = 0;
    for (;;) {
        if (srcLength == -1 ? s[i] == 0 : i >= srcLength)
            break;
        uint32_t c = s[i];
        int64_t units = 1;
        if (U16_IS_LEAD(c)) {
            bool haveTrail = srcLength == -1 ? s[i + 1] != 0 : i + 1 < srcLength;
            if (!haveTrail || !U16_IS_TRAIL(s[i + 1])) {
                *status = U_INVALID_CHAR_FOUND;
                return nullptr;
            }
            c = U16_GET_SUPPLEMENTARY(c, s[i + 1]);
            units = 2;
        } else if (U16_IS_TRAIL(c)) {
            *status = U_INVALID_CHAR_FOUND;
            return nullptr;
        }
        int64_t bytes = c < 0x80 ? 1 : c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
        if (writing && written + bytes <= capacity) {
            char buf[4];
            int32_t k = 0;
            U8_APPEND_UNSAFE(reinterpret_cast<uint8_t*>(buf), k, c);
            for (int32_t b = 0; b < k; ++b)
                out[written + b] = buf[b];
            written += bytes;
            taken = i + units;
        } else {
            writing = false;
        }
        total += bytes;
        i += units;
        if (total > INT32_MAX) {
            *status = U_INDEX_OUTOFBOUNDS_ERROR;
            return nullptr;
        }
    }
    char* start = capacity > 0 ? *dest : (dest != nullptr ? *dest : nullptr);
    if (dest != nullptr && *dest != nullptr)
        *dest += written;
    *src = s + taken;
    if (lengthOut != nullptr)
        *lengthOut = static_cast<int32_t>(total);
    terminateOutput(start, capacity, static_cast<int32_t>(total), status);
    return start;
}

uint16_t* ucnvUtf8ToUtf16(uint16_t** dest, int32_t capacity, int32_t* lengthOut, const char** src, int32_t srcLength,
                          UErrorCode* status) noexcept
{
    if (status == nullptr || U_FAILURE(*status))
        return nullptr;
    if (src == nullptr || *src == nullptr || srcLength < -1 || capacity < 0 ||
        (capacity > 0 && (dest == nullptr || *dest == nullptr))) {
        *status = U_ILLEGAL_ARGUMENT_ERROR;
        return nullptr;
    }
    const auto* s = reinterpret_cast<const uint8_t*>(*src);
    uint16_t* out = capacity > 0 ? *dest : nullptr;
    int32_t written = 0;
    int64_t total = 0;
    int32_t taken = 0;
    bool writing = true;
    int32_t i = 0;
    for (;;) {
        if (srcLength == -1 ? s[i] == 0 : i >= srcLength)
            break;
        int32_t start = i;
        UChar32 c;
        if (s[i] < 0x80) {
            c = s[i++];
        } else {
            U8_NEXT(s, i, srcLength, c);
        }
        if (c < 0) {
            bool atEnd = srcLength == -1 ? s[i] == 0 : i >= srcLength;
            if (!atEnd) {
                *status = U_INVALID_CHAR_FOUND;
                return nullptr;
            }
            // A character cut short by the end of the input.
            if (writing)
                taken = start;
            if (dest != nullptr && *dest != nullptr)
                *dest += written;
            *src = reinterpret_cast<const char*>(s + taken);
            if (lengthOut != nullptr)
                *lengthOut = static_cast<int32_t>(total);
            *status = U_TRUNCATED_CHAR_FOUND;
            return capacity > 0 ? out : nullptr;
        }
        int32_t units = U16_LENGTH(c);
        if (writing) {
            if (written + units <= capacity) {
                if (units == 1) {
                    out[written] = static_cast<uint16_t>(c);
                } else {
                    out[written] = U16_LEAD(c);
                    out[written + 1] = U16_TRAIL(c);
                }
                written += units;
                taken = i;
            } else {
                if (units == 2 && written + 1 == capacity) {
                    // Room for the high surrogate only: it is written, the
                    // low one is counted.
                    out[written++] = U16_LEAD(c);
                    taken = i;
                }
                writing = false;
            }
        }
        total += units;
        if (total > INT32_MAX) {
            *status = U_INDEX_OUTOFBOUNDS_ERROR;
            return nullptr;
        }
    }
    uint16_t* startOut = capacity > 0 ? *dest : nullptr;
    if (dest != nullptr && *dest != nullptr)
        *dest += written;
    *src = reinterpret_cast<const char*>(s + taken);
    if (lengthOut != nullptr)
        *lengthOut = static_cast<int32_t>(total);
    terminateOutput(startOut, capacity, static_cast<int32_t>(total), status);
    return startOut;
}
