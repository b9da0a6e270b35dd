// What a physical connection and its handle keep across connects and link
// failures: the encrypted credentials and connection string, the recorded
// settings and their replay, and the reconnect itself.
#include <sql.h>
#include <sqlext.h>

#include <cstring>

#include "foundation/fast.h"
#include "foundation/karandom.h"
#include "foundation/kaowner.h"
#include "foundation/kathread.h"
#include "foundation/ram.h"
#include "kamessages.h"
#include "odbc/baseconn.h"
#include "odbc/baseenv.h"
#include "odbc/basestmt.h"

namespace {

constexpr uint16_t kIdxOptionValueChanged = MSG_SQLSTATE_OPTION_VALUE_CHANGED;

int64_t unitCount(const uint16_t* text, int64_t length) noexcept
{
    if (length != SQL_NTS)
        return length;
    int64_t n = 0;
    if (text != nullptr)
        while (text[n] != 0)
            ++n;
    return n;
}

// A private copy of an owned value (UTF-16, length units), so that the
// replayed event does not point into the old connection's memory.
intptr_t copyOwnedValue(intptr_t value, int32_t length) noexcept
{
    const auto* text = reinterpret_cast<const uint16_t*>(value);
    size_t n = length > 0 ? static_cast<size_t>(length) : 0;
    auto* copy = static_cast<uint16_t*>(ramAlloc((n + 1) * 2));
    if (copy == nullptr)
        return 0;
    if (n > 0 && text != nullptr)
        std::memcpy(copy, text, n * 2);
    copy[n] = 0;
    return reinterpret_cast<intptr_t>(copy);
}

// Index of the connected marker in a list of recorded settings, or -1.
int64_t connectedMarker(KaDList& events) noexcept
{
    KaDNode* node = events.first();
    for (size_t i = 0; i < events.count && node != nullptr; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventConnected && e->code == 0)
            return static_cast<int64_t>(i);
    }
    return -1;
}

}  // namespace

BaseScopedKey::~BaseScopedKey()
{
    fastMemzero(key, sizeof key);
}

void baseDeriveKey(const uint8_t letters[kBaseKeyLetters], uint8_t key[KA_MEMBUF_KEY_SIZE]) noexcept
{
    for (size_t i = 0; i < KA_MEMBUF_KEY_SIZE; ++i) {
        auto byte = static_cast<uint8_t>(((letters[2 * i] & 0x0F) << 4) | (letters[2 * i + 1] & 0x0F));
        if (__builtin_popcount(byte & 0x7F) % 2 == 0)
            byte ^= 0x80;
        key[i] = byte;
    }
}

int16_t baseDrawKeyLetters(uint8_t letters[kBaseKeyLetters]) noexcept
{
    if (KaRandomLetters(reinterpret_cast<char*>(letters), kBaseKeyLetters) == 0)
        return 0;
    basePostError(kBaseIdxGeneralError);
    return 1;
}

bool baseListHasLinkFailure(KaErrorList* list) noexcept
{
    if (list == nullptr)
        return false;
    for (size_t i = 0; i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record != nullptr && record->sqlstateMsg == kBaseIdxLinkFailure)
            return true;
    }
    return false;
}

void baseMarkRequestUnsent(KaErrorList* list, size_t from, uint16_t sqlstateIndex) noexcept
{
    if (list == nullptr)
        return;
    for (size_t i = from; i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record != nullptr && record->sqlstateMsg == sqlstateIndex)
            record->flags |= kBaseErrorRequestUnsent;
    }
}

bool baseLinkFailureUnsent(KaErrorList* list) noexcept
{
    if (list == nullptr)
        return false;
    bool found = false;
    for (size_t i = 0; i < list->recordCount(); ++i) {
        KaError* record = list->recordAt(i);
        if (record == nullptr || record->sqlstateMsg != kBaseIdxLinkFailure)
            continue;
        if ((record->flags & kBaseErrorRequestUnsent) == 0)
            return false;
        found = true;
    }
    return found;
}

