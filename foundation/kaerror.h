// Diagnostics records and lists: every failure or warning is a KaError
// appended to the calling thread's current KaErrorList, kept in posting order
// and sorted once into the ODBC diagnostic order when the call leaves.
#pragma once
#include <cstddef>
#include <cstdint>
#include "foundation/kaarray.h"
#include "foundation/kalist.h"
#include "foundation/kaparamstring.h"
#include "kamessages.h"

struct UConverter;
class KaErrorList;
class KaThreadInfo;

// Native code of the static out-of-memory record.
constexpr uint16_t KA_OUT_OF_MEMORY_NATIVE = MSG_OUT_OF_MEMORY;
// SQLSTATE indexes reported for records posted without one.
constexpr uint16_t KA_SQLSTATE_INDEX_GENERAL = MSG_SQLSTATE_GENERAL_ERROR;
constexpr uint16_t KA_SQLSTATE_INDEX_OUT_OF_MEMORY = MSG_SQLSTATE_OUT_OF_MEMORY;
constexpr int KA_SQLSTATE_LEN = 5;

// An IANA code page number, kept apart from the small encoding selectors so
// that the two record constructors cannot be confused.
struct KaCodePage {
    int64_t number;
};

// The two static records (out of memory, parameter sink) are shared by every
// thread: every operation that would change one leaves it as it is, so
// change records through the setters below rather than their fields.
class KaError : public KaNode {
public:
    // flags
    static constexpr uint8_t WARNING = 0x1;
    static constexpr uint8_t STATIC_RECORD = 0x2;
    static constexpr uint8_t OUT_OF_MEMORY = 0x4;
    static constexpr uint8_t NO_PARAMS = 0x8;

    // Kinds of the static constructor.
    static constexpr int STATIC_OUT_OF_MEMORY = 1;
    static constexpr int STATIC_PARAM_SINK = 2;

    KaErrorList* ownerList = nullptr;
    uintptr_t userData = 0;
    uint16_t nativeCode = 0;
    uint16_t sqlstateMsg = 0;  // catalogue number of the SQLSTATE text; 0 none
    KaParamStringW message;
    int32_t encoding = KA_TEXT_UTF8;
    char sqlstateNarrow[KA_SQLSTATE_LEN + 1] = {};
    uint16_t sqlstateWide[KA_SQLSTATE_LEN + 1] = {};  // empty = not set
    int64_t row = -1;
    int64_t column = -1;
    int64_t thirdKey = INT64_MIN;
    uint8_t flags = 0;

    KaError(uint16_t native, const char* text, int32_t encoding, int warning, uint16_t sqlstateMsg,
            uintptr_t userData) noexcept;
    KaError(uint16_t native, const char* text, UConverter* converter, int warning, uint16_t sqlstateMsg,
            uintptr_t userData) noexcept;
    KaError(uint16_t native, const char* text, KaCodePage codePage, int warning, uint16_t sqlstateMsg,
            uintptr_t userData) noexcept;
    KaError(uint16_t native, const uint16_t* text, int warning, uint16_t sqlstateMsg, uintptr_t userData) noexcept;
    explicit KaError(int staticKind) noexcept;
    ~KaError() override;

    // Diagnostic order (negative when this record comes first).
    int16_t compare(const KaObject& other) const override;

    const uint16_t* messageW() noexcept;
    const char* messageA() noexcept;
    KaError* appendTextW(const uint16_t* text) noexcept;
    KaError* appendText(const char* text) noexcept;
    // Appends a catalogue template whose placeholders the next parameters
    // fill (the parameter numbering starts again at 1).
    KaError* appendTemplateW(const uint16_t* text) noexcept;

    KaError* addParamW(const uint16_t* text) noexcept;
    KaError* addParamText(const char* text) noexcept;
    KaError* addParamSubString(const KaSubString& text) noexcept;
    KaError* addParamSubStringW(const KaSubStringW& text) noexcept;
    KaError* addParamUnsigned(uint64_t value) noexcept;
    KaError* addParamSigned(int64_t value) noexcept;

    void setWarning() noexcept;
    void clearWarning() noexcept;
    // Narrows the SQLSTATE text set on the record into sqlstateNarrow.
    const char* sqlstateA() noexcept;

    // Fixed SQLSTATE text (five characters) and SQLSTATE message number;
    // static records ignore both, since every thread shares them.
    KaError* setSqlstate(const char* state) noexcept;
    KaError* setSqlstateW(const uint16_t* state) noexcept;
    KaError* setSqlstateMsg(uint16_t number) noexcept;
    KaError* setRowColumn(int64_t row, int64_t column) noexcept;

    // The effective SQLSTATE: the text set on the record, else the catalogue
    // text of its SQLSTATE message number, else HY001 / HY000.
    void effectiveSqlstate(uint16_t out[KA_SQLSTATE_LEN + 1]) const noexcept;

