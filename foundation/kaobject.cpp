// Root object: allocation through the ram* wrappers.
#include "foundation/kaobject.h"

#include "foundation/ram.h"

KaObject::~KaObject() = default;

int16_t KaObject::compare(const KaObject&) const
{
    return 0;
}

void* KaObject::operator new(size_t size) noexcept
{
    return ramAlloc(size);
}

void* KaObject::operator new[](size_t size) noexcept
{
    return ramAlloc(size);
}

void KaObject::operator delete(void* block) noexcept
{
    ramFree(block);
}

void KaObject::operator delete[](void* block) noexcept
{
    ramFree(block);
}
