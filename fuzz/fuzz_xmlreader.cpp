// The XML reader over arbitrary document bytes: a parse either builds a tree
// whose every node and attribute is consistent (names present, lengths that
// match their terminated texts, parents that point back, positions inside
// the input) or fails with a diagnostic and leaves the root untouched.
#include <cstddef>
#include <cstdint>

#include "bulk/kaxml.h"
#include "fuzzfixture.h"

namespace {

uint64_t unitsOf(const uint16_t* s)
{
    uint64_t n = 0;
    while (s[n] != 0)
        ++n;
    return n;
}

void walk(const KaXmlNode* node, const KaXmlNode* parent, uint64_t size, uint32_t depth)
{
    kafuzz::check(depth < KA_XML_MAX_DEPTH, "tree deeper than the bound");
    kafuzz::check(node->parent == parent, "child does not point to its parent");
    kafuzz::check(node->name != nullptr && node->nameLength > 0 && unitsOf(node->name) == node->nameLength,
                  "element name and length disagree");
    kafuzz::check(node->prefix == nullptr || unitsOf(node->prefix) == node->prefixLength, "prefix length");
    kafuzz::check(node->text == nullptr || node->children.count == 0, "text mixed with children");
    kafuzz::check(node->position >= 0 && uint64_t(node->position) < size, "element position outside the input");
    uint64_t cursor = 0;
    for (KaXmlAttribute* a = node->firstAttribute(cursor); a != nullptr; a = node->nextAttribute(cursor)) {
        kafuzz::check(a->name != nullptr && unitsOf(a->name) == a->nameLength, "attribute name length");
        kafuzz::check(a->value != nullptr, "attribute without value");
        kafuzz::check(a->position > node->position && uint64_t(a->position) < size, "attribute position");
    }
    for (KaXmlNode* c = node->firstChild(cursor); c != nullptr; c = node->nextChild(cursor))
        walk(c, node, size, depth + 1);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    kafuzz::DiagnosticScope scope;
    KaXmlNode* root = nullptr;
    int32_t status = xmlParseBuffer(&root, reinterpret_cast<const char*>(data), size);
    if (status != 0) {
        kafuzz::check(root == nullptr, "failed parse changed the root");
        kafuzz::check(scope.list.count > 0, "failed parse posted nothing");
        return 0;
    }
    kafuzz::check(root != nullptr, "successful parse without a root");
    walk(root, nullptr, size, 0);
    xmlNodeFree(root);
    return 0;
}
