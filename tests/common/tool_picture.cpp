// The tool window's picture in a fixed state; see tool_picture.h.
#include "common/tool_picture.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "host/ktoolkit.h"
#include "ksurface.h"
#include "standin/kbaselib/profiler.h"
#include "standin/ktoolkit/interaction.h"
#include "standin/ktoolkit/viewhost.h"

namespace kptest {

namespace {

// Forwards every call to the real graphic context; records each line of
// text and draws it only when asked to.
class TextSwitchGraphic final : public IKtGraphic {
 public:
  TextSwitchGraphic(IKtGraphic* real, bool drawText) : mReal(real), mDrawText(drawText) {}
  virtual ~TextSwitchGraphic() = default;

  IObject* IQuery(unsigned long id, int reserved) override { return mReal->IQuery(id, reserved); }
  void Destroy(int) override {}
  void SetViewport(int x, int y, int w, int h) override { mReal->SetViewport(x, y, w, h); }
  void DrawRectangle(float x0, float y0, float x1, float y1) override {
    mReal->DrawRectangle(x0, y0, x1, y1);
  }
  void BeginPrimitive(int kind) override { mReal->BeginPrimitive(kind); }
  void EndPrimitive() override { mReal->EndPrimitive(); }
  void DrawString(const char* text, float x, float y, int clipLeft, int clipRight,
                  int style) override {
    int originX = 0;
    int originY = 0;
    mReal->GetViewOrigin(originX, originY);
    Texts.push_back(std::to_string(originX + static_cast<int>(x)) + " " +
                    std::to_string(originY + static_cast<int>(y)) + " " + (text ? text : ""));
    if (mDrawText) mReal->DrawString(text, x, y, clipLeft, clipRight, style);
  }
  void MeasureString(const char* text, int style, int& w, int& h) override {
    mReal->MeasureString(text, style, w, h);
  }
  void PushView(int x, int y, int w, int h) override { mReal->PushView(x, y, w, h); }
  void PopView() override { mReal->PopView(); }
  void GetViewOrigin(int& x, int& y) override { mReal->GetViewOrigin(x, y); }

  std::vector<std::string> Texts;

 private:
  IKtGraphic* mReal;
  bool mDrawText;
};

double FixedClock() {
  return 1000.0;
}

struct CycleSpec {
  const char* Name;
  float Red, Green, Blue;
  double Microseconds;  // the middle sample; the others are 0.75 and 1.3 of it
};

// Slot order as the host fills the table; values chosen so that no share
// or rate sits on a rounding tie.
constexpr CycleSpec kCycles[KProfiler::kRootCycleCount] = {
    {"Devices", 0.2f, 0.4f, 0.9f, 16130.0},   {"Frame", 0.9f, 0.5f, 0.1f, 9130.0},
    {"Present", 0.3f, 0.8f, 0.3f, 4210.0},    {"Input", 0.6f, 0.6f, 0.6f, 130.0},
    {"Animation", 0.8f, 0.2f, 0.6f, 1730.0},  {"Deformation", 0.1f, 0.7f, 0.8f, 2930.0},
    {"Evaluation", 0.9f, 0.8f, 0.2f, 5170.0}, {"Unused", 0.5f, 0.5f, 0.5f, 1010.0},
    {"Upload", 0.7f, 0.3f, 0.2f, 810.0},      {"Tool Paint", 0.4f, 0.9f, 0.6f, 1330.0},
    {"Rendering", 0.9f, 0.3f, 0.3f, 6110.0},  {"Scene Update", 0.3f, 0.3f, 0.9f, 70.0},
};

}  // namespace

PictureState::PictureState() {
  KProfiler* profiler = KProfiler::TheOne();
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    const CycleSpec& spec = kCycles[slot];
    mCycles.push_back(
        std::make_unique<KProfilingSampling>(spec.Name, spec.Red, spec.Green, spec.Blue));
    for (double factor : {0.75, 1.0, 1.3}) {
      KProfilingSampling_AddSample(*mCycles.back(), spec.Microseconds * factor);
    }
    KProfiler_SetRootCycle(*profiler, slot, mCycles.back().get());
  }
  KProfilingSampling_Reset(profiler->ProfilingCost);
  for (double cost : {410.0, 530.0, 770.0})
    KProfilingSampling_AddSample(profiler->ProfilingCost, cost);
  profiler->ProfilingType = 1;
  profiler->FrameReference = true;
  profiler->EvaluationDepth = 0;
  KtClock_Set(FixedClock);
}

