// The one header that names the CryptoAPI: the real one on Windows, our emulation elsewhere.
#pragma once

#ifdef _WIN32
#include <windows.h>

#include <wincrypt.h>
#else
#include "platform/emu/win_api.h"
#endif
