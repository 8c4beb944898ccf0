#include "khost/import/scene_source.h"

#include <sys/stat.h>

#include <sstream>

#include "khost/base/quoting.h"

namespace khost {

namespace {

void ReportNotes(const Model& model, std::ostream& err) {
  std::istringstream lines(model.Notes);
  const std::string name = QuoteArgument(model.Source);
  for (std::string line; std::getline(lines, line);) {
    if (!line.empty()) err << "khost: scene file " << name << ": " << EscapeControls(line) << "\n";
  }
}

bool Abandoned(const ImportOptions& options) {
  return options.Interrupted && options.Interrupted() != 0;
}

}  // namespace

Result<SceneChoice> ChooseScene(const std::optional<std::string>& flag,
                                const std::string& configuredFile,
                                const std::string& configuredFolder, int configuredInstances,
                                int configuredCharacters, std::ostream& err,
                                const ImportOptions& options) {
  const SceneChoice builtin{nullptr, configuredCharacters};
  if (flag) {
    if (*flag == kBuiltinScene) return builtin;
    Result<Model> model = ImportIsolated(*flag, {}, options);
    if (!model) {
      if (Abandoned(options)) return model.GetError();
      Error error = model.GetError();
      error.Message = "--scene: " + error.Message;
      return error;
    }
    ReportNotes(*model, err);
    return SceneChoice{std::make_shared<const Model>(std::move(*model)), configuredInstances};
  }
  if (configuredFile.empty() || configuredFile == kBuiltinScene) return builtin;
  const std::string file = configuredFile[0] == '/' || configuredFolder.empty()
                               ? configuredFile
                               : configuredFolder + "/" + configuredFile;
  struct stat info {};
  if (stat(file.c_str(), &info) != 0) {
    err << "khost: the default scene file " << QuoteArgument(file)
        << " is missing; running the built-in characters\n";
    return builtin;
  }
  Result<Model> model = ImportIsolated(file, {}, options);
  if (!model) {
    if (Abandoned(options)) return model.GetError();
    err << "khost: " << model.GetError().Message << "; running the built-in characters\n";
    return builtin;
  }
  ReportNotes(*model, err);
  return SceneChoice{std::make_shared<const Model>(std::move(*model)), configuredInstances};
}

}  // namespace khost