// ---- Credentials ------------------------------------------------------------

int16_t BaseConnection::setUserId(const uint16_t* textW, int64_t length) noexcept
{
    BaseScopedKey key(connectionKey);
    return userId.setEncrypted(textW, unitCount(textW, length), key.get()) == 0 ? 0 : 1;
}

int16_t BaseConnection::setPassword(const uint16_t* textW, int64_t length) noexcept
{
    BaseScopedKey key(connectionKey);
    return password.setEncrypted(textW, unitCount(textW, length), key.get()) == 0 ? 0 : 1;
}

int16_t BaseConnection::setUserIdCStr(const uint16_t* textW) noexcept
{
    return setUserId(textW, SQL_NTS);
}

int16_t BaseConnection::setPasswordCStr(const uint16_t* textW) noexcept
{
    return setPassword(textW, SQL_NTS);
}

int16_t BaseConnection::getUserId(KaMemoryBuffer& outHolder) noexcept
{
    BaseScopedKey key(connectionKey);
    return outHolder.decryptFrom(userId, key.get()) == 0 ? 0 : 1;
}

int16_t BaseConnection::getPassword(KaMemoryBuffer& outHolder) noexcept
{
    BaseScopedKey key(connectionKey);
    if (outHolder.decryptFrom(password, key.get()) != 0)
        return 1;
    // A password copied from a stored data source in its encoded form (from
    // the connection string or SQLConnect) is handed out decoded.
    static constexpr uint16_t kEncodedPrefix[] = {'@', '0', '1', '#', '$'};
    constexpr size_t prefixUnits = sizeof kEncodedPrefix / sizeof kEncodedPrefix[0];
    if (outHolder.length <= prefixUnits || std::memcmp(outHolder.data, kEncodedPrefix, sizeof kEncodedPrefix) != 0)
        return 0;
    const size_t bytes = (outHolder.length + 1) * sizeof(uint16_t);
    RamWipedPtr<uint16_t> copy(static_cast<uint16_t*>(ramAlloc(bytes)), bytes);
    if (!copy) {
        outHolder.clear();
        return 1;
    }
    std::memcpy(copy.get(), outHolder.data, bytes - sizeof(uint16_t));
    copy.get()[outHolder.length] = 0;
    int64_t decodedLength = 0;
    int16_t failed = decodeStoredOptionValue(copy.get(), &decodedLength);
    if (failed == 0) {
        KaMemoryBuffer decoded;
        if (decoded.setEncrypted(copy.get(), decodedLength, key.get()) != 0 ||
            outHolder.decryptFrom(decoded, key.get()) != 0)
            failed = 1;
    }
    copy.reset();
    // Neither the encoded text nor a part of it is handed out.
    if (failed != 0)
        outHolder.clear();
    return failed;
}

int16_t BaseConnection::rekey(KaMemoryBuffer& holder, const uint8_t* oldKey, const uint8_t* newKey) noexcept
{
    if (holder.length == 0)
        return 0;
    KaMemoryBuffer plain;
    if (plain.decryptFrom(holder, oldKey) != 0)
        return 1;
    // plain wipes its text when it goes.
    return holder.setEncrypted(plain.data, static_cast<int64_t>(plain.length), newKey) == 0 ? 0 : 1;
}

int16_t BaseConnection::drawConnectionKey() noexcept
{
    uint8_t letters[kBaseKeyLetters];
    if (baseDrawKeyLetters(letters) != 0)
        return 1;
    BaseScopedKey oldKey(connectionKey);
    BaseScopedKey newKey(letters);
    int16_t failed = rekey(userId, oldKey.get(), newKey.get());
    if (failed == 0)
        failed = rekey(password, oldKey.get(), newKey.get());
    if (failed == 0)
        std::memcpy(connectionKey, letters, sizeof letters);
    fastMemzero(letters, sizeof letters);
    return failed;
}

