// The stand-in's own side of the profiler, which the module never calls:
// recording samples, sizing the averaging windows, building the tree of
// samplings, filling the profiler's root cycle table and the per-frame
// bookkeeping of the profiler's own cost. The module reads what these
// record through KProfilingSampling and KProfiler (host/kbaselib.h).
//
// Sections: root cycle slots; recording samples; sampling trees; the
// profiler.
// Form of the notes: [thread; ownership].
#pragma once

#include "host/kbaselib.h"

//-----------------------------------------------------------------------------
// [SECTION] Root cycle slots
//-----------------------------------------------------------------------------

// The slots of the profiler's root cycle table (KProfiler::RootCycles). The
// chart's upper block shows Frame and Present against Frame; its lower block
// lists Devices, Input, Animation, Evaluation, Deformation, Upload,
// Rendering, ToolPaint and SceneUpdate. Slot 7 stays empty.
enum kRootCycleSlot : int {
  kSlotDevices = 0,      // the whole frame period
  kSlotFrame = 1,        // the CPU work of a frame
  kSlotPresent = 2,      // presenting the frame
  kSlotSceneUpdate = 3,  // updating the scene
  kSlotInput = 4,        // handling input
  kSlotAnimation = 5,
  kSlotEvaluation = 6,  // evaluating the scene (children per evaluated object)
  kSlotDeformation = 8,
  kSlotUpload = 9,
  kSlotRendering = 10,  // culling and submission
  kSlotToolPaint = 11,  // painting the tool windows
};

//-----------------------------------------------------------------------------
// [SECTION] Recording samples
//-----------------------------------------------------------------------------

// Recording costs O(1) whatever the window size (amortised for minimum and
// maximum), and these may run on any thread: a sample is not recorded while
// a reader holds QueryAcquire, so the statistics read between QueryAcquire
// and QueryRelease come from one moment.

// While profiling is off (KProfiler::ProfilingType 0) a sampling keeps the
// samples it holds, and so its statistics, until profiling is on again;
// only a sampling that holds none yet takes one, so that what it shows is a
// measurement, never the zero of an empty window.

// Records a duration; negative and NaN values count as 0. [any; -]
KHOST_API void KProfilingSampling_AddSample(KProfilingSampling& sampling, double microseconds);
// Clamped to 1..100000; keeps the newest samples that fit. [any; -]
KHOST_API void KProfilingSampling_SetBufferSize(KProfilingSampling& sampling, int size);
KHOST_API int KProfilingSampling_GetBufferSize(const KProfilingSampling& sampling);  // [any; -]
// Samples in the window. [any; -]
KHOST_API int KProfilingSampling_GetSampleCount(const KProfilingSampling& sampling);
// Forgets all samples. [any; -]
KHOST_API void KProfilingSampling_Reset(KProfilingSampling& sampling);

//-----------------------------------------------------------------------------
// [SECTION] Sampling trees
//-----------------------------------------------------------------------------

// Children are for the user-interface thread; change them only while nothing
// draws. AddChild borrows `child` and ignores null, a child already in that
// category, a category outside 0..31, and a child that is `parent` or lies
// above it (which would make the tree endless). A destroyed sampling leaves
// its parents' child lists and the profiler's root table by itself.
// [ui; keeps child]
KHOST_API void KProfilingSampling_AddChild(KProfilingSampling& parent, int category,
                                           KProfilingSampling* child);
// False when `child` is not in that category. [ui; -]
KHOST_API bool KProfilingSampling_RemoveChild(KProfilingSampling& parent, int category,
                                              KProfilingSampling* child);
KHOST_API void KProfilingSampling_ClearChildren(KProfilingSampling& parent,
                                                int category);  // [ui; -]
// One past the highest category that ever held a child. [ui; -]
KHOST_API int KProfilingSampling_GetCategoryCount(const KProfilingSampling& sampling);

//-----------------------------------------------------------------------------
// [SECTION] The profiler
//-----------------------------------------------------------------------------

// Puts `sampling` (borrowed; null empties the slot) in slot `slot` of the
// root cycle table and gives its tree the current buffer size. Out-of-range
// slots are ignored. [ui; keeps sampling]
KHOST_API void KProfiler_SetRootCycle(KProfiler& profiler, int slot, KProfilingSampling* sampling);
// Gives every sampling of the root tree and ProfilingCost the buffer size
// (KProfiler::BufferSize, clamped to 1..100000). Writing BufferSize does
// this by itself. [ui; -]
KHOST_API void KProfiler_ApplyBufferSize(KProfiler& profiler);
// Per-frame bookkeeping: EndFrame records into ProfilingCost the time given
// to AddCost since BeginFrame. AddCost may run on any thread.
KHOST_API void KProfiler_BeginFrame(KProfiler& profiler);                    // [ui; -]
KHOST_API void KProfiler_AddCost(KProfiler& profiler, double microseconds);  // [any; -]
KHOST_API void KProfiler_EndFrame(KProfiler& profiler);                      // [ui; -]
