#pragma once

#include "pelmar/live/AMFArray.h"    // IWYU pragma: export
#include "pelmar/live/AMFBoolean.h"  // IWYU pragma: export
#include "pelmar/live/AMFNull.h"     // IWYU pragma: export
#include "pelmar/live/AMFNumber.h"   // IWYU pragma: export
#include "pelmar/live/AMFObject.h"   // IWYU pragma: export
#include "pelmar/live/AMFString.h"   // IWYU pragma: export
#include "pelmar/live/AMFValue.h"    // IWYU pragma: export

// The whole AMF0 value model in one include: AMFValue and its number, boolean, string, object,
// null and ECMA array classes.
