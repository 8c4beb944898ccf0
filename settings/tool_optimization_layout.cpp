#include "settings/tool_optimization_layout.h"

#include "host/bcore.h"
#include "host/kgpgpu.h"
#include "host/kshader.h"

namespace {

// Points an editor at the host property it edits. `property` is the local
// variable whose address the editor's pointer property takes.
void BindEditor(KtProperty& editor, KProperty* property) {
  editor.EditedProperty.SetFromPointer(&property, 0, 0);
}

}  // namespace

ToolOptimizationLayout::ToolOptimizationLayout()
    : KtLayout(),
      FrustumCullingEditor(1),
      ParallelPipelineEditor(1),
      ParallelEvaluationEditor(1),
      ParallelDeformationEditor(1),
      GPUSkinningEditor(1),
      NodeCountEditor(1),
      ProfilingModeEditor(1),
      EvaluationDepthEditor(1),
      BufferSizeEditor(1),
      FrameReferenceEditor(1),
      DisplayLabel(1),
      DisplayList(1),
      ResetButton(1),
      DrawView() {
  // The members end by themselves if this body throws; what the body made
  // beyond them (bindings, subscriptions) is undone here first, in the same
  // order as in the destructor.
  try {
    BindEditors();
    BuildLayout();
    AddEventHandlers();
  } catch (...) {
    DetachEditors();
    RemoveEventHandlers();
    throw;
  }
}

ToolOptimizationLayout::~ToolOptimizationLayout() {
  DetachEditors();
  RemoveEventHandlers();
}

std::array<KtProperty*, 10> ToolOptimizationLayout::Editors() {
  return {&FrustumCullingEditor,      &ParallelPipelineEditor, &ParallelEvaluationEditor,
          &ParallelDeformationEditor, &GPUSkinningEditor,      &NodeCountEditor,
          &ProfilingModeEditor,       &EvaluationDepthEditor,  &BufferSizeEditor,
          &FrameReferenceEditor};
}

void ToolOptimizationLayout::BindEditors() {
  // The owners are fetched again for every editor: the panel keeps no
  // pointer to the host objects.
  BindEditor(FrustumCullingEditor, &KShaders_GetRenderer()->EarlyFrustumCulling);
  BindEditor(ParallelPipelineEditor, &KEvaluateManager::TheOne()->ParallelPipeline);
  BindEditor(ParallelEvaluationEditor, &KEvaluateManager::TheOne()->ParallelEvaluation);
  BindEditor(ParallelDeformationEditor, &KEvaluateManager::TheOne()->ParallelDeformation);
  BindEditor(GPUSkinningEditor, &KGPGPU_GetGPGPUManager()->GPUSkinDeform);
  BindEditor(NodeCountEditor, &KEvaluateManager::TheOne()->NodeCount);
  BindEditor(ProfilingModeEditor, &KProfiler::TheOne()->ProfilingType);
  BindEditor(EvaluationDepthEditor, &KProfiler::TheOne()->EvaluationDepthProperty);
  BindEditor(BufferSizeEditor, &KProfiler::TheOne()->BufferSize);
  BindEditor(FrameReferenceEditor, &KProfiler::TheOne()->FrameReferenceProperty);
}

void ToolOptimizationLayout::DetachEditors() {
  for (KtProperty* editor : Editors()) editor->ClearAllProperty();
}

