// Fuzz target for the task-cycle chart: arbitrary trees (child counts of any
// sign and size, holes, null children, cycles, the same cycle under several
// parents), names of 10,000 characters or of bytes that are not UTF-8,
// samples and references that are NaN, infinite, negative, huge or zero,
// and extreme geometry. Besides not crashing, a draw must:
//   - allocate nothing;
//   - pass only finite coordinates and labels that fit the 200-byte buffer;
//   - stay within the row and child-index budgets of each top-level row;
//   - draw rows measured against a zero reference with zero-length bars.
// OpenGL calls go to the dispatch's no-op entries: no context is current.

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "common/allocation_counter.h"
#include "display/task_cycle_overlay.h"
#include "fuzz_input.h"
#include "host/bcore.h"
#include "host/kbaselib.h"
#include "standin/kbaselib/profiler.h"

namespace {

using kp_fuzz::Check;
using kp_fuzz::Input;

constexpr const char* kTarget = "chart";
constexpr int kMaxCycles = 16;
constexpr int kMaxKids = 8;

long gIndexProbes = 0;  // HasChild calls during the current draw

class FuzzCycle : public KProfilingSampling {
 public:
  FuzzCycle() : KProfilingSampling("cycle", 1.0f, 1.0f, 1.0f, 8) {}
  int Count = 0;
  uint32_t Present = 0;  // HasChild of index i: bit i % 32
  int Kids[kMaxKids] = {};
  int KidCount = 1;
  FuzzCycle** Pool = nullptr;

  int GetChildCount(int category) override { return category == 1 ? Count : 0; }
  bool HasChild(int category, int index) override {
    ++gIndexProbes;
    return category == 1 && ((Present >> (static_cast<unsigned>(index) & 31u)) & 1u) != 0;
  }
  KProfilingSampling* GetChild(int category, int index) override {
    if (category != 1) return nullptr;
    const int kid = Kids[static_cast<unsigned>(index) % static_cast<unsigned>(KidCount)];
    return kid < 0 ? nullptr : Pool[kid];
  }
};

// Counts rows and checks every value the chart hands over.
class CheckingGraphic : public IKtGraphic {
 public:
  virtual ~CheckingGraphic() = default;
  long Strings = 0;
  long Rectangles = 0;
  long LengthyRectangles = 0;  // with x0 != x1

  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void SetViewport(int, int, int, int) override {}
  void DrawRectangle(float x0, float y0, float x1, float y1) override {
    Check(std::isfinite(x0) && std::isfinite(y0) && std::isfinite(x1) && std::isfinite(y1), kTarget,
          "a rectangle with a coordinate that is not finite");
    if (x0 != x1) ++LengthyRectangles;
    ++Rectangles;
  }
  void BeginPrimitive(int kind) override { Check(kind == 0, kTarget, "a primitive not lines"); }
  void EndPrimitive() override {}
  void DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                  int fontStyle) override {
    Check(text != nullptr && std::strlen(text) < 200, kTarget, "a label beyond its buffer");
    Check(std::isfinite(x) && std::isfinite(y), kTarget, "a label at a position not finite");
    Check(clipLeft == INT_MIN && clipRight == INT_MAX && fontStyle == -1, kTarget,
          "a label with other trailing values");
    ++Strings;
  }
  void MeasureString(const char*, int, int& width, int& height) override { width = height = 0; }
  void PushView(int, int, int, int) override {}
  void PopView() override {}
  void GetViewOrigin(int& x, int& y) override { x = y = 0; }
};

class FuzzOverlay : public KTaskCycleOverlay {
 public:
  using KTaskCycleOverlay::SelectedCycle;
};

std::string MakeName(Input& in, int index) {
  switch (in.Byte() % 8) {
    case 0:
      return std::string(10000, static_cast<char>('a' + index % 26));
    case 1: {  // raw bytes, not necessarily UTF-8
      std::string name;
      const int length = in.Below(64);
      for (int i = 0; i < length; ++i) {
        const char c = static_cast<char>(in.Byte());
        if (c == '\0') break;
        name += c;
      }
      return name;
    }
    case 2:
      return "";
    case 3:  // multi-byte characters across the label buffer's end
      return std::string(static_cast<size_t>(190 + in.Below(12)), 'a') +
             "\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80";
    default:
      return "c" + std::to_string(index);
  }
}

