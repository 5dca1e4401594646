// Transport error codes in the Windows numbering the engine's trace texts
// use, and their texts.
#pragma once

#include <curl/curl.h>

// "Error" for a code not in the table.
const char* GetInternetErrorText(long code);

// The nearest Windows transport error for a libcurl result (0 for CURLE_OK).
long CurlToInternetError(CURLcode code);
