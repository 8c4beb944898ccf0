// The import library's materials as the host draws them: base colour and
// opacity, alpha mode, sidedness, and the base-colour (else diffuse) image
// with its wrap modes. Images come embedded in the scene (glb, FBX, the
// library's embedded textures) or from files beside it (image_files.h);
// each is decoded once (image_decode.h), in the import's child process.
//
// An image that cannot be used (missing, unreadable, not an image,
// truncated, too large) is a note naming it and its material, once; its
// meshes are drawn in their base colours. Images larger than
// kMaxImageSide a side, or together larger than kImageBudgetBytes, are
// scaled down, with a note. Once decoding has taken half the import's time
// limit, the images left are not read (a note names each), so that a model
// with many large images still arrives, partly untextured.
#pragma once

#include <assimp/scene.h>

#include <chrono>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "khost/import/image_decode.h"
#include "khost/runtime/model.h"

namespace khost {

// A text of the import library's, as it holds it (at most MAXLEN bytes).
std::string TextOf(const aiString& text);

class MaterialImport {
 public:
  // Materials of `scene`, read from the file `scenePath`, for meshes of
  // `out`: image files read are added to out.ReadFiles, notes to `notes`.
  // Without `images` no image is read.
  MaterialImport(const aiScene& scene, const std::string& scenePath, bool images, Model& out,
                 std::string& notes);

  // Gives `mesh` the scene's material `index` (one the scene lacks leaves
  // the defaults). Its image only when `hasTexCoords`: returns whether the
  // mesh samples one (and so needs its texture coordinates).
  bool Apply(unsigned index, bool hasTexCoords, ModelMesh& mesh);

  // Moves the decoded images into the model and notes those scaled down.
  // Call once, after the last Apply.
  void Finish();

 private:
  struct Image {
    std::string Name;  // the file, or how the material names the embedded image
    std::string What;  // as notes name it, with its material
    DecodedImage Pixels;
    bool Transparent = false;  // some texel is not opaque, and not every texel is clear
    bool ScaledForBudget = false;
  };
  // The image the material's `type` texture names, or -1; `label` names
  // the material in notes.
  int ImageOf(const aiMaterial& material, aiTextureType type, const std::string& label);
  // `decoded` kept as mDecoded's next image, or -1 with a note naming
  // `what` (the material and the image).
  int Decoded(std::string name, std::string what, Result<DecodedImage> decoded);
  const aiTexture* Embedded(const std::string& named) const;
  // Whether an image may still be read, the time taken allowing.
  bool TimeLeft();
  void KeepWithinBudget();

  const aiScene& mScene;
  std::string mFolder;  // the scene file's
  bool mImages;
  Model& mOut;
  std::string& mNotes;
  std::vector<Image> mDecoded;
  std::optional<std::chrono::steady_clock::time_point> mFirstImage;
  // What each name a material gives, and each file found, became: an
  // index into mDecoded, or -1 for an image that cannot be used.
  std::map<std::string, int> mByName;
};

}  // namespace khost
