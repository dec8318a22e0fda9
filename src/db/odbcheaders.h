#pragma once
// The ODBC API's headers, for the files of the access layer that call it. Windows' headers of the API
// take the system's types from windows.h, which therefore comes first there.

#ifdef _WIN32
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <windows.h>
#endif

#include <sql.h>
#include <sqlext.h>
#include <sqlucode.h>
