// The paint of the profiling draw view: background, chart, the statistics
// header (frame rate, evaluation rate, profiling cost) over the chart's top,
// the separator band, and the scroll bar last.
//
// A paint allocates nothing: the text lines are fixed buffers of the call.
#include <GL/gl.h>

#include <climits>
#include <cstdint>

#include "display/pixel_math.h"
#include "display/profiling_draw_view.h"
#include "display/root_cycle_slots.h"
#include "host/bcore.h"
#include "platform/runtime.h"

namespace {

using kp_display::Saturate;

constexpr int kLineSize = 256;
constexpr int kHeaderHeight = 80;
constexpr int kBandBottom = 85;
constexpr int kChartTop = 90;
constexpr double kMainLineY = 40.0;

// Draws one block's two lines at x: the main line centred on its vertex in
// `style`, then the detail line in white just below the main line's measured
// height. The main line is drawn in the current colour.
void DrawBlockLines(IKtGraphic* graphic, int x, char* mainLine, char* detailLine,
                    kGraphic_Font_Style style) {
  int width = 0;
  int height = 0;
  Graphic_GetStringSizeVertex(graphic, mainLine, width, height, style);
  Graphic_DrawStringCenterVertex(graphic, mainLine, static_cast<double>(x), kMainLineY, 0.0, 0.0,
                                 1.0, style);
  glColor3f(1.0f, 1.0f, 1.0f);
  graphic->DrawString(detailLine, static_cast<float>(x),
                      static_cast<float>(static_cast<double>(height) + kMainLineY + 1.0), INT_MIN,
                      INT_MAX, -1);
}

}  // namespace

void KtProfilingDrawView::ViewExpose(IKtGeometry* /*geometry*/) {
  bool layoutAgain = false;
  if (!KtViewExposeBegin(&layoutAgain)) return;
  // Closes the expose on every way out.
  class ExposeScope {
   public:
    explicit ExposeScope(KtProfilingDrawView& view) : mView(view) {}
    ~ExposeScope() { mView.KtViewExposeEnd(); }
    ExposeScope(const ExposeScope&) = delete;
    ExposeScope& operator=(const ExposeScope&) = delete;

   private:
    KtProfilingDrawView& mView;
  } scope(*this);
  // No error leaves the paint: a host call that throws ends the drawing
  // where it stands, and the expose is closed all the same.
  try {
    Paint(layoutAgain);
  } catch (...) {
  }
}

void KtProfilingDrawView::Paint(bool layoutAgain) {
  if (layoutAgain) LayoutScrollBar();

  glMatrixMode(GL_PROJECTION);
  glLoadIdentity();
  glMatrixMode(GL_MODELVIEW);
  glLoadIdentity();

  IKtGraphic* graphic = GetGraphic();
  const int width = GetWidth();
  const int height = GetHeight();
  graphic->SetViewport(0, 0, width, height);

  glColor3ub(128, 128, 128);
  glRectd(0.0, 0.0, static_cast<double>(width), static_cast<double>(height));

  if (KProfiler::TheOne()->ProfilingEnabled != 0) {
    SetTop(Saturate(static_cast<int64_t>(kChartTop) - ScrollPosition));
    SetBarScale(Saturate(static_cast<int64_t>(width) * 100 / 510));
    DrawChart(graphic, static_cast<int>(KEvaluateManager::TheOne()->EvaluationRateDivisor));
  }

  // The header strip covers whatever the chart drew above y 80.
  glColor3ub(128, 128, 128);
  glRectd(0.0, 0.0, static_cast<double>(width), static_cast<double>(kHeaderHeight));

  double average = 0.0;
  double minimum = 0.0;
  double maximum = 0.0;
  char mainLine[kLineSize];
  char detailLine[kLineSize];
  mainLine[0] = '\0';
  detailLine[0] = '\0';
  const int x0 = GetLeft();

  // Frame rate, coloured by the unrounded rate. A host that leaves the
  // devices cycle empty gets no frame-rate block; the text after it is white
  // all the same.
  if (KProfilingSampling* devices = KProfiler::TheOne()->RootCycles[kp_display::kDevicesSlot]) {
    devices->GetAvgMinMaxUsage(average, minimum, maximum);
    const double fps = 1000000.0 / average;
    if (fps < 13.0) {
      glColor3f(1.0f, 0.0f, 0.0f);
    } else if (fps < 24.0) {
      glColor3f(1.0f, 0.5f, 0.0f);
    } else {
      glColor3f(0.0f, 1.0f, 0.0f);
    }
    kp::FormatText(mainLine, kLineSize, "%.1f fps", fps);
    // The lowest rate comes from the longest cycle.
    kp::FormatText(detailLine, kLineSize, "(Min: %.1f, Max: %.1f)", 1000000.0 / maximum,
                   1000000.0 / minimum);
    DrawBlockLines(graphic, x0, mainLine, detailLine, kGraphic_Font_Style_Title);
  } else {
    glColor3f(1.0f, 1.0f, 1.0f);
  }

  // Evaluation rate; nothing when the evaluation cycle is absent.
  if (KProfilingSampling* evaluation =
          KProfiler::TheOne()->RootCycles[kp_display::kEvaluationSlot]) {
    evaluation->GetAvgMinMaxUsage(average, minimum, maximum);
    kp::FormatText(mainLine, kLineSize, "Evaluation rate: %.1f", 1000000.0 / average);
    kp::FormatText(detailLine, kLineSize, "(Min: %.1f, Max: %.1f)", 1000000.0 / maximum,
                   1000000.0 / minimum);
    DrawBlockLines(graphic, Saturate(static_cast<int64_t>(x0) + 150), mainLine, detailLine,
                   kGraphic_Font_Style_Default);
  }

  // Profiling cost, in milliseconds.
  KProfiler::TheOne()->ProfilingCost.GetAvgMinMaxUsage(average, minimum, maximum);
  kp::FormatText(mainLine, kLineSize, "Profiling Cost: %.1f ms", average / 1000.0);
  kp::FormatText(detailLine, kLineSize, "(Min: %.1f, Max: %.1f)", minimum / 1000.0,
                 maximum / 1000.0);
  DrawBlockLines(graphic, Saturate(static_cast<int64_t>(x0) + 350), mainLine, detailLine,
                 kGraphic_Font_Style_Default);

  glColor3ub(68, 68, 68);
  glRectd(0.0, static_cast<double>(kHeaderHeight), static_cast<double>(width),
          static_cast<double>(kBandBottom));

  static_cast<IKtView*>(ScrollBar->IQuery(kIID_IKtView, 0))->ViewExpose(nullptr);
}
