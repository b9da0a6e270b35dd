// The element and attribute records of the XML reader: creation, the cursor
// walks over children and attributes, and release of a whole subtree.
#include <new>

#include "bulk/kaxml.h"
#include "foundation/ram.h"

namespace {

// A node holds as many children as the file gives it: the arrays double.
constexpr size_t kXmlArrayStep = 0;

void freeText(uint16_t*& text) noexcept
{
    if (text != nullptr)
        ramFreeBlock(text);
    text = nullptr;
}

}  // namespace

void KaXmlAttribute::destroy() noexcept
{
    freeText(prefix);
    freeText(name);
    freeText(value);
}

KaXmlNode* xmlNodeCreate(KaXmlNode* parent) noexcept
{
    void* block = ramAlloc(sizeof(KaXmlNode));
    if (block == nullptr)
        return nullptr;
    auto* node = new (block) KaXmlNode{};
    node->parent = parent;
    node->attributes.growStep = kXmlArrayStep;
    node->children.growStep = kXmlArrayStep;
    return node;
}

void xmlNodeFree(KaXmlNode* node) noexcept
{
    if (node == nullptr)
        return;
    node->destroy();
    node->~KaXmlNode();
    ramFree(node);
}

KaXmlNode* KaXmlNode::firstChild(uint64_t& cursor) const noexcept
{
    cursor = 0;
    return nextChild(cursor);
}

KaXmlNode* KaXmlNode::nextChild(uint64_t& cursor) const noexcept
{
    if (cursor >= children.count)
        return nullptr;
    return static_cast<KaXmlNode*>(children.at(cursor++));
}

KaXmlAttribute* KaXmlNode::firstAttribute(uint64_t& cursor) const noexcept
{
    cursor = 0;
    return nextAttribute(cursor);
}

KaXmlAttribute* KaXmlNode::nextAttribute(uint64_t& cursor) const noexcept
{
    if (cursor >= attributes.count)
        return nullptr;
    return static_cast<KaXmlAttribute*>(attributes.at(cursor++));
}

void KaXmlNode::destroy() noexcept
{
    for (size_t i = attributes.count; i > 0; --i) {
        auto* attribute = static_cast<KaXmlAttribute*>(attributes.at(i - 1));
        attribute->destroy();
        ramFree(attribute);
    }
    attributes.count = 0;
    for (size_t i = children.count; i > 0; --i)
        xmlNodeFree(static_cast<KaXmlNode*>(children.at(i - 1)));
    children.count = 0;
    freeText(prefix);
    freeText(name);
    freeText(text);
    prefixLength = nameLength = textLength = 0;
}
