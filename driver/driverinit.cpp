// What the driver library sets up while it loads: the upper layers fill in
// the registration points the lower ones declare, before the driver manager
// can call an entry point.
#include "bulk/bulkexport.h"
#include "hive/dummyenv.h"
#include "odbc/baseenv.h"

namespace {

// The environments SQLAllocHandle makes are the Hive driver's.
[[maybe_unused]] const bool kEnvFactoryRegistered = (baseSetEnvFactory(hiveMakeEnv), true);
// The bulk export and validation answer the exported bulk entry points.
[[maybe_unused]] const bool kBulkRegistered = (bulkRegisterOperations(), true);

}  // namespace
