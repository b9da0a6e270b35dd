// The driver's information exports: its version and its maker, as fixed
// narrow texts that installers and support tools read without a connection.
#include "driver/driverinfo.h"

#include "kadrivername.h"

extern "C" {

__attribute__((visibility("default"))) const char* getFileVersionString()
{
    return KA_DRIVER_VERSION;
}

__attribute__((visibility("default"))) const char* getCompanyNameString()
{
    return "Mirrowen";
}

}  // extern "C"
