#include "khost/app/display.h"

#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <utility>

#include "khost/base/quoting.h"
#include "khost/base/standard_output.h"
#include "khost/outputs/temporary_names.h"
#include "ksurface.h"

namespace khost {

bool ChooseHeadless(bool asked, std::ostream& err) {
  if (asked) return true;
  if (KSurface_DisplayAvailable()) return false;
  const char* x11 = std::getenv("DISPLAY");
  const char* wayland = std::getenv("WAYLAND_DISPLAY");
  if ((x11 && *x11) || (wayland && *wayland)) {
    err << "khost: cannot open the display " << ((x11 && *x11) ? "DISPLAY=" : "WAYLAND_DISPLAY=")
        << EchoText((x11 && *x11) ? x11 : wayland) << "; drawing headless instead\n";
  }
  return true;
}

void LostDisplayEnd::Arm(std::function<Status()> finish, std::ostream& out, std::ostream& err) {
  mFinish = std::move(finish);
  mOut = &out;
  mErr = &err;
  mArmed = true;
  KSurface_OnDisplayLost(&LostDisplayEnd::OnLost, this);
}

void LostDisplayEnd::Disarm() {
  if (!mArmed) return;
  KSurface_OnDisplayLost(nullptr, nullptr);
  mArmed = false;
  mFinish = nullptr;
}

void LostDisplayEnd::OnLost(const char* display, void* context) {
  LostDisplayEnd& self = *static_cast<LostDisplayEnd*>(context);
  std::ostream& err = *self.mErr;
  err << "khost: the display " << EchoText(display)
      << " was lost; the run ends as if its window had closed\n";
  // Called once: the surface ends the process if the display is found lost
  // again meanwhile.
  const std::function<Status()> finish = std::move(self.mFinish);
  self.Disarm();
  int status = ExitCode(ExitStatus::kFailure);
  try {
    if (const Status finished = finish(); !finished) {
      err << "khost: " << finished.GetError().Message << "\n";
    }
  } catch (const std::exception& e) {
    err << "khost: " << e.what() << "\n";
  }
  status = FinishStandardOutput(*self.mOut, status, err);
  err.flush();
  // What was not finished is not left behind under a temporary name.
  RemoveNamedTemporaries();
  ::_exit(status);
}

}  // namespace khost
