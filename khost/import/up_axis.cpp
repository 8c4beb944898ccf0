#include "khost/import/up_axis.h"

#include <assimp/scene.h>

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <fstream>

namespace khost {

namespace {

constexpr float kHalfPi = 1.57079632679f;
constexpr std::size_t kMetricWindow = 64 * 1024;  // OpenGEX states its metrics first

std::string Lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return text;
}

// The extensions whose files are Z-up by their format's convention and
// that the import library does not turn itself.
bool ZUpByConvention(const std::string& extension) {
  for (const char* zUp : {".blend", ".stl", ".3mf", ".amf", ".cob", ".scn", ".hmp", ".ter", ".csm"})
    if (extension == zUp) return true;
  return false;
}

// FBX's statement, as the importer gives it: UpAxis 0..2 and UpAxisSign.
std::optional<UpDirection> FromMetadata(const aiScene& scene) {
  if (!scene.mMetaData) return std::nullopt;
  int32_t axis = -1;
  int32_t sign = 1;
  if (!scene.mMetaData->Get("UpAxis", axis) || axis < 0 || axis > 2) return std::nullopt;
  if (!scene.mMetaData->Get("UpAxisSign", sign)) sign = 1;
  return UpDirection{axis, sign < 0 ? -1 : 1};
}

// Reads `text` from `at` on: skips white space, then takes `word` when it
// comes next.
bool Expect(const std::string& text, std::size_t& at, std::string_view word) {
  while (at < text.size() && std::isspace(static_cast<unsigned char>(text[at]))) ++at;
  if (text.compare(at, word.size(), word) != 0) return false;
  at += word.size();
  return true;
}

// OpenGEX's statement: Metric (key = "up") {string {"z"}}; Z when the file
// says nothing.
UpDirection FromOpenGex(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::string head(kMetricWindow, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  head.resize(static_cast<std::size_t>(std::max<std::streamsize>(in.gcount(), 0)));
  for (std::size_t found = head.find("Metric"); found != std::string::npos;
       found = head.find("Metric", found + 1)) {
    std::size_t at = found + 6;
    if (!Expect(head, at, "(") || !Expect(head, at, "key") || !Expect(head, at, "=") ||
        !Expect(head, at, "\"up\"") || !Expect(head, at, ")") || !Expect(head, at, "{") ||
        !Expect(head, at, "string") || !Expect(head, at, "{") || !Expect(head, at, "\"") ||
        at >= head.size())
      continue;
    const char axis = static_cast<char>(std::tolower(static_cast<unsigned char>(head[at])));
    if (axis >= 'x' && axis <= 'z') return UpDirection{axis - 'x', 1};
  }
  return UpDirection{2, 1};
}

}  // namespace

UpDirection FindUpDirection(const aiScene& scene, const std::string& path,
                            std::optional<UpAxis> given) {
  if (given) return UpDirection{*given == UpAxis::kZ ? 2 : 1, 1};
  if (const std::optional<UpDirection> stated = FromMetadata(scene)) return *stated;
  const std::string extension = Lower(std::filesystem::path(path).extension().string());
  if (extension == ".ogex") return FromOpenGex(path);
  if (ZUpByConvention(extension)) return UpDirection{2, 1};
  return UpDirection{1, 1};
}

Quat StandUpRotation(UpDirection up) {
  const float sign = up.Sign < 0 ? -1.0f : 1.0f;
  switch (up.Axis) {
    case 0:  // +X up: a quarter turn about Z brings X to Y
      return QuatFromAxisAngle({0, 0, 1}, sign * kHalfPi);
    case 2:  // +Z up: a quarter turn back about X brings Z to Y
      return QuatFromAxisAngle({1, 0, 0}, -sign * kHalfPi);
    default:
      return sign > 0 ? Quat{} : QuatFromAxisAngle({1, 0, 0}, 2.0f * kHalfPi);
  }
}

std::string DirectionName(UpDirection up) {
  return std::string(up.Sign < 0 ? "-" : "+") + static_cast<char>('X' + up.Axis);
}

}  // namespace khost
