// The stand-in's own side of the profiler (host/kbaselib.h) that the module
// never calls.
//
// Sections: evaluation depth.
// Form of the notes: [thread; ownership].
#pragma once

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] Evaluation depth
//-----------------------------------------------------------------------------

// Brings KProfiler::EvaluationDepth, which may be written directly, back
// within its property's range (through the property, so editors follow).
// [ui; -]
KHOST_API void KProfiler_KeepEvaluationDepthInRange();