// ---- Recorded settings ------------------------------------------------------

BaseBufferedEvent::BaseBufferedEvent(int32_t k, int32_t c, intptr_t v, void* o, int32_t len, int32_t own) noexcept
    : kind(k), code(c), value(v), owner(o), length(len), owned(own)
{}

BaseBufferedEvent::~BaseBufferedEvent()
{
    if (owned != 0)
        ramFree(reinterpret_cast<void*>(value));
}

BaseBufferedEvent* BaseConnection::addBufferedEvent(int32_t kind, int32_t code, intptr_t value, int32_t length,
                                                    int32_t owned, void* owner) noexcept
{
    auto* event = new BaseBufferedEvent(kind, code, value, owner, length, owned);
    if (event == nullptr)
        return nullptr;
    events.addLast(event);
    return event;
}

void BaseConnection::removeBufferedEvents(void* owner) noexcept
{
    KaDNode* node = events.first();
    size_t count = events.count;
    for (size_t i = 0; i < count && node != nullptr; ++i) {
        KaDNode* next = i + 1 < count ? node->next : nullptr;
        if (static_cast<BaseBufferedEvent*>(node)->owner == owner) {
            events.remove(node);
            delete node;
        }
        node = next;
    }
}

void BaseConnection::removeListEvents(KaDList* list, void* owner) noexcept
{
    KaDNode* node = list->first();
    size_t count = list->count;
    for (size_t i = 0; i < count && node != nullptr; ++i) {
        KaDNode* next = i + 1 < count ? node->next : nullptr;
        if (static_cast<BaseBufferedEvent*>(node)->owner == owner) {
            list->remove(node);
            delete node;
        }
        node = next;
    }
}

void BaseConnection::forgetConnectAttr(int32_t attribute) noexcept
{
    if (failoverMode != 0)
        return;
    KaDNode* node = events.first();
    for (size_t i = 0; i < events.count && node != nullptr; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventConnectAttr && e->code == attribute) {
            events.remove(e);
            delete e;
            break;
        }
    }
}

void BaseConnection::recordConnectAttr(int32_t attribute, void* value, int32_t length) noexcept
{
    forgetConnectAttr(attribute);
    (void)addBufferedEvent(kBaseEventConnectAttr, attribute, reinterpret_cast<intptr_t>(value), length, 0, this);
}

int16_t BaseConnection::saveBufferedAttrs() noexcept
{
    if (handle == nullptr)
        return 0;
    KaDNode* node = events.first();
    for (size_t i = 0; i < events.count && node != nullptr; ++i, node = node->next) {
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind != kBaseEventConnectAttr)
            continue;
        auto* attr = new BaseBufferedAttr(e->code, e->value, e->length, e->owned);
        if (attr == nullptr)
            return 1;
        // The value now belongs to the buffered attribute.
        e->owned = 0;
        if (handle->putBufferedAttr(attr) != 0)
            return 1;
    }
    return 0;
}

void BaseConnection::applyBufferedAttrs() noexcept
{
    if (handle != nullptr)
        handle->applyBufferedAttrs(this);
}

void BaseConnection::applyBufferedEvents() noexcept
{
    applyBufferedAttrs();
    KaErrorList* list = KaErrorCurrentList();
    int32_t connected = isConnected() ? 1 : 0;
    KaDNode* node = events.first();
    size_t count = events.count;
    for (size_t i = 0; i < count && node != nullptr; ++i) {
        KaDNode* next = i + 1 < count ? node->next : nullptr;
        auto* e = static_cast<BaseBufferedEvent*>(node);
        if (e->kind == kBaseEventConnectAttr && attrAllowedNow(connected, e->code) != 0) {
            KaError* notice = basePostWarning(kIdxOptionValueChanged);
            if (applyConnectAttr(e->code, reinterpret_cast<void*>(e->value), e->length) != 0) {
                if (KaError* last = KaErrorGetLast(); last != nullptr)
                    last->setWarning();
                events.remove(e);
                delete e;
            } else if (list != nullptr && list->last() == notice) {
                list->discardLast();
            }
        }
        node = next;
    }
}

