// An object that sorts by one integer, and a way to run a sort over such
// objects through their pointers, as sorted arrays and the sort engine do.
// Shared by the in-memory and the external sort tests.
#pragma once
#include <cstdint>
#include <vector>

#include "foundation/kaobject.h"

namespace katest {

struct SortItem : KaObject {
    int value = 0;
    int16_t compare(const KaObject& other) const override
    {
        int o = static_cast<const SortItem&>(other).value;
        return static_cast<int16_t>((value > o) - (value < o));
    }
};

// Sorts the values as pointers to objects with sortPointers(void** items,
// size_t n), which returns the sort's status into *rc; the values in the
// order the pointers ended in.
template <typename SortPointers>
std::vector<int> sortValuesAsObjects(const std::vector<int>& values, int* rc, SortPointers sortPointers)
{
    std::vector<SortItem> items(values.size());
    std::vector<void*> ptrs(values.size());
    for (size_t i = 0; i < values.size(); ++i) {
        items[i].value = values[i];
        ptrs[i] = &items[i];
    }
    *rc = sortPointers(ptrs.data(), ptrs.size());
    std::vector<int> out;
    for (void* p : ptrs)
        out.push_back(static_cast<SortItem*>(p)->value);
    return out;
}

}  // namespace katest
