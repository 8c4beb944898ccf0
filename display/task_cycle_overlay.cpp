#include "display/task_cycle_overlay.h"

KTaskCycleOverlay::~KTaskCycleOverlay() = default;

int KTaskCycleOverlay::GetLeft() {
  return Left;
}
int KTaskCycleOverlay::GetTop() {
  return Top;
}
int KTaskCycleOverlay::GetBarScale() {
  return BarScale;
}
int KTaskCycleOverlay::GetRowHeight() {
  return RowHeight;
}

void KTaskCycleOverlay::SetLeft(int value) {
  Left = value;
}
void KTaskCycleOverlay::SetTop(int value) {
  Top = value;
}
void KTaskCycleOverlay::SetMinBarScale(int value) {
  MinBarScale = value;
}
void KTaskCycleOverlay::SetMinRowHeight(int value) {
  MinRowHeight = value;
}

int KTaskCycleOverlay::SetBarScale(int value) {
  BarScale = value < MinBarScale ? MinBarScale : value;
  return BarScale;
}

int KTaskCycleOverlay::SetRowHeight(int value) {
  RowHeight = value < MinRowHeight ? MinRowHeight : value;
  return RowHeight;
}

void KTaskCycleOverlay::SetSelectedCycle(KProfilingSampling* cycle) {
  SelectedCycle = cycle;
}
int KTaskCycleOverlay::GetChartHeight() {
  return ChartHeight;
}
void KTaskCycleOverlay::ChartHeightChanged() {}
