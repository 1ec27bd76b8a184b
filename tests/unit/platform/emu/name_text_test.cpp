// CertNameToStrA of the emulation against the documented Windows text of the alias fixtures.

#include <gtest/gtest.h>

#include "platform/api.h"