    bool isWarning() const noexcept { return (flags & WARNING) != 0; }
    bool isStatic() const noexcept { return (flags & STATIC_RECORD) != 0; }
    bool isOutOfMemory() const noexcept { return (flags & OUT_OF_MEMORY) != 0; }
    bool ignoresParams() const noexcept { return (flags & NO_PARAMS) != 0; }

private:
    KaError* substituted(int status) noexcept;
    KaError* addParamNarrow(const char* data, size_t len, int32_t encoding) noexcept;
    // The shared bodies of the narrow and wide twins.
    template <typename Unit>
    KaError* appendAny(const Unit* text) noexcept;
    template <typename Unit>
    KaError* setSqlstateAny(const Unit* state) noexcept;
};

class KaErrorList : public KaSortedArray {
public:
    int64_t errorCount = 0;
    int64_t warningCount = 0;
    void* ownerData = nullptr;
    KaErrorList* previousList = nullptr;
    void** threadSlot = nullptr;
    int64_t cursor = 0;
    uint8_t outOfMemoryMark = 0;

    static constexpr size_t INITIAL_SLOTS = 16;

    explicit KaErrorList(void* ownerData = nullptr) noexcept;
    ~KaErrorList() override;

    virtual KaError* outOfMemoryRecord() noexcept;
    virtual KaError* staticRecord() noexcept;
    virtual KaError* newRecord(uint16_t native, const char* text, int32_t encoding, int warning, uint16_t sqlstateMsg,
                               uintptr_t userData) noexcept;
    virtual KaError* newRecordCodePage(uint16_t native, const char* text, int64_t codePage, int warning,
                                       uint16_t sqlstateMsg, uintptr_t userData) noexcept;
    virtual KaError* newRecordConverter(uint16_t native, const char* text, UConverter* converter, int warning,
                                        uint16_t sqlstateMsg, uintptr_t userData) noexcept;
    virtual KaError* newRecordW(uint16_t native, const uint16_t* text, int warning, uint16_t sqlstateMsg,
                                uintptr_t userData) noexcept;

    // 0 on success; 1 when the slots cannot grow (the record is not kept and
    // the list carries the out-of-memory mark).
    [[nodiscard]] int add(KaError* record) noexcept;
    KaError* removeFirst() noexcept;
    KaError* removeLast() noexcept;
    KaError* removeAt(size_t index) noexcept;
    KaError* last() noexcept;
    void discardLast() noexcept;
    int state() const noexcept;
    bool hasErrors() const noexcept { return errorCount != 0; }
    bool hasOnlyWarnings() const noexcept { return warningCount != 0 && errorCount == 0; }
    size_t recordCount() const noexcept;
    KaError* first() noexcept;
    KaError* next() noexcept;
    KaError* at(size_t index) noexcept;
    void markWarningsFrom(size_t index) noexcept;
    // Records from index on become warnings, but for the shared static ones.
    void demoteFrom(size_t index) noexcept;
    void appendTextFrom(const char* text, size_t index) noexcept;
    void moveLastTo(size_t index) noexcept;
    void demoteAll() noexcept;
    [[nodiscard]] int copyFrom(KaErrorList& other) noexcept;
    [[nodiscard]] int moveAllFrom(KaErrorList& other) noexcept;
    [[nodiscard]] int joinMessages(KaString& text, char separator) noexcept;
    // Stable: records that compare equal keep their posting order.
    int16_t sort() noexcept;
    // Deletes every record and clears the counts and the mark.
    void clear() noexcept;

    // Sets the mark (once) and counts it as an error.
    void setOutOfMemoryMark() noexcept;
    // The stored record at index (null past the end); moves no cursor.
    KaError* recordAt(size_t index) const noexcept;

private:
    void clearOutOfMemoryMark() noexcept;
    KaError* takeOut(size_t index) noexcept;
};

// The two process-wide static records.
KaError* KaErrorOutOfMemoryRecord() noexcept;
KaError* KaErrorParamSink() noexcept;

// Thread-level operations on the calling thread's current list.
KaErrorList* KaErrorCurrentList() noexcept;
KaError* KaErrorPost(KaError* record) noexcept;
KaError* KaErrorPostNew(uint16_t native, uintptr_t userData, const char* text, int warning, int32_t encoding) noexcept;
KaError* KaErrorPostNewW(uint16_t native, uintptr_t userData, const uint16_t* text, int warning) noexcept;
void KaErrorPostOutOfMemory() noexcept;
KaError* KaErrorGetLast() noexcept;
uint16_t KaErrorGetLastNative() noexcept;
uintptr_t KaErrorGetLastUserData() noexcept;
void KaErrorSetLastWarning(int flag) noexcept;
KaError* KaErrorAppendText(const char* text) noexcept;
KaError* KaErrorAppendTextW(const uint16_t* text) noexcept;
void KaErrorDiscardLast() noexcept;
void KaErrorPushList(KaErrorList* list) noexcept;
void KaErrorPushListOn(KaErrorList* list, KaThreadInfo* thread) noexcept;
KaErrorList* KaErrorPopList() noexcept;
KaErrorList* KaErrorPopListFrom(KaThreadInfo* thread) noexcept;
void* KaErrorGetListOwner() noexcept;
