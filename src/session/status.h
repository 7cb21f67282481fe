// Failures put into words: the one place every layer reports through. It needs nothing but the
// session record, so the image and command layers can report without knowing the driver.
#pragma once

#include "session/session.h"

namespace z18 {

// Prints the one line that describes a failure, naming what the session has in hand.
void reportStatus(Session& s, StatusCode code);

}  // namespace z18
