// A receiver for property and event tests: records each call and can run an
// action from inside a handler.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "host/kbaselib.h"

class Recorder : public ICallback {
 public:
  explicit Recorder(std::string name, std::vector<std::string>* log = nullptr)
      : mName(std::move(name)), mLog(log) {}
  virtual ~Recorder() = default;

  IObject* IQuery(unsigned long, int) override { return this; }
  void Destroy(int) override {}

  void OnEvent(IRegister* sender, KEventBase* event) {
    ++Calls;
    LastSender = sender;
    LastEvent = event;
    if (event) {
      LastEventId = event->EventId;
      LastData = event->Data;
    }
    if (mLog) mLog->push_back(mName);
    if (Action) Action();
  }
  void OnOther(IRegister*, KEventBase*) {
    ++OtherCalls;
    if (mLog) mLog->push_back(mName + "/other");
  }

  int Calls = 0;
  int OtherCalls = 0;
  IRegister* LastSender = nullptr;
  KEventBase* LastEvent = nullptr;
  int LastEventId = -1;
  void* LastData = nullptr;
  std::function<void()> Action;

 private:
  std::string mName;
  std::vector<std::string>* mLog;
};

inline kICallbackHandler OnEventHandler() {
  return KCALLBACK_HANDLER(Recorder::OnEvent);
}
inline kICallbackHandler OnOtherHandler() {
  return KCALLBACK_HANDLER(Recorder::OnOther);
}
