#include "khost/import/material_import.h"

#include <assimp/GltfMaterial.h>
#include <assimp/material.h>

#include <algorithm>
#include <filesystem>
#include <iterator>
#include <limits>
#include <memory>
#include <new>
#include <utility>

#include "khost/base/quoting.h"
#include "khost/import/image_files.h"
#include "khost/import/isolated_import.h"

namespace khost {

namespace {

// How long the images may take to decode, from the first: half the
// import's time limit, the rest left to the library and the reply.
constexpr double kImageSeconds = ImportLimits{}.Seconds / 2;

ImageWrap WrapOf(int mode) {
  switch (mode) {
    case aiTextureMapMode_Clamp:
    case aiTextureMapMode_Decal:
      return ImageWrap::kClamp;
    case aiTextureMapMode_Mirror:
      return ImageWrap::kMirror;
    default:
      return ImageWrap::kRepeat;
  }
}

// Whether the image's alpha cuts anything out: some texel is not opaque,
// and not every texel is clear (an alpha channel of zeros holds nothing).
bool Transparent(const std::vector<uint8_t>& rgba) {
  uint8_t lowest = 255;
  uint8_t highest = 0;
  for (std::size_t i = 3; i < rgba.size(); i += 4) {
    lowest = std::min(lowest, rgba[i]);
    highest = std::max(highest, rgba[i]);
  }
  return lowest < 255 && highest > 0;
}

// An embedded image held as texels (ARGB8888) rather than a file's bytes,
// as RGBA, scaled to fit.
Result<DecodedImage> FromTexels(const aiTexture& texture) {
  const std::size_t width = texture.mWidth;
  const std::size_t height = texture.mHeight;
  if (!texture.pcData || width == 0 || height == 0) return Failure("it holds no texels");
  if (width > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      height > static_cast<std::size_t>(std::numeric_limits<int>::max()) ||
      width * height > kMaxDecodedPixels)
    return Failure("it is too large (" + std::to_string(width) + "x" + std::to_string(height) +
                   " texels)");
  DecodedImage image;
  image.Width = image.SourceWidth = static_cast<int>(width);
  image.Height = image.SourceHeight = static_cast<int>(height);
  try {
    image.Rgba.resize(width * height * 4);
  } catch (const std::bad_alloc&) {
    return Failure("there is not memory enough to read it");
  }
  for (std::size_t k = 0; k < width * height; ++k) {
    const aiTexel& t = texture.pcData[k];
    uint8_t* out = &image.Rgba[k * 4];
    out[0] = t.r;
    out[1] = t.g;
    out[2] = t.b;
    out[3] = t.a;
  }
  int fitWidth = 0;
  int fitHeight = 0;
  FitSide(image.Width, image.Height, kMaxImageSide, fitWidth, fitHeight);
  if (!ScaleImage(image, fitWidth, fitHeight))
    return Failure("there is not memory enough to scale it down");
  return image;
}

}  // namespace

std::string TextOf(const aiString& text) {
  return std::string(text.C_Str(), std::min<std::size_t>(text.length, MAXLEN));
}

MaterialImport::MaterialImport(const aiScene& scene, const std::string& scenePath, bool images,
                               Model& out, std::string& notes)
    : mScene(scene),
      mFolder(std::filesystem::path(scenePath).parent_path().string()),
      mImages(images),
      mOut(out),
      mNotes(notes) {}

bool MaterialImport::Apply(unsigned index, bool hasTexCoords, ModelMesh& mesh) {
  if (!mScene.mMaterials || index >= mScene.mNumMaterials || !mScene.mMaterials[index])
    return false;
  const aiMaterial& material = *mScene.mMaterials[index];
  // How notes name the material: by its name, else by its place.
  aiString name;
  const std::string label = material.Get(AI_MATKEY_NAME, name) == AI_SUCCESS && name.length > 0
                                ? "material " + QuoteArgument(TextOf(name))
                                : "material " + std::to_string(index) + " (unnamed)";
  aiColor4D colour;
  float alpha = 1.0f;
  const bool coloured = material.Get(AI_MATKEY_BASE_COLOR, colour) == AI_SUCCESS ||
                        material.Get(AI_MATKEY_COLOR_DIFFUSE, colour) == AI_SUCCESS;
  if (coloured) {
    mesh.Colour[0] = colour.r;
    mesh.Colour[1] = colour.g;
    mesh.Colour[2] = colour.b;
    alpha = colour.a;
  }
  // A glTF material states its alpha mode and its sides, and its base
  // colour carries its opacity. Other formats give an opacity, and blend
  // when it is below 1; an opacity of 0, which their exporters write for
  // "no transparency" as often as for "unseen", is taken as opaque. Their
  // sidedness is taken when two-sided: one-sided is what the library says
  // of most of their materials, whatever the file held.
  aiString modeText;
  const bool stated = material.Get(AI_MATKEY_GLTF_ALPHAMODE, modeText) == AI_SUCCESS;
  int twoSided = 0;
  if (material.Get(AI_MATKEY_TWOSIDED, twoSided) == AI_SUCCESS && (stated || twoSided != 0))
    mesh.Sides = twoSided != 0 ? Sidedness::kTwoSided : Sidedness::kOneSided;
  if (stated) {
    const std::string mode = TextOf(modeText);
    mesh.Alpha = mode == "MASK"    ? AlphaMode::kMask
                 : mode == "BLEND" ? AlphaMode::kBlend
                                   : AlphaMode::kOpaque;
    float cutoff = 0.5f;
    if (material.Get(AI_MATKEY_GLTF_ALPHACUTOFF, cutoff) == AI_SUCCESS) mesh.AlphaCutoff = cutoff;
    mesh.Opacity = alpha;
  } else {
    float opacity = 1.0f;
    if (material.Get(AI_MATKEY_OPACITY, opacity) == AI_SUCCESS && opacity > 0.0f)
      mesh.Opacity = opacity;
    if (mesh.Opacity < 1.0f) mesh.Alpha = AlphaMode::kBlend;
  }
  if (!mImages || !hasTexCoords) return false;
  const aiTextureType type = material.GetTextureCount(aiTextureType_BASE_COLOR) > 0
                                 ? aiTextureType_BASE_COLOR
                                 : aiTextureType_DIFFUSE;
  mesh.Image = ImageOf(material, type, label);
  if (mesh.Image < 0) return false;
  // A material that states no colour is its image's colours as they are,
  // not dimmed by the grey an untextured mesh gets.
  if (!coloured) std::fill(std::begin(mesh.Colour), std::end(mesh.Colour), 1.0f);
  int wrapU = aiTextureMapMode_Wrap;
  int wrapV = aiTextureMapMode_Wrap;
  material.Get(AI_MATKEY_MAPPINGMODE_U(type, 0), wrapU);
  material.Get(AI_MATKEY_MAPPINGMODE_V(type, 0), wrapV);
  mesh.WrapU = WrapOf(wrapU);
  mesh.WrapV = WrapOf(wrapV);
  // Without a stated mode, an image whose alpha cuts shapes out (leaves,
  // hair, fences) is drawn cut out, unless the file says to ignore it.
  int flags = 0;
  material.Get(AI_MATKEY_TEXFLAGS(type, 0), flags);
  if (!stated && mesh.Alpha == AlphaMode::kOpaque &&
      mDecoded[static_cast<std::size_t>(mesh.Image)].Transparent &&
      (flags & aiTextureFlags_IgnoreAlpha) == 0)
    mesh.Alpha = AlphaMode::kMask;
  return true;
}

bool MaterialImport::TimeLeft() {
  const auto now = std::chrono::steady_clock::now();
  if (!mFirstImage) mFirstImage = now;
  return std::chrono::duration<double>(now - *mFirstImage).count() < kImageSeconds;
}

const aiTexture* MaterialImport::Embedded(const std::string& named) const {
  if (!mScene.mTextures || mScene.mNumTextures == 0) return nullptr;
  // "*N": the scene's Nth embedded image.
  if (named.size() > 1 && named[0] == '*' &&
      named.find_first_not_of("0123456789", 1) == std::string::npos && named.size() < 10) {
    const unsigned long index = std::stoul(named.substr(1));
    return index < mScene.mNumTextures ? mScene.mTextures[index] : nullptr;
  }
  // Else an embedded image of the same file name (FBX keeps the path the
  // image had).
  const auto shortName = [](const std::string& path) {
    const std::size_t slash = path.find_last_of("/\\");
    return slash == std::string::npos ? path : path.substr(slash + 1);
  };
  const std::string wanted = shortName(named);
  for (unsigned i = 0; i < mScene.mNumTextures; ++i) {
    const aiTexture* texture = mScene.mTextures[i];
    if (texture && shortName(TextOf(texture->mFilename)) == wanted) return texture;
  }
  return nullptr;
}

int MaterialImport::ImageOf(const aiMaterial& material, aiTextureType type,
                            const std::string& label) {
  aiString path;
  if (material.GetTexture(type, 0, &path) != AI_SUCCESS) return -1;
  const std::string named = TextOf(path);
  // A material naming no image (MD5's empty shader) has none to miss.
  if (named.empty()) return -1;
  if (const auto known = mByName.find(named); known != mByName.end()) return known->second;
  int index = -1;
  if (!TimeLeft()) {
    mNotes += label + ": texture " + QuoteArgument(named) +
              " was not read: the model's images took " +
              std::to_string(static_cast<int>(kImageSeconds)) +
              " s, half the import's time limit, already; drawn in its base colour\n";
  } else if (const aiTexture* embedded = Embedded(named)) {
    index = Decoded(named, label + ": embedded texture " + QuoteArgument(named),
                    embedded->mHeight == 0
                        ? DecodeImageBytes(reinterpret_cast<const uint8_t*>(embedded->pcData),
                                           embedded->mWidth, kMaxImageSide)
                        : FromTexels(*embedded));
  } else if (const std::string file = FindImageFile(mFolder, named); file.empty()) {
    mNotes +=
        label + ": texture " + QuoteArgument(named) + " is missing; drawn in its base colour\n";
  } else if (const auto found = mByName.find(file); found != mByName.end()) {
    index = found->second;
  } else {
    // Read, and so an input of the run, whatever it turns out to hold.
    if (std::find(mOut.ReadFiles.begin(), mOut.ReadFiles.end(), file) == mOut.ReadFiles.end())
      mOut.ReadFiles.push_back(file);
    index = Decoded(file, label + ": texture " + QuoteArgument(file),
                    DecodeImageFile(file, kMaxImageSide));
    mByName[file] = index;
  }
  mByName[named] = index;
  return index;
}

int MaterialImport::Decoded(std::string name, std::string what, Result<DecodedImage> decoded) {
  if (!decoded) {
    mNotes += what + ": " + decoded.GetError().Message + "; drawn in its base colour\n";
    return -1;
  }
  Image image;
  image.Name = std::move(name);
  image.What = std::move(what);
  image.Transparent = Transparent(decoded->Rgba);
  image.Pixels = std::move(*decoded);
  mDecoded.push_back(std::move(image));
  KeepWithinBudget();
  return static_cast<int>(mDecoded.size()) - 1;
}

void MaterialImport::KeepWithinBudget() {
  const auto bytes = [](const Image& image) { return image.Pixels.Rgba.size(); };
  std::size_t total = 0;
  for (const Image& image : mDecoded) total += bytes(image);
  // The largest image is halved until all fit: the detail lost is spread
  // over the images that hold the most.
  while (total > kImageBudgetBytes) {
    Image& largest =
        *std::max_element(mDecoded.begin(), mDecoded.end(),
                          [&](const Image& a, const Image& b) { return bytes(a) < bytes(b); });
    const DecodedImage& pixels = largest.Pixels;
    if (pixels.Width <= 1 && pixels.Height <= 1) break;
    const std::size_t before = bytes(largest);
    if (!ScaleImage(largest.Pixels, std::max(1, pixels.Width / 2), std::max(1, pixels.Height / 2)))
      largest.Pixels = DecodedImage{};  // dropped in Finish
    largest.ScaledForBudget = true;
    total -= before - bytes(largest);
  }
}

void MaterialImport::Finish() {
  std::vector<int> kept(mDecoded.size(), -1);
  for (std::size_t k = 0; k < mDecoded.size(); ++k) {
    Image& image = mDecoded[k];
    DecodedImage& pixels = image.Pixels;
    const std::string& named = image.What;
    if (pixels.Rgba.empty()) {
      mNotes += named + ": there is not memory enough to scale it down; drawn in its base colour\n";
      continue;
    }
    if (pixels.Width != pixels.SourceWidth || pixels.Height != pixels.SourceHeight) {
      const std::string why = image.ScaledForBudget
                                  ? "(the model's images are kept within " +
                                        std::to_string(kImageBudgetBytes >> 20) + " MiB)"
                                  : "(at most " + std::to_string(kMaxImageSide) + " pixels a side)";
      mNotes += named + ": " + std::to_string(pixels.SourceWidth) + "x" +
                std::to_string(pixels.SourceHeight) + " scaled down to " +
                std::to_string(pixels.Width) + "x" + std::to_string(pixels.Height) + " " + why +
                "\n";
    }
    kept[k] = static_cast<int>(mOut.Images.size());
    mOut.Images.push_back({std::move(image.Name), pixels.Width, pixels.Height,
                           std::make_shared<const std::vector<uint8_t>>(std::move(pixels.Rgba))});
  }
  for (ModelMesh& mesh : mOut.Meshes) {
    if (mesh.Image >= 0) mesh.Image = kept[static_cast<std::size_t>(mesh.Image)];
  }
  mDecoded.clear();
}

}  // namespace khost