PictureState::~PictureState() {
  KtClock_Set(nullptr);
  for (int slot = 0; slot < KProfiler::kRootCycleCount; ++slot) {
    KProfiler_SetRootCycle(*KProfiler::TheOne(), slot, nullptr);
  }
  KProfilingSampling_Reset(KProfiler::TheOne()->ProfilingCost);
}

bool PaintToolPicture(IObject* window, ToolPicture& picture, std::string* error) {
  IKtView* view = KQueryInterface<IKtView>(window, kIID_IKtView);
  if (!view) {
    if (error) *error = "the window answers no view interface";
    return false;
  }
  std::unique_ptr<KSurface> surface = KSurface_CreateHeadless(kPictureWidth, kPictureHeight, error);
  if (!surface) return false;
  IKtGraphic* real = KtGraphic_CreateGL(kPictureWidth, kPictureHeight, error);
  if (!real) return false;
  picture.Width = kPictureWidth;
  picture.Height = kPictureHeight;
  bool ok = true;
  for (bool drawText : {false, true}) {
    TextSwitchGraphic graphic(real, drawText);
    {
      KtViewHost host(&graphic);
      host.SetRoot(view, kPictureWidth, kPictureHeight);
      host.Expose();
      std::vector<unsigned char>& target = drawText ? picture.Full : picture.Shapes;
      ok = surface->ReadPixels(target) && ok;
      host.SetRoot(nullptr, 0, 0);
    }
    if (!drawText) picture.Texts = graphic.Texts;
  }
  real->Destroy(0);
  if (!ok && error) *error = "the surface's pixels cannot be read";
  return ok;
}

int CountDifferentPixels(const std::vector<unsigned char>& a, const std::vector<unsigned char>& b,
                         int width, int& firstX, int& firstY) {
  firstX = -1;
  firstY = -1;
  if (a.size() != b.size() || width <= 0) return -1;
  int count = 0;
  for (size_t i = 0; i + 3 < a.size(); i += 4) {
    if (std::memcmp(&a[i], &b[i], 3) == 0) continue;  // alpha is the surface's, not drawn
    if (count++ == 0) {
      firstX = static_cast<int>((i / 4) % static_cast<size_t>(width));
      firstY = static_cast<int>((i / 4) / static_cast<size_t>(width));
    }
  }
  return count;
}

std::string FirstTextDifference(const std::vector<std::string>& actual,
                                const std::vector<std::string>& expected, int rowTolerance) {
  if (actual.size() != expected.size()) {
    return std::to_string(actual.size()) + " lines drawn, " + std::to_string(expected.size()) +
           " expected";
  }
  for (size_t i = 0; i < actual.size(); ++i) {
    int ax = 0, ay = 0, ex = 0, ey = 0, at = 0, et = 0;
    const bool parsed = std::sscanf(actual[i].c_str(), "%d %d %n", &ax, &ay, &at) == 2 &&
                        std::sscanf(expected[i].c_str(), "%d %d %n", &ex, &ey, &et) == 2;
    const bool same = parsed && ax == ex && std::abs(ay - ey) <= rowTolerance &&
                      actual[i].compare(static_cast<size_t>(at), std::string::npos, expected[i],
                                        static_cast<size_t>(et), std::string::npos) == 0;
    if (!same)
      return "line " + std::to_string(i) + ": '" + actual[i] + "', expected '" + expected[i] + "'";
  }
  return std::string();
}

std::string JoinLines(const std::vector<std::string>& lines) {
  std::string text;
  for (const std::string& line : lines) text += line + "\n";
  return text;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(start, end - start);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
    start = end + 1;
  }
  return lines;
}

}  // namespace kptest
