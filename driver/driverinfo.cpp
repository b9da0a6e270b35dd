// The driver's information exports: its version and its maker, as fixed
// narrow texts that installers and support tools read without a connection.
#include "driver/driverinfo.h"

extern "C" {

__attribute__((visibility("default"))) const char* getFileVersionString()
{
    return "08.01.0427 (B0547, U0390)";
}

__attribute__((visibility("default"))) const char* getCompanyNameString()
{
    return "Mirrowen";
}

}  // extern "C"
