// The boolean-word test and the growing scratch buffer.
#include "foundation/butmisc.h"

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "foundation/ram.h"
#include "kamessages.h"

int butIsTrue(const char* text) noexcept
{
    if (text == nullptr)
        return 0;
    char c = text[0];
    if (c == '1' || c == 'T' || c == 't')
        return 1;
    return (c == 'O' || c == 'o') && (text[1] == 'N' || text[1] == 'n') ? 1 : 0;
}

int butGrowBuffer(char** buffer, char** cursor, uint16_t* size, size_t n) noexcept
{
    size_t step = n / BUT_GROW_STEP * BUT_GROW_STEP + BUT_GROW_STEP;
    if (*buffer == nullptr) {
        if (step > BUT_GROW_LIMIT) {
            errPost(MSG_SCRATCH_BUFFER_LIMIT)->addParamUnsigned(BUT_GROW_LIMIT);
            return 1;
        }
        char* made = static_cast<char*>(ramAlloc(step));
        if (made == nullptr)
            return 1;
        *buffer = made;
        *cursor = made;
        *size = uint16_t(step);
        return 0;
    }
    size_t used = size_t(*cursor - *buffer);
    if (*size >= used && *size - used >= n)
        return 0;
    size_t grown = size_t(*size) + step;
    if (grown > BUT_GROW_LIMIT) {
        errPost(MSG_SCRATCH_BUFFER_LIMIT)->addParamUnsigned(BUT_GROW_LIMIT);
        return 1;
    }
    void* block = *buffer;
    if (ramRealloc(&block, grown) != 0)
        return 1;
    *buffer = static_cast<char*>(block);
    *cursor = *buffer + used;
    *size = uint16_t(grown);
    return 0;
}
