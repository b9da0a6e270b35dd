// The HiveServer2 driver's information table, which the framework searches
// before its own; HiveConnection hands it over when it is made, and answers
// the entries left to it from what its open learned and its options chose
// (hiveinfo.cpp).
#pragma once
#include "odbc/baseinfo.h"

extern const BaseInfoTable kHiveInfoTable;