int16_t BaseConnection::replayEvents(KaDList* list, int64_t from, int64_t to) noexcept
{
    if (list == nullptr || from < -1 || to < -1)
        return 1;
    int16_t result = 0;
    KaDNode* node = list->first();
    size_t count = list->count;
    for (size_t i = 0; i < count && node != nullptr; ++i, node = node->next) {
        auto index = static_cast<int64_t>(i);
        if (from >= 0 && index < from)
            continue;
        if (to >= 0 && index > to)
            break;
        auto* e = static_cast<BaseBufferedEvent*>(node);
        intptr_t value = e->value;
        int32_t owned = 0;
        if (e->owned != 0) {
            value = copyOwnedValue(e->value, e->length);
            if (value == 0) {
                result = 1;
                continue;
            }
            owned = 1;
        }
        switch (e->kind) {
        case kBaseEventConnectAttr:
            if (applyConnectAttr(e->code, reinterpret_cast<void*>(value), e->length) != 0) {
                result = 1;
                break;
            }
            if (addBufferedEvent(e->kind, e->code, value, e->length, owned, this) == nullptr)
                result = 1;
            else
                owned = 0;
            break;
        case kBaseEventConnected:
            if (addBufferedEvent(e->kind, e->code, value, e->length, owned, this) == nullptr)
                result = 1;
            else
                owned = 0;
            break;
        case kBaseEventStmtState: {
            // The statement comes over at its allocation and is brought to
            // its prepared state; what it had executed is reported to it.
            auto* stmt = static_cast<BaseStatement*>(e->owner);
            const int32_t level = e->code - 1;
            if (stmt != nullptr && level >= 0 && level < kBaseReplayLevels &&
                stmt->moveToConnection(this, list, level) != 0)
                result = 1;
            break;
        }
        case kBaseEventStmtAttr: {
            // The statement took its settings along when it moved (they live
            // in it, not in the connection); the record follows it to the
            // new connection's list, ready for the next replay.
            auto* stmt = static_cast<BaseStatement*>(e->owner);
            if (stmt == nullptr || stmt->connection != this)
                break;
            if (addBufferedEvent(e->kind, e->code, value, e->length, owned, stmt) == nullptr)
                result = 1;
            else
                owned = 0;
            break;
        }
        default: result = 1; break;
        }
        if (owned != 0)
            ramFree(reinterpret_cast<void*>(value));
    }
    // The moved statements' records now live on this connection; the old
    // list keeps none of them, so none is replayed twice or outlives them.
    KaNode* node2 = statements.first();
    for (size_t i = 0; i < statements.count && node2 != nullptr; ++i, node2 = node2->next)
        if (list != &events)
            removeListEvents(list, node2);
    return result;
}

// ---- The handle -------------------------------------------------------------

int16_t BaseStubConnection::putBufferedAttr(BaseBufferedAttr* attr) noexcept
{
    for (size_t i = 0; i < bufferedAttrs.count; ++i) {
        if (static_cast<BaseBufferedAttr*>(bufferedAttrs.at(i))->attribute == attr->attribute) {
            bufferedAttrs.deleteAt(i);
            break;
        }
    }
    if (bufferedAttrs.append(attr) != 0) {
        delete attr;
        KaErrorPostOutOfMemory();
        return 1;
    }
    return 0;
}

