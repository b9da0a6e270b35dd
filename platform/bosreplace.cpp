// Replacing a file by rename(2), which either puts the new file in place or
// leaves the old one untouched.
#include "platform/bosreplace.h"

#include <cstdio>

#include "foundation/errpost.h"
#include "foundation/kaerror.h"
#include "kamessages.h"

int bosReplaceFile(const char* from, const char* to) noexcept
{
    if (from != nullptr && to != nullptr && rename(from, to) == 0)
        return 0;
    KaError* e = errPost(MSG_RENAME_FAILED);
    if (e)
        e->addParamText(from ? from : "")->addParamText(to ? to : "");
    return 1;
}
