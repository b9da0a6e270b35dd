// The mapping of operating-system errors to diagnostics.
#include "platform/bos.h"

#include <cerrno>
#include <cstring>
#include <string>

#include <gtest/gtest.h>

#include "bostest.h"
#include "kamessages.h"

namespace {

// Error texts come from the catalogue the fixture opens.
using CatalogueTest = katest::BosTest;

// --- Errors --------------------------------------------------------------------

struct MappedError {
    int error;
    uint16_t message;
    bool namesObject;
};

TEST_F(CatalogueTest, ErrorNumbersMapToTheirDiagnostics)
{
    const MappedError table[] = {
        {EPERM, MSG_OPERATION_NOT_PERMITTED, true},
        {ENOENT, MSG_FILE_NOT_FOUND, true},
        {EBADF, MSG_BAD_FILE_DESCRIPTOR, false},
        {EAGAIN, MSG_RESOURCE_TEMPORARILY_UNAVAILABLE, false},
        {ENOMEM, MSG_SYSTEM_OUT_OF_MEMORY, false},
        {EACCES, MSG_FILE_ACCESS_DENIED, true},
        {EEXIST, MSG_FILE_EXISTS, true},
        {EMFILE, MSG_TOO_MANY_OPEN_FILES, false},
        {ENOSPC, MSG_DISK_FULL, true},
        {EROFS, MSG_READ_ONLY_FILE_SYSTEM, true},
        {EDEADLK, MSG_FILE_LOCK_DEADLOCK, true},
        {ENOLCK, MSG_NO_LOCKS_AVAILABLE, false},
    };
    for (const MappedError& m : table) {
        errors.list.clear();
        bosMapError(m.error, "/the/object");
        ASSERT_EQ(1u, errors.size()) << m.error;
        EXPECT_EQ(m.message, errors.native(0)) << m.error;
        EXPECT_EQ(m.namesObject, errors.text(0).find("/the/object") != std::string::npos) << m.error;
    }

    // Others: the number, then the system's text and the object.
    errors.list.clear();
    bosMapError(ENOTTY, "/dev/x");
    ASSERT_EQ(1u, errors.size());
    EXPECT_EQ(MSG_SYSTEM_ERROR, errors.native(0));
    EXPECT_EQ("Operating system error " + std::to_string(ENOTTY) + ". " + strerror(ENOTTY) + " (object: /dev/x)",
              errors.text(0));

    errors.list.clear();
    bosMapError(EIO, nullptr);
    EXPECT_EQ("Operating system error " + std::to_string(EIO) + ".", errors.text(0));

    // The object's name is text, never a format.
    errors.list.clear();
    bosMapError(ENOTTY, "%s%n%s%d");
    ASSERT_EQ(1u, errors.size());
    EXPECT_NE(std::string::npos, errors.text(0).find("(object: %s%n%s%d)"));
}

}  // namespace
