#include "khost/scene/scene_source.h"

#include <sys/stat.h>

#include <sstream>

#include "khost/cli/quoting.h"
#include "khost/scene/isolated_import.h"

namespace khost {

namespace {

constexpr const char* kBuiltin = "builtin";

void ReportNotes(const Model& model, std::ostream& err) {
  std::istringstream lines(model.Notes);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty())
      err << "khost: scene file " << QuoteArgument(model.Source) << ": " << line << "\n";
  }
}

}  // namespace

Result<SceneChoice> ChooseScene(const std::optional<std::string>& flag,
                                const std::string& configuredFile, int configuredInstances,
                                int configuredCharacters, std::ostream& err) {
  const SceneChoice builtin{nullptr, configuredCharacters};
  if (flag) {
    if (*flag == kBuiltin) return builtin;
    Result<Model> model = ImportIsolated(*flag);
    if (!model) {
      Error error = model.GetError();
      error.Message = "--scene: " + error.Message;
      return error;
    }
    ReportNotes(*model, err);
    return SceneChoice{std::make_shared<const Model>(std::move(*model)), configuredInstances};
  }
  if (configuredFile.empty() || configuredFile == kBuiltin) return builtin;
  struct stat info {};
  if (stat(configuredFile.c_str(), &info) != 0) {
    err << "khost: the default scene file " << QuoteArgument(configuredFile)
        << " is missing; running the built-in characters\n";
    return builtin;
  }
  Result<Model> model = ImportIsolated(configuredFile);
  if (!model) {
    err << "khost: " << model.GetError().Message << "; running the built-in characters\n";
    return builtin;
  }
  ReportNotes(*model, err);
  return SceneChoice{std::make_shared<const Model>(std::move(*model)), configuredInstances};
}

}  // namespace khost