void BaseStubConnection::applyBufferedAttrs(BaseConnection* connection) noexcept
{
    int32_t connected = connection->isConnected() ? 1 : 0;
    for (size_t i = 0; i < bufferedAttrs.count;) {
        auto* attr = static_cast<BaseBufferedAttr*>(bufferedAttrs.at(i));
        if (connection->attrAllowedNow(connected, attr->attribute) == 0) {
            ++i;
            continue;
        }
        int16_t applied =
            connection->applyConnectAttr(attr->attribute, reinterpret_cast<void*>(attr->value), attr->length);
        if (applied == 1) {
            // The connect goes on; the refusal stays as a warning and the
            // value is not offered to later connections.
            if (KaError* last = KaErrorGetLast(); last != nullptr)
                last->setWarning();
            basePostWarning(kIdxOptionValueChanged);
            bufferedAttrs.deleteAt(i);
            continue;
        }
        ++i;
    }
}

int16_t BaseStubConnection::decryptHandleValue(const KaMemoryBuffer& holder, KaMemoryBuffer& outHolder) noexcept
{
    BaseScopedKey key(handleKey);
    return outHolder.decryptFrom(holder, key.get()) == 0 ? 0 : 1;
}

int16_t BaseStubConnection::setEncryptedAttr(const uint16_t* textW, int64_t length) noexcept
{
    int64_t units = unitCount(textW, length);
    if (textW == nullptr || units <= 0) {
        attr1069Value.clear();
        return 0;
    }
    // The value is kept under the current handle letters; a later
    // connection string draws new ones and re-encrypts it.
    bool noLetters = true;
    for (uint8_t c : handleKey)
        noLetters = noLetters && c == 0;
    if (noLetters && baseDrawKeyLetters(handleKey) != 0)
        return -1;
    BaseScopedKey key(handleKey);
    return attr1069Value.setEncrypted(textW, units, key.get()) == 0 ? 0 : -1;
}

int16_t BaseStubConnection::storeConnectString(const uint16_t* textW) noexcept
{
    return storeConnectString(textW, SQL_NTS);
}

int16_t BaseStubConnection::storeConnectString(const KaStringW& text) noexcept
{
    return storeConnectString(text.data, static_cast<int64_t>(text.len));
}

int16_t BaseStubConnection::storeConnectString(const uint16_t* textW, int64_t length) noexcept
{
    uint8_t letters[kBaseKeyLetters];
    if (baseDrawKeyLetters(letters) != 0)
        return 1;
    int16_t failed = 0;
    {
        BaseScopedKey oldKey(handleKey);
        BaseScopedKey newKey(letters);
        // The encrypted attribute follows the handle letters.
        if (attr1069Value.length != 0) {
            KaMemoryBuffer plain;
            failed =
                plain.decryptFrom(attr1069Value, oldKey.get()) != 0 ||
                        attr1069Value.setEncrypted(plain.data, static_cast<int64_t>(plain.length), newKey.get()) != 0
                    ? 1
                    : 0;
        }
        if (failed == 0 && connectString.setEncrypted(textW, unitCount(textW, length), newKey.get()) != 0)
            failed = 1;
    }
    if (failed == 0)
        std::memcpy(handleKey, letters, sizeof letters);
    fastMemzero(letters, sizeof letters);
    return failed;
}

void BaseStubConnection::markOwner() noexcept
{
    __atomic_store_n(&ownerThread, threadCurrentId(), __ATOMIC_RELEASE);
    __atomic_store_n(&ownerThreadSet, 1u, __ATOMIC_RELEASE);
}

void BaseStubConnection::clearOwner() noexcept
{
    __atomic_store_n(&ownerThreadSet, 0u, __ATOMIC_RELEASE);
    __atomic_store_n(&ownerThread, kBaseNoOwnerThread, __ATOMIC_RELEASE);
}

bool BaseStubConnection::ownedByCaller() const noexcept
{
    // Only the owner thread itself sets and clears the mark, so a thread
    // that reads its own id here is the owner for the whole of its call.
    return __atomic_load_n(&ownerThreadSet, __ATOMIC_ACQUIRE) != 0 &&
           __atomic_load_n(&ownerThread, __ATOMIC_ACQUIRE) == threadCurrentId();
}

