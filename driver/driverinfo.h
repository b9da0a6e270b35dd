// The driver's information exports: its version and its maker, as fixed
// narrow texts that installers and support tools read by dlsym without a
// connection.
#pragma once

extern "C" {

const char* getFileVersionString();
const char* getCompanyNameString();

}  // extern "C"
