// Per-thread bookkeeping shared by the stand-in's resource kinds: live counts and injected faults.
#pragma once

#include "standin.h"

namespace standin::detail {

// True when an injected failure is due for this request; consumes the countdown.
bool ShouldFail(Resource kind);
void Created(Resource kind);
void Released(Resource kind);

}  // namespace standin::detail