void BaseStubConnection::switchLockingOff() noexcept
{
    __atomic_store_n(&lockingSwitchedOff, 1, __ATOMIC_RELEASE);
}

bool BaseStubConnection::lockingOff() const noexcept
{
    return __atomic_load_n(&lockingSwitchedOff, __ATOMIC_ACQUIRE) != 0;
}

int16_t BaseStubConnection::replayBeforeConnect(BaseConnection* target, BaseConnection* old) noexcept
{
    target->applyBufferedAttrs();
    if (old == nullptr)
        return 0;
    return target->replayEvents(&old->events, 0, connectedMarker(old->events));
}

int16_t BaseStubConnection::replayAfterConnect(BaseConnection* target, BaseConnection* old) noexcept
{
    if (old == nullptr)
        return 0;
    int64_t marker = connectedMarker(old->events);
    if (marker < 0 || static_cast<size_t>(marker + 1) >= old->events.count)
        return 0;
    return target->replayEvents(&old->events, marker + 1, -1);
}

int16_t BaseStubConnection::reconnectNew(BaseConnection** out) noexcept
{
    *out = nullptr;
    BaseConnection* conn = nullptr;
    if (env == nullptr || env->newConnection(1, &conn) != 0 || conn == nullptr)
        return 1;
    *out = conn;
    BaseConnection* old = current;
    diagnostics.clear();
    addConnection(conn);
    conn->env = env;
    (void)replayBeforeConnect(conn, old);
    diagnostics.clear();

    KaMemoryBuffer plain;
    if (decryptHandleValue(connectString, plain) != 0 || plain.length > INT16_MAX)
        return 1;
    // The completed string holds the credentials.
    RamWipedPtr<uint16_t> output(static_cast<uint16_t*>(ramAlloc(kBaseReconnectOutUnits * 2)),
                                 kBaseReconnectOutUnits * 2);
    if (!output)
        return 1;
    int16_t outLength = 0;
    // The replayed connect's own calls come back into this handle.
    markOwner();
    int16_t rc = conn->driverConnect(nullptr, plain.data, static_cast<int16_t>(plain.length), output.get(),
                                     kBaseReconnectOutUnits, &outLength, SQL_DRIVER_NOPROMPT);
    clearOwner();
    return rc == SQL_ERROR ? 1 : 0;
}

void BaseStubConnection::postReconnectFailure(BaseConnection* old) noexcept
{
    diagnostics.ownerData = old;
    bool servers = old != nullptr && old->serverNameW != nullptr && old->serverNameW[0] != 0;
    KaError* record =
        diagnostics.postError(kBaseIdxLinkFailure, servers ? MSG_RECONNECT_FAILED_SERVERS : MSG_RECONNECT_FAILED);
    if (record == nullptr)
        return;
    if (servers)
        record->addParamW(old->serverNameW);
    record->setSqlstate("08S01");
}

int16_t BaseStubConnection::reconnect() noexcept
{
    reconnecting = 1;
    BaseConnection* old = current;
    BaseConnection* fresh = nullptr;
    if (old != nullptr && old->failoverPreconnect == 1 && standbyReady != 0 && connections.count >= 2) {
        fresh = static_cast<BaseConnection*>(connections.nodeAt(1));
        standbyReady = 0;
    } else {
        standbyReady = 0;
        if (reconnectNew(&fresh) != 0) {
            if (fresh != nullptr) {
                removeConnection(fresh);
                delete fresh;
            }
            postReconnectFailure(old);
            BaseStatement::settleMovedStatements(old, false);
            reconnecting = 0;
            return 1;
        }
    }
    current = fresh;
    int16_t rc = replayAfterConnect(fresh, old);
    BaseStatement::settleMovedStatements(fresh, true);
    reconnecting = 0;
    return rc;
}
