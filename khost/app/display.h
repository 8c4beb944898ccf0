// The display under a run: whether a live run gets one, and what losing it
// does. Every call: [loop thread].
#pragma once

#include <functional>
#include <ostream>

#include "khost/base/status.h"

namespace khost {

// Whether the run draws headless: when `asked`, or when no display can be
// opened. A display named in the environment that cannot be opened is said
// on `err`, or the user waits for a window that never comes.
bool ChooseHeadless(bool asked, std::ostream& err);

// A live run whose display is lost (its X server ends, the connection
// breaks) ends as a closed window ends it, but without drawing: the window
// system's library cannot go on past the call that found the loss, so the
// run is finished from there. The frames measured so far go to the outputs
// (the frame under way is dropped), every output is finished (a picture not
// yet read is named as not taken), khost names the lost display on standard
// error and exits with status 1.
class LostDisplayEnd {
 public:
  LostDisplayEnd() = default;
  ~LostDisplayEnd() { Disarm(); }
  LostDisplayEnd(const LostDisplayEnd&) = delete;
  LostDisplayEnd& operator=(const LostDisplayEnd&) = delete;

  // From now on a lost display runs `finish`, which must finish the
  // outputs without touching the window or a GL context; its failures are
  // named on `err`, and what went to `out` is flushed before the process
  // ends.
  void Arm(std::function<Status()> finish, std::ostream& out, std::ostream& err);
  // From now on a lost display only ends the process (the outputs are
  // finished, or are not to be).
  void Disarm();

 private:
  static void OnLost(const char* display, void* self);
  std::function<Status()> mFinish;
  std::ostream* mOut = nullptr;
  std::ostream* mErr = nullptr;
  bool mArmed = false;
};

}  // namespace khost
