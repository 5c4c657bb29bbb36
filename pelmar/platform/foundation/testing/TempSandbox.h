#pragma once

// The sandbox helper moved to the shared test support; this path stays for the tests that still
// include it.
#include "testing/TempSandbox.h"
