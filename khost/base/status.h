// khost's exit statuses and the one way its errors travel.
//
//   ExitStatus   the process's exit statuses, named once
//   Error        a message naming what went wrong, and the status it leads to
//   Status       the outcome of a step that returns nothing: ok or an Error
//   Result<T>    the outcome of a step that returns a T: a T or an Error
//
// Every step of khost that can fail returns a Status or a Result; the
// message is printed once, by whoever ends the run, as "khost: MESSAGE".
#pragma once

#include <string>
#include <utility>
#include <variant>

namespace khost {

enum class ExitStatus : int {
  kSuccess = 0,   // the run did what was asked
  kFailure = 1,   // something the run needed could not be done
  kBadInput = 2,  // the command line, or what it names, is not usable
  kSlower = 3,    // a comparison measured a cycle slower than --fail-if-slower allows
};

constexpr int ExitCode(ExitStatus status) {
  return static_cast<int>(status);
}
// The exit status of a run that signal `signal` stopped: 128 + its number,
// as a shell reports a process the signal ended.
constexpr int SignalExitCode(int signal) {
  return 128 + signal;
}

struct Error {
  ExitStatus Code = ExitStatus::kFailure;
  std::string Message;  // names the input or file at fault; no "khost: " prefix
};

inline Error Failure(std::string message) {
  return Error{ExitStatus::kFailure, std::move(message)};
}
inline Error BadInput(std::string message) {
  return Error{ExitStatus::kBadInput, std::move(message)};
}
inline Error Slower(std::string message) {
  return Error{ExitStatus::kSlower, std::move(message)};
}

class [[nodiscard]] Status {
 public:
  Status() = default;                                            // ok
  Status(Error error) : mError(std::move(error)), mOk(false) {}  // NOLINT: implicit on purpose

  bool Ok() const { return mOk; }
  explicit operator bool() const { return mOk; }
  const Error& GetError() const { return mError; }
  ExitStatus Code() const { return mOk ? ExitStatus::kSuccess : mError.Code; }

 private:
  Error mError;
  bool mOk = true;
};

template <class T>
class [[nodiscard]] Result {
 public:
  Result(T value) : mValue(std::move(value)) {}      // NOLINT: implicit on purpose
  Result(Error error) : mValue(std::move(error)) {}  // NOLINT: implicit on purpose

  bool Ok() const { return std::holds_alternative<T>(mValue); }
  explicit operator bool() const { return Ok(); }
  T& Value() { return std::get<T>(mValue); }
  const T& Value() const { return std::get<T>(mValue); }
  T& operator*() { return Value(); }
  const T& operator*() const { return Value(); }
  T* operator->() { return &Value(); }
  const T* operator->() const { return &Value(); }
  const Error& GetError() const { return std::get<Error>(mValue); }
  // The error as a Status, to pass it up from a step that returns nothing.
  Status AsStatus() const { return Ok() ? Status() : Status(GetError()); }

 private:
  std::variant<T, Error> mValue;
};

// The same outcome, its message led by `prefix` (the flag or part it belongs
// to: "--stats: "), its status kept.
inline Status Prefixed(const std::string& prefix, const Status& status) {
  if (status.Ok()) return status;
  return Error{status.Code(), prefix + status.GetError().Message};
}

// Both outcomes of two independent steps: the first failure's status, and
// when both failed, both messages, the second on a line of its own with the
// prefix the printer gives the first.
inline Status Both(Status first, const Status& second) {
  if (second.Ok()) return first;
  if (first.Ok()) return second;
  return Error{first.Code(), first.GetError().Message + "\nkhost: " + second.GetError().Message};
}

}  // namespace khost