void ToolOptimizationLayout::BuildLayout() {
  constexpr ktLayoutAttach kLeft = kLayoutAttachLeft;
  constexpr ktLayoutAttach kRight = kLayoutAttachRight;
  constexpr ktLayoutAttach kTop = kLayoutAttachTop;
  constexpr ktLayoutAttach kBottom = kLayoutAttachBottom;
  constexpr ktLayoutAttach kNone = kLayoutAttachNone;

  // Left column (200 pixels) and the framed drawing area to its right.
  AddRegion("ControlsRegion", nullptr, 3, kLeft, nullptr, 1.0f, 3, kTop, nullptr, 1.0f, 200, kNone,
            nullptr, 1.0f, -3, kBottom, nullptr, 1.0f);
  AddRegion("StatsRegion", nullptr, 6, kRight, "ControlsRegion", 1.0f, 6, kTop, nullptr, 1.0f, -3,
            kRight, nullptr, 1.0f, -3, kBottom, nullptr, 1.0f);
  AddRegion("DrawingRegion", nullptr, 6, kLeft, "StatsRegion", 1.0f, 3, kTop, "StatsRegion", 1.0f,
            -3, kRight, "StatsRegion", 1.0f, -3, kBottom, "StatsRegion", 1.0f);

  // The three groups of the left column.
  AddRegion("RenderingRegion", "Rendering", 3, kLeft, "ControlsRegion", 1.0f, 3, kTop,
            "ControlsRegion", 1.0f, -3, kRight, "ControlsRegion", 1.0f, 35, kNone, nullptr, 1.0f);
  AddRegion("EvaluationRegion", "Evaluation", 0, kLeft, "RenderingRegion", 1.0f, 15, kBottom,
            "RenderingRegion", 1.0f, 0, kRight, "RenderingRegion", 1.0f, 110, kNone, nullptr, 1.0f);
  AddRegion("ProfilingRegion", "Profiling Display Settings", 0, kLeft, "EvaluationRegion", 1.0f, 15,
            kBottom, "EvaluationRegion", 1.0f, 0, kRight, "EvaluationRegion", 1.0f, 110, kNone,
            nullptr, 1.0f);

  // Rows of the groups.
  AddRegion("Rend_FrustumCulling", nullptr, 10, kLeft, "RenderingRegion", 1.0f, 10, kTop,
            "RenderingRegion", 1.0f, -5, kRight, "RenderingRegion", 1.0f, 15, kNone, nullptr, 1.0f);
  AddRegion("Eval_ParallelPipeline", nullptr, 10, kLeft, "EvaluationRegion", 1.0f, 10, kTop,
            "EvaluationRegion", 1.0f, -5, kRight, "EvaluationRegion", 1.0f, 15, kNone, nullptr,
            1.0f);
  AddRegion("Eval_ParallelEvaluation", nullptr, 0, kLeft, "Eval_ParallelPipeline", 1.0f, 5, kBottom,
            "Eval_ParallelPipeline", 1.0f, 0, kRight, "Eval_ParallelPipeline", 1.0f, 15, kNone,
            nullptr, 1.0f);
  AddRegion("Eval_ParallelDeformation", nullptr, 0, kLeft, "Eval_ParallelEvaluation", 1.0f, 5,
            kBottom, "Eval_ParallelEvaluation", 1.0f, 0, kRight, "Eval_ParallelEvaluation", 1.0f,
            15, kNone, nullptr, 1.0f);
  AddRegion("Eval_GPUSkinning", nullptr, 0, kLeft, "Eval_ParallelDeformation", 1.0f, 5, kBottom,
            "Eval_ParallelDeformation", 1.0f, 0, kRight, "Eval_ParallelDeformation", 1.0f, 15,
            kNone, nullptr, 1.0f);
  AddRegion("Eval_NodeCount", nullptr, 0, kLeft, "Eval_GPUSkinning", 1.0f, 5, kBottom,
            "Eval_GPUSkinning", 1.0f, 0, kRight, "Eval_GPUSkinning", 1.0f, 15, kNone, nullptr,
            1.0f);
  // The label's width is an absolute 90 pixels; its reference plays no part.
  AddRegion("Prof_DispalyLbl", nullptr, 10, kLeft, "ProfilingRegion", 1.0f, 10, kTop,
            "ProfilingRegion", 1.0f, 90, kNone, "ProfilingRegion", 1.0f, 15, kNone, nullptr, 1.0f);
  AddRegion("Prof_DispalyLst", nullptr, 0, kRight, "Prof_DispalyLbl", 1.0f, 0, kTop,
            "Prof_DispalyLbl", 1.0f, -5, kRight, "ProfilingRegion", 1.0f, 15, kNone, nullptr, 1.0f);
  AddRegion("Prof_Mode", nullptr, 0, kLeft, "Prof_DispalyLbl", 1.0f, 5, kBottom, "Prof_DispalyLbl",
            1.0f, 0, kRight, "Prof_DispalyLst", 1.0f, 15, kNone, nullptr, 1.0f);
  AddRegion("Prof_Depth", nullptr, 0, kLeft, "Prof_Mode", 1.0f, 5, kBottom, "Prof_Mode", 1.0f, 0,
            kRight, "Prof_Mode", 1.0f, 15, kNone, nullptr, 1.0f);
  AddRegion("Prof_BufferSize", nullptr, 0, kLeft, "Prof_Depth", 1.0f, 5, kBottom, "Prof_Depth",
            1.0f, 0, kRight, "Prof_Depth", 1.0f, 15, kNone, nullptr, 1.0f);
  AddRegion("Prof_FrameReference", nullptr, 0, kLeft, "Prof_BufferSize", 1.0f, 5, kBottom,
            "Prof_BufferSize", 1.0f, 0, kRight, "Prof_BufferSize", 1.0f, 15, kNone, nullptr, 1.0f);
  AddRegion("ResetToDefault", nullptr, 0, kLeft, "ProfilingRegion", 1.0f, 10, kBottom,
            "ProfilingRegion", 1.0f, 0, kRight, "ProfilingRegion", 1.0f, 15, kNone, nullptr, 1.0f);

  FrustumCullingEditor.Caption = "Frustum Culling";
  ParallelPipelineEditor.Caption = "Parallel Pipeline";
  ParallelEvaluationEditor.Caption = "Parallel Evaluation";
  ParallelDeformationEditor.Caption = "Parallel Deformation";
  GPUSkinningEditor.Caption = "GPU Skinning";
  NodeCountEditor.Caption = "Node Count";
  ProfilingModeEditor.Caption = "Profiling Mode";
  EvaluationDepthEditor.Caption = "Evaluation Depth";
  BufferSizeEditor.Caption = "Buffer Size";
  FrameReferenceEditor.Caption = "Frame Reference";
  ResetButton.Caption = "Reset To Default";
  DisplayLabel.Caption = "Display Details";

  DisplayList.Items = "DisplayAll~Evaluation~Rendering~Devices";

  // The editors' value fields line up with the display selector, which
  // starts right of the 90-pixel label.
  for (KtProperty* editor : Editors()) editor->CaptionWidth = 90;

  SetControl("Rend_FrustumCulling", FrustumCullingEditor);
  SetControl("Eval_ParallelEvaluation", ParallelEvaluationEditor);
  SetControl("Eval_ParallelPipeline", ParallelPipelineEditor);
  SetControl("Eval_ParallelDeformation", ParallelDeformationEditor);
  SetControl("Eval_GPUSkinning", GPUSkinningEditor);
  SetControl("Eval_NodeCount", NodeCountEditor);
  SetControl("Prof_DispalyLbl", DisplayLabel);
  SetControl("Prof_DispalyLst", DisplayList);
  SetControl("Prof_Mode", ProfilingModeEditor);
  SetControl("Prof_Depth", EvaluationDepthEditor);
  SetControl("Prof_BufferSize", BufferSizeEditor);
  SetControl("Prof_FrameReference", FrameReferenceEditor);
  SetControl("ResetToDefault", ResetButton);

  SetView("DrawingRegion", static_cast<IKtView*>(&DrawView));

  SetBorder("RenderingRegion", 2, true, true, 2, 0, 90.0f, 0);
  SetBorder("EvaluationRegion", 2, true, true, 2, 0, 90.0f, 0);
  SetBorder("ProfilingRegion", 2, true, true, 2, 0, 90.0f, 0);
  SetBorder("StatsRegion", 2, true, true, 2, 0, 90.0f, 0);

  ResetButton.Caption = "Reset To Default";
}
