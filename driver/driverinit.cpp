// What the driver library sets up while it loads: the upper layers fill in
// the registration points the lower ones declare, before the driver manager
// can call an entry point.
#include "bulk/xpstsource.h"
#include "bulk/bulkexport.h"
#include "hive/dummyenv.h"
#include "odbc/baseenv.h"
#include "odbc/basetunnel.h"
#include "platform/kafilebyline.h"
#include "security/bufxform.h"
#include "odbc/basestmt.h"
#include "transport/kacurltunnel.h"

namespace {

// The environments SQLAllocHandle makes are the Hive driver's.
[[maybe_unused]] const bool kEnvFactoryRegistered = (baseSetEnvFactory(hiveMakeEnv), true);
// Statement attribute 1053 writes through the persistence layer's writer.
[[maybe_unused]] const bool kXmlPersisterRegistered = (baseSetXmlPersister(xpstPersistStatement), true);

// Lines of encoded files (query files naming a line encoding) are
// unscrambled by the security layer.
[[maybe_unused]] const bool kLineDecoderRegistered = (kaFileByLineSetDecoder(cryptDecodeLine), true);
// The physical connection's proxy tunnel goes through libcurl.
[[maybe_unused]] const bool kTunnelClientRegistered = (baseSetTunnelClientMaker(kaCurlMakeTunnel), true);
// The bulk export and validation answer the exported bulk entry points.
[[maybe_unused]] const bool kBulkRegistered = (bulkRegisterOperations(), true);

}  // namespace
