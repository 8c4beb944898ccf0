#include "khost/frame/measured_frame.h"

namespace khost {

namespace {

struct SlotNaming {
  int Slot;
  const char* Name;
};

constexpr SlotNaming kSlotNames[] = {
    {kSlotDevices, "Devices"},       {kSlotFrame, "Frame"},
    {kSlotPresent, "Present"},       {kSlotSceneUpdate, "Scene Update"},
    {kSlotInput, "Input"},           {kSlotAnimation, "Animation"},
    {kSlotEvaluation, "Evaluation"}, {kSlotDeformation, "Deformation"},
    {kSlotUpload, "Upload"},         {kSlotRendering, "Rendering"},
    {kSlotToolPaint, "Tool Paint"},
};

}  // namespace

const char* SlotName(int slot) {
  for (const SlotNaming& n : kSlotNames) {
    if (n.Slot == slot) return n.Name;
  }
  return nullptr;
}

bool IsWorkloadSlot(int slot) {
  return slot == kSlotAnimation || slot == kSlotEvaluation || slot == kSlotDeformation ||
         slot == kSlotUpload || slot == kSlotRendering;
}

SlotTiming MeasuredFrame::Slot(int slot) const {
  if (slot < 0 || slot >= KProfiler::kRootCycleCount) return {};
  if (!IsWorkloadSlot(slot)) return Loop[slot];
  if (!Work) return {};
  const FrameTimings& w = *Work;
  switch (slot) {
    case kSlotAnimation:
      return {w.Animation, w.AnimationCpu, w.AnimationStart, w.EvaluationThread};
    case kSlotEvaluation:
      return {w.Evaluation, w.EvaluationCpu, w.EvaluationStart, w.EvaluationThread};
    case kSlotDeformation:
      return {w.Deformation, w.DeformationCpu, w.DeformationStart, 0};
    case kSlotUpload:
      return {w.Upload, w.UploadCpu, w.UploadStart, 0};
    default:  // kSlotRendering
      return {w.Culling + w.Submission, w.CullingCpu + w.SubmissionCpu, w.CullingStart, 0};
  }
}

bool MeasuredFrame::Ran(int slot) const {
  if (slot == kSlotToolPaint && !ToolPainted) return false;
  return Slot(slot).Micros >= 0.0;
}

}  // namespace khost