// Mostly short child lists, so that most inputs draw few rows and the
// budgets are reached now and then rather than on every input.
int MakeCount(Input& in) {
  const uint8_t pick = in.Byte();
  if (pick < 150) return 0;
  if (pick < 200) return 1;
  if (pick < 224) return 2;
  if (pick < 232) return 3 + pick % 6;
  if (pick < 248) return (pick & 1) ? INT_MIN + pick % 3 : -(pick % 3) - 1;
  if (pick == 255 && in.Byte() == 255) return in.Bit() ? INT_MAX : (1 << 21);
  return 200 + pick;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  KProfiler* profiler = KProfiler::TheOne();

  const int cycleCount = 1 + in.Below(kMaxCycles);
  std::vector<std::unique_ptr<FuzzCycle>> cycles;
  FuzzCycle* pool[kMaxCycles] = {};
  for (int i = 0; i < cycleCount; ++i) {
    cycles.push_back(std::make_unique<FuzzCycle>());
    pool[i] = cycles.back().get();
  }
  for (int i = 0; i < cycleCount; ++i) {
    FuzzCycle& cycle = *pool[i];
    cycle.Pool = pool;
    cycle.SetName(MakeName(in, i).c_str());
    cycle.SetColor(in.Float(), in.Float(), in.Float());
    const int samples = in.Below(4);
    for (int s = 0; s < samples; ++s) KProfilingSampling_AddSample(cycle, in.Double());
    cycle.Count = MakeCount(in);
    cycle.Present = in.Bit() ? 0xFFFFFFFFu : in.U32();
    cycle.KidCount = 1 + in.Below(kMaxKids);
    for (int k = 0; k < cycle.KidCount; ++k) cycle.Kids[k] = in.Below(cycleCount + 1) - 1;
  }
  for (KProfilingSampling*& slot : profiler->RootCycles) {
    const int pick = in.Below(cycleCount + 2) - 2;
    slot = pick < 0 ? nullptr : pool[pick];
  }
  profiler->FrameReference = in.Bit();
  profiler->EvaluationDepth = in.Bit() ? 0 : in.Int();

  FuzzOverlay overlay;
  overlay.SetMinBarScale(in.Bit() ? 100 : in.Int());
  overlay.SetMinRowHeight(in.Bit() ? 15 : in.Int());
  overlay.SetLeft(in.Bit() ? 20 : in.Int());
  overlay.SetTop(in.Bit() ? 90 : in.Int());
  overlay.SetBarScale(in.Int());
  overlay.SetRowHeight(in.Int());
  const int selected = in.Below(cycleCount + 3) - 3;
  overlay.SetSelectedCycle(selected < 0 ? nullptr : pool[selected]);
  const int divisor = in.Int();

  // Cycles with a sample and a zero reference, drawn directly below.
  const int directCycle = in.Below(cycleCount);
  const double reference = in.Bit() ? 0.0 : in.Double();
  const int depth = in.Bit() ? 0 : in.Int();
  int cursor = in.Int();

  CheckingGraphic graphic;
  gIndexProbes = 0;
  kp_test::ArmAllocationCounter();
  overlay.DrawChart(&graphic, divisor);
  const long chartStrings = graphic.Strings;
  const long chartProbes = gIndexProbes;
  graphic.Strings = 0;
  graphic.LengthyRectangles = 0;
  gIndexProbes = 0;
  overlay.DrawCycle(&graphic, overlay.GetLeft(), &cursor, overlay.GetRowHeight(), pool[directCycle],
                    reference, depth);
  const long allocations = kp_test::DisarmAllocationCounter();
  Check(allocations == 0, kTarget, "drawing allocated memory");

  // Eleven top-level rows at most (two upper, nine lower or one selected).
  constexpr long kTopLevelRows = 11;
  Check(chartStrings <= kTopLevelRows * KTaskCycleOverlay::kMaxRowsPerTopLevelRow, kTarget,
        "more rows than the budgets allow");
  Check(chartProbes <= kTopLevelRows * KTaskCycleOverlay::kMaxChildIndicesPerTopLevelRow, kTarget,
        "more child indices looked at than the budgets allow");
  Check(graphic.Strings <= KTaskCycleOverlay::kMaxRowsPerTopLevelRow, kTarget,
        "a direct draw beyond the row budget");
  // Against a zero reference every bar and band has zero length.
  if (reference == 0.0) {
    Check(graphic.LengthyRectangles == 0, kTarget,
          "a bar of non-zero length against a zero reference");
  }

  for (KProfilingSampling*& slot : profiler->RootCycles) slot = nullptr;
  return 0;
}
