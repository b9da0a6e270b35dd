// The names of the driver's live temporary files. Every scratch file of the
// temporary-file classes is created here (through bosfopen's private
// temporary-file route: mkostemp, mode 0600), listed until it is deleted,
// and deleted at normal process exit when its owner is still alive then.
// Used by KaTmpFile, BlkTmpFile and the temporary-file sinks and sources.
#pragma once
#include <cstdint>

#include "platform/bos.h"

// A name buffer that an owner keeps for as long as its file exists; path is
// empty until the file is created and again after it is deleted.
struct KaTmpName {
    char path[BOS_PATH_SIZE + 1];
    KaTmpName* prev;
    KaTmpName* next;
    bool listed;
};

void bosTmpNameInit(KaTmpName* name) noexcept;
// A fresh private file, opened read-write; its name goes to name->path and
// is listed. Posts on failure (name stays empty).
[[nodiscard]] int bosTmpCreate(KaTmpName* name, int32_t* fd) noexcept;
// Reopens the listed file by its name, read-write. Posts on failure.
[[nodiscard]] int bosTmpReopen(const KaTmpName* name, int32_t* fd) noexcept;
// Deletes the file by name (nothing when the name is empty), takes it off
// the list and empties the name. The descriptor is the caller's to close.
void bosTmpDelete(KaTmpName* name) noexcept;
// The scratch file of an owner that keeps its name block at *name (null
// until the first use): creates the file and the block on first use, reopens
// the file by name when *fd was closed (0). Posts on failure, leaving *name
// null when nothing was created.
[[nodiscard]] int bosTmpOpen(KaTmpName** name, int32_t* fd) noexcept;
// Closes *fd, deletes the owner's scratch file and frees its name block;
// nothing when *name is null.
void bosTmpDiscard(KaTmpName** name, int32_t* fd) noexcept;
// Number of listed files; for tests.
uint64_t bosTmpCount() noexcept;
