// khost's flags, as one table: each flag's spelling, the kind of value it
// takes and its range, whether it may repeat, what it needs, its --help
// text and what it sets in the run's plan (run_plan.h). The parser, its
// messages, --help and the command-line tests are all driven by it.
//
// Adding a flag is one row in cli_flags.cpp plus its field in RunPlan.
#pragma once

#include <span>
#include <string>
#include <string_view>

#include "khost/base/status.h"

namespace khost {

struct RunPlan;

enum class ValueKind {
  kNone,        // a switch: takes no value
  kNumber,      // a number (see cli_values.h) within [Min, Max]
  kSize,        // WxH, each side a number within [Min, Max]
  kText,        // any text but the empty one
  kPath,        // a file or folder khost reads; "-" is refused
  kFileOutput,  // a file khost writes as PNG; "-" is refused
  kTextOutput,  // a text file khost writes; "-" is standard output
};

// A flag's value as the parser read it, handed to the flag's Store.
struct FlagValue {
  std::string Text;  // as given; kTextOutput: "-" is kStandardOutputName (standard_output.h)
  int Number = 0;    // kNumber
  int Width = 0;     // kSize
  int Height = 0;
  bool Off = false;  // kSize: the flag's Off value was given
};

struct Flag {
  std::string_view Name = {};   // "--frames"
  std::string_view Alias = {};  // another spelling ("-h"), or empty
  ValueKind Kind = ValueKind::kNone;
  std::string_view Value = {};  // the value's placeholder in --help: "N", "FILE"
  std::string_view Noun = {};   // the value as messages name it: "frame count"
  int Min = 0;                  // kNumber, kSize (each side): the range taken
  int Max = 0;
  std::string_view RangeNote = {};  // said after the range in messages, or empty
  std::string_view Off = {};        // kSize: a value (any case) that asks for none, or empty
  bool Repeats = false;             // may be given more than once (values accumulate)
  std::string_view Needs = {};      // a flag that must be given with this one, or empty
  // Other flags, separated by spaces, any of which may be given instead of
  // Needs, or empty.
  std::string_view NeedsOr = {};
  std::string_view Example = {};  // a value it takes, for tests and the fuzz driver
  // For --help; '\n' starts a new line. A default or limit it names is
  // written "{name}" and said from the constant the run takes it from
  // (cli.cpp's HelpFacts); "{min}" and "{max}" are the row's range. The same
  // goes for RangeNote.
  std::string_view Help = {};
  // Sets the flag's fields in the plan, once the value has passed the checks
  // of its kind; a refusal's message is said after "NAME: ".
  Status (*Store)(RunPlan&, const FlagValue&) = nullptr;
};

// Every flag, in the order --help lists them.
std::span<const Flag> Flags();
// The row spelled `spelling` (its name or alias), or null.
const Flag* FindFlag(std::string_view spelling);

// Rules between flags that the rows cannot say alone (beyond Needs), checked
// once every flag is read.
Status CheckFlagsTogether(const RunPlan& plan);

}  // namespace khost
