// The driver's setup entry points, which the unixODBC installer library
// calls to add or change a data source: ConfigDSN (declared by <odbcinst.h>)
// and ConfigFileDSN. Reached by dlsym; the tests call them directly.
#pragma once
#include <odbcinst.h>

extern "C" {

BOOL ConfigFileDSN(HWND window, WORD request, LPCSTR driver, LPCSTR attributes, LPCSTR fileDsn);

}  // extern "C"
