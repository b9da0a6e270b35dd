// The reader of bulk description files: a UTF-8 XML document becomes a tree
// of element nodes with their attributes and text. The bulk file reader reads
// a data file's column description with it.
#pragma once
#include <cstddef>
#include <cstdint>

#include "foundation/kaarray.h"

// Deepest element nesting a document may have; the parse recurses once per
// level, so a hostile file must not choose the stack depth.
constexpr uint32_t KA_XML_MAX_DEPTH = 256;
// Largest description file read; the file is read into memory whole.
constexpr uint64_t KA_XML_MAX_FILE_SIZE = 16u * 1024u * 1024u;

struct KaXmlAttribute {
    uint16_t* prefix;
    uint64_t prefixLength;
    uint16_t* name;
    uint64_t nameLength;
    uint16_t* value;
    uint64_t valueLength;
    int64_t position;

    void destroy() noexcept;
};

struct KaXmlNode {
    KaXmlNode* parent;
    uint16_t* name;
    uint64_t nameLength;
    uint16_t* prefix;
    uint64_t prefixLength;
    uint16_t* text;
    uint64_t textLength;
    KaArrayPVoid attributes;
    KaArrayPVoid children;
    int64_t position;

    KaXmlNode* firstChild(uint64_t& cursor) const noexcept;
    KaXmlNode* nextChild(uint64_t& cursor) const noexcept;
    KaXmlAttribute* firstAttribute(uint64_t& cursor) const noexcept;
    KaXmlAttribute* nextAttribute(uint64_t& cursor) const noexcept;
    void destroy() noexcept;
};

// A fresh node from ramAlloc, null after the out-of-memory diagnostic.
KaXmlNode* xmlNodeCreate(KaXmlNode* parent) noexcept;
// KaXmlNode::destroy and the release of the record; null is ignored.
void xmlNodeFree(KaXmlNode* node) noexcept;

// 0: *root holds the document element (the caller owns it); 1: a diagnostic
// was posted and *root is unchanged.
[[nodiscard]] int32_t xmlParseFile(KaXmlNode** root, const uint16_t* path) noexcept;
[[nodiscard]] int32_t xmlParseFileA(KaXmlNode** root, const char* path, uint64_t codePage) noexcept;
// The document in memory; xmlParseFile reads the file and calls this.
[[nodiscard]] int32_t xmlParseBuffer(KaXmlNode** root, const char* bytes, uint64_t length) noexcept;
