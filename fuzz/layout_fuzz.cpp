// Fuzz target for the layout solver: arbitrary region tables (references to
// missing, later or the same regions, every attach kind and unknown ones,
// extreme offsets and multipliers, NaN and infinities among them) at
// arbitrary layout sizes. Besides not crashing, the solver must:
//   - accept exactly the regions whose name is new and non-empty and whose
//     references name earlier regions;
//   - resolve every edge as the reference's edge plus offset × multiplier,
//     rounded and saturated to the int range (an independent model below);
//   - give each control its region's rectangle, with a size that is never
//     negative.

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdint>
#include <string>
#include <vector>

#include "fuzz_input.h"
#include "host/ktoolkit.h"
#include "standin/ktoolkit/view_tree.h"

namespace {

using kp_fuzz::Check;
using kp_fuzz::Input;

constexpr const char* kTarget = "layout";
constexpr int kMaxRegions = 12;

struct ModelPlacement {
  int Offset;
  int Attach;
  int Reference;  // index, or -1 for the layout
  float Multiplier;
};

struct ModelRegion {
  std::string Name;
  ModelPlacement P[4];  // x, y, width, height
  long long Left = 0, Top = 0, Right = 0, Bottom = 0;
};

long long Saturated(long double value) {
  if (!(value >= static_cast<long double>(INT_MIN))) return INT_MIN;
  if (value > static_cast<long double>(INT_MAX)) return INT_MAX;
  return static_cast<long long>(value);
}

long long ScaledOffset(const ModelPlacement& p) {
  return Saturated(std::round(static_cast<double>(p.Offset) * static_cast<double>(p.Multiplier)));
}

long long EdgeOf(const std::vector<ModelRegion>& regions, const ModelPlacement& p, int width,
                 int height) {
  long long left = 0, top = 0, right = width, bottom = height;
  if (p.Reference >= 0) {
    const ModelRegion& r = regions[static_cast<size_t>(p.Reference)];
    left = r.Left;
    top = r.Top;
    right = r.Right;
    bottom = r.Bottom;
  }
  switch (p.Attach) {
    case 0:
      return left;
    case 1:
      return right;
    case 2:
      return top;
    case 3:
      return bottom;
    default:
      return 0;
  }
}

void Solve(std::vector<ModelRegion>& regions, int width, int height) {
  for (ModelRegion& r : regions) {
    r.Left = Saturated(EdgeOf(regions, r.P[0], width, height) + ScaledOffset(r.P[0]));
    r.Top = Saturated(EdgeOf(regions, r.P[1], width, height) + ScaledOffset(r.P[1]));
    const bool absoluteWidth = r.P[2].Attach < 0 || r.P[2].Attach > 3;
    const bool absoluteHeight = r.P[3].Attach < 0 || r.P[3].Attach > 3;
    r.Right = Saturated((absoluteWidth ? r.Left : EdgeOf(regions, r.P[2], width, height)) +
                        ScaledOffset(r.P[2]));
    r.Bottom = Saturated((absoluteHeight ? r.Top : EdgeOf(regions, r.P[3], width, height)) +
                         ScaledOffset(r.P[3]));
  }
}

int Attach(Input& in) {
  const uint8_t pick = in.Byte();
  if (pick < 224) return pick % 8;  // 0 to 3, 4 to 6 (unknown), 7
  return in.Int();
}

float Multiplier(Input& in) {
  return in.Bit() ? 1.0f : in.Float();
}

class NullGraphic : public IKtGraphic {
 public:
  virtual ~NullGraphic() = default;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void SetViewport(int, int, int, int) override {}
  void DrawRectangle(float x0, float y0, float x1, float y1) override {
    Check(!std::isnan(x0) && !std::isnan(y0) && !std::isnan(x1) && !std::isnan(y1), kTarget,
          "a frame with a coordinate that is not a number");
  }
  void BeginPrimitive(int) override {}
  void EndPrimitive() override {}
  void DrawString(const char*, float, float, int, int, int) override {}
  void MeasureString(const char* text, int, int& width, int& height) override {
    width = text ? static_cast<int>(std::char_traits<char>::length(text)) * 7 : 0;
    height = 14;
  }
  void PushView(int, int, int, int) override {}
  void PopView() override {}
  void GetViewOrigin(int& x, int& y) override { x = y = 0; }
};

class NullContainer : public IKtViewContainer {
 public:
  virtual ~NullContainer() = default;
  IObject* IQuery(unsigned long, int) override { return nullptr; }
  void Destroy(int) override {}
  void ViewRefreshRequest(IKtView*, bool) override {}
  bool PopupOpen(IKtView*) override { return false; }
  void PopupClose(IKtView*) override {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Input in(data, size);
  KtLayout layout(0);
  std::vector<ModelRegion> model;
  std::vector<std::string> tried;
  KtView controls[kMaxRegions];

  const int count = in.Below(kMaxRegions + 1);
  for (int i = 0; i < count; ++i) {
    // Mostly new names; now and then an empty or a repeated one.
    std::string name = "r" + std::to_string(i);
    const uint8_t namePick = in.Byte();
    if (namePick < 8) name = "";
    if (namePick >= 8 && namePick < 16 && !tried.empty()) name = tried[namePick % tried.size()];
    tried.push_back(name);

    std::string references[4];
    ModelPlacement placements[4];
    bool known = true;
    for (int k = 0; k < 4; ++k) {
      const uint8_t refPick = in.Byte() % 8;
      if (refPick == 1) {
        references[k] = "missing";
      } else if (refPick == 2) {
        references[k] = "r" + std::to_string(i + 1);  // a later region
      } else if (refPick == 3) {
        references[k] = name;  // itself
      } else if (refPick >= 4 && !model.empty()) {
        references[k] = model[static_cast<size_t>(in.Below(static_cast<int>(model.size())))].Name;
      }
      placements[k].Offset = in.Int();
      placements[k].Attach = Attach(in);
      placements[k].Multiplier = Multiplier(in);
      placements[k].Reference = -1;
      if (!references[k].empty()) {
        auto found = std::find_if(model.begin(), model.end(),
                                  [&](const ModelRegion& r) { return r.Name == references[k]; });
        if (found == model.end()) {
          known = false;
        } else {
          placements[k].Reference = static_cast<int>(found - model.begin());
        }
      }
    }
    const bool fresh =
        !name.empty() && std::none_of(model.begin(), model.end(),
                                      [&](const ModelRegion& r) { return r.Name == name; });
    auto refOrNull = [&](int k) {
      return in.Bit() && references[k].empty() ? nullptr : references[k].c_str();
    };
    const bool added = layout.AddRegion(
        name.c_str(), in.Bit() ? nullptr : "Title", placements[0].Offset,
        static_cast<ktLayoutAttach>(placements[0].Attach), refOrNull(0), placements[0].Multiplier,
        placements[1].Offset, static_cast<ktLayoutAttach>(placements[1].Attach), refOrNull(1),
        placements[1].Multiplier, placements[2].Offset,
        static_cast<ktLayoutAttach>(placements[2].Attach), refOrNull(2), placements[2].Multiplier,
        placements[3].Offset, static_cast<ktLayoutAttach>(placements[3].Attach), refOrNull(3),
        placements[3].Multiplier);
    Check(added == (fresh && known), kTarget, "a region accepted or refused against the rule");
    if (!added) continue;
    ModelRegion region;
    region.Name = name;
    for (int k = 0; k < 4; ++k) region.P[k] = placements[k];
    model.push_back(region);
    if (in.Bit()) layout.SetControl(name.c_str(), controls[model.size() - 1]);
    if (in.Bit()) {
      layout.SetBorder(name.c_str(), in.Int(), in.Bit(), in.Bit(), in.Int(), 0, in.Float(), 0);
    }
  }
  Check(KtLayout_GetRegionCount(layout) == static_cast<int>(model.size()), kTarget, "region count");

  NullGraphic graphic;
  NullContainer container;
  static_cast<IKtView&>(layout).Attach(&container, &graphic);
  for (int round = 0; round < 2; ++round) {
    const int width = in.Bit() ? 800 : in.Int();
    const int height = in.Bit() ? 420 : in.Int();
    layout.SetSize(width, height);
    layout.LayoutRegions();
    // The layout clamps its own size at 0.
    Solve(model, std::max(width, 0), std::max(height, 0));
    for (size_t i = 0; i < model.size(); ++i) {
      int left = 0, top = 0, right = 0, bottom = 0;
      Check(KtLayout_GetRegionRect(layout, model[i].Name.c_str(), left, top, right, bottom),
            kTarget, "an added region is unknown");
      Check(left == model[i].Left && top == model[i].Top && right == model[i].Right &&
                bottom == model[i].Bottom,
            kTarget, "a region resolved differently from the model");
      if (KtLayout_GetRegionView(layout, model[i].Name.c_str()) == &controls[i]) {
        IKtGeometry& g = controls[i];
        Check(g.GetPosX() == left && g.GetPosY() == top, kTarget, "a control off its region");
        const long long w = std::max(0LL, static_cast<long long>(right) - left);
        const long long h = std::max(0LL, static_cast<long long>(bottom) - top);
        Check(g.GetWidth() == std::min<long long>(w, INT_MAX) &&
                  g.GetHeight() == std::min<long long>(h, INT_MAX),
              kTarget, "a control's size differs from its region's");
      }
    }
    layout.ViewExpose(nullptr);
  }
  static_cast<IKtView&>(layout).Detach(&container);
  int ignored = 0;
  Check(!KtLayout_GetRegionRect(layout, "missing", ignored, ignored, ignored, ignored), kTarget,
        "an unknown region has a rectangle");
  return 0;
}
