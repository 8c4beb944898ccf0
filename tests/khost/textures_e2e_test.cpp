// khost drawing its models' images, as a user runs it: a textured model of
// the test-model package shows its image's colours, with CPU and GPU
// skinning alike; an image that is missing, truncated, too large or a
// single pixel is a note (or nothing) and its mesh is still drawn; an image
// the scene reads is an input no output may replace.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include "e2e_pictures.h"
#include "e2e_support.h"
#include "ksurface.h"

namespace {

using namespace khost_e2e;

const fs::path kModels = "/usr/share/assimp/models";
constexpr int kViewport = 640;  // the viewport's width, left of the tool

bool Near(const unsigned char* p, int r, int g, int b) {
  return std::abs(p[0] - r) <= 10 && std::abs(p[1] - g) <= 10 && std::abs(p[2] - b) <= 10;
}

// The viewport's pixels that are neither sky, ground nor grid: the model's.
std::vector<const unsigned char*> ModelPixels(const Image& image) {
  std::vector<const unsigned char*> pixels;
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < std::min(kViewport, image.Width); ++x) {
      const unsigned char* p = image.At(x, y);
      if (!Near(p, 158, 184, 219) && !Near(p, 102, 115, 102) && !Near(p, 71, 82, 71))
        pixels.push_back(p);
    }
  }
  return pixels;
}

int Chroma(const unsigned char* p) {
  return std::max({p[0], p[1], p[2]}) - std::min({p[0], p[1], p[2]});
}

// How a picture of the model is coloured: the share of its pixels that are
// clearly coloured (not grey), and how many colours (4 bits a channel) it
// shows.
struct Colouring {
  std::size_t Pixels = 0;
  double Coloured = 0.0;
  std::size_t Colours = 0;
};

Colouring ColouringOf(const Image& image) {
  const std::vector<const unsigned char*> pixels = ModelPixels(image);
  Colouring c;
  c.Pixels = pixels.size();
  std::set<int> colours;
  std::size_t coloured = 0;
  for (const unsigned char* p : pixels) {
    coloured += Chroma(p) > 30 ? 1 : 0;
    colours.insert((p[0] >> 4) << 8 | (p[1] >> 4) << 4 | p[2] >> 4);
  }
  c.Coloured = pixels.empty() ? 0.0 : static_cast<double>(coloured) / pixels.size();
  c.Colours = colours.size();
  return c;
}

// The share of the viewport's pixels where the two pictures differ by more
// than `tolerance` in a channel.
double Differing(const Image& a, const Image& b, int tolerance) {
  if (a.Width != b.Width || a.Height != b.Height || a.Rgba.empty()) return 1.0;
  long differing = 0;
  for (int y = 0; y < a.Height; ++y) {
    for (int x = 0; x < kViewport; ++x) {
      for (int c = 0; c < 3; ++c) {
        if (std::abs(a.At(x, y)[c] - b.At(x, y)[c]) > tolerance) {
          ++differing;
          break;
        }
      }
    }
  }
  return static_cast<double>(differing) / (static_cast<double>(kViewport) * a.Height);
}

std::size_t Count(const std::string& text, const std::string& part) {
  std::size_t n = 0;
  for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST(KhostTextures, ATexturedModelShowsItsImageWithCpuAndGpuSkinningAlike) {
  for (const char* file : {"IQM/mrfixit.iqm", "Collada/duck.dae"}) {
    if (!fs::exists(kModels / file)) GTEST_SKIP() << "needs the assimp-testmodels package";
    Workspace w;
    const fs::path config =
        w.Config(std::string(kQuietApplication) + "[Scene]\nInstances = 4\n", "");
    const auto picture = [&](const std::vector<std::string>& more) {
      std::vector<std::string> args = {"--scene", (kModels / file).string(), "--window-screenshot",
                                       w.Path("w.png").string()};
      args.insert(args.end(), more.begin(), more.end());
      const RunResult r = w.Run(w.Headless(5, config, args));
      EXPECT_EQ(r.Status, 0) << file << ": " << r.Err;
      // Its images are found and read: nothing to say about them.
      EXPECT_EQ(r.Err.find("texture"), std::string::npos) << file << ": " << r.Err;
      return Load(w.Path("w.png"));
    };
    const Image cpu = picture({});
    const Image gpu = picture({"--set", "GPU Skinning=1"});
    const Image plain = picture({"--textures", "off"});
    const Colouring textured = ColouringOf(cpu);
    const Colouring flat = ColouringOf(plain);
    ASSERT_GT(flat.Pixels, 2000u) << file << ": no model in the picture";
    // In its base colour alone the model is a grey statue, shaded; with its
    // image it shows the image's colours.
    EXPECT_LT(flat.Coloured, 0.01) << file;
    EXPECT_GT(textured.Coloured, 0.1) << file;
    EXPECT_GT(textured.Colours, 2 * flat.Colours) << file;
    // GPU skinning samples the same image at the same places.
    EXPECT_LT(Differing(cpu, gpu, 24), 0.001) << file;
  }
}

// A scene of quads side by side, written as glTF: each quad a material with
// a base colour and, unless its image is empty, a base-colour texture. The
// quads face the camera; texture coordinates put the image's top row at
// the quad's top.
struct Quad {
  std::string Image;  // the image's URI, as the material names it
  float Colour[3] = {1, 1, 1};
};

void WriteQuads(const Workspace& w, const std::string& name, const std::vector<Quad>& quads) {
  std::vector<float> positions, normals, coords;
  for (std::size_t k = 0; k < quads.size(); ++k) {
    const float x = 1.2f * static_cast<float>(k);
    positions.insert(positions.end(),
                     {x - 0.5f, 0, 0, x + 0.5f, 0, 0, x + 0.5f, 1, 0, x - 0.5f, 1, 0});
    normals.insert(normals.end(), {0, 0, 1, 0, 0, 1, 0, 0, 1, 0, 0, 1});
    coords.insert(coords.end(), {0, 1, 1, 1, 1, 0, 0, 0});
  }
  const uint16_t indices[6] = {0, 1, 2, 0, 2, 3};
  std::string bin;
  for (const std::vector<float>* list : {&positions, &normals, &coords})
    bin.append(reinterpret_cast<const char*>(list->data()), list->size() * sizeof(float));
  bin.append(reinterpret_cast<const char*>(indices), sizeof indices);
  std::ofstream(w.Path(name + ".bin"), std::ios::binary) << bin;

  const std::size_t normalsAt = positions.size() * 4;
  const std::size_t coordsAt = normalsAt + normals.size() * 4;
  const std::size_t indicesAt = coordsAt + coords.size() * 4;
  std::string views =
      "{\"buffer\":0,\"byteOffset\":" + std::to_string(indicesAt) + ",\"byteLength\":12}";
  std::string accessors =
      "{\"bufferView\":0,\"componentType\":5123,\"count\":6,\"type\":\"SCALAR\"}";
  std::string nodes, meshes, materials, textures, images, roots;
  int image = 0;
  for (std::size_t k = 0; k < quads.size(); ++k) {
    const std::string n = std::to_string(k);
    const float x = 1.2f * static_cast<float>(k);
    for (const auto& [at, bytes] :
         {std::pair{k * 48, 48u}, {normalsAt + k * 48, 48u}, {coordsAt + k * 32, 32u}}) {
      views += ",{\"buffer\":0,\"byteOffset\":" + std::to_string(at) +
               ",\"byteLength\":" + std::to_string(bytes) + "}";
    }
    const std::size_t view = 1 + 3 * k;
    accessors += ",{\"bufferView\":" + std::to_string(view) +
                 ",\"componentType\":5126,\"count\":4,\"type\":\"VEC3\",\"min\":[" +
                 std::to_string(x - 0.5f) + ",0,0],\"max\":[" + std::to_string(x + 0.5f) + ",1,0]}";
    accessors += ",{\"bufferView\":" + std::to_string(view + 1) +
                 ",\"componentType\":5126,\"count\":4,\"type\":\"VEC3\"}";
    accessors += ",{\"bufferView\":" + std::to_string(view + 2) +
                 ",\"componentType\":5126,\"count\":4,\"type\":\"VEC2\"}";
    const std::string first = std::to_string(1 + 3 * k);
    const std::string sep = k ? "," : "";
    roots += sep + n;
    nodes += sep + "{\"mesh\":" + n + "}";
    meshes += sep + "{\"primitives\":[{\"attributes\":{\"POSITION\":" + first +
              ",\"NORMAL\":" + std::to_string(2 + 3 * k) +
              ",\"TEXCOORD_0\":" + std::to_string(3 + 3 * k) + "},\"indices\":0,\"material\":" + n +
              "}]}";
    const Quad& q = quads[k];
    std::string pbr = "\"baseColorFactor\":[" + std::to_string(q.Colour[0]) + "," +
                      std::to_string(q.Colour[1]) + "," + std::to_string(q.Colour[2]) + ",1]";
    if (!q.Image.empty()) {
      pbr += ",\"baseColorTexture\":{\"index\":" + std::to_string(image) + "}";
      textures += std::string(image ? "," : "") + "{\"source\":" + std::to_string(image) + "}";
      images += std::string(image ? "," : "") + "{\"uri\":\"" + q.Image + "\"}";
      ++image;
    }
    materials += sep + "{\"name\":\"Quad " + n + "\",\"pbrMetallicRoughness\":{" + pbr + "}}";
  }
  std::ofstream(w.Path(name + ".gltf"))
      << "{\"asset\":{\"version\":\"2.0\"},\"scene\":0,\"scenes\":[{\"nodes\":[" << roots
      << "]}],\"nodes\":[" << nodes << "],\"meshes\":[" << meshes << "],\"materials\":["
      << materials << "],\"textures\":[" << textures << "],\"images\":[" << images
      << "],\"buffers\":[{\"uri\":\"" << name << ".bin\",\"byteLength\":" << bin.size()
      << "}],\"bufferViews\":[" << views << "],\"accessors\":[" << accessors << "]}";
}

// An RGBA image of `width` x `height`, `rows` giving each row's colour from
// the top, as a PNG file's bytes.
std::vector<unsigned char> Png(int width, int height,
                               const std::vector<std::vector<unsigned char>>& rows) {
  std::vector<unsigned char> rgba;
  for (int y = 0; y < height; ++y)
    for (int x = 0; x < width; ++x) rgba.insert(rgba.end(), rows[y].begin(), rows[y].end());
  std::vector<unsigned char> png;
  std::string error;
  EXPECT_TRUE(KPng_Encode(width, height, rgba.data(), png, &error)) << error;
  return png;
}

void WriteBytes(const fs::path& path, const std::vector<unsigned char>& bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// Pixels of the viewport where one colour clearly leads: red, green or
// blue alone (more than 100, the others under 40), or red and green
// (yellow).
struct Hues {
  int Red = 0, Green = 0, Blue = 0, Yellow = 0;
};

Hues HuesOf(const Image& image) {
  Hues h;
  for (const unsigned char* p : ModelPixels(image)) {
    const bool r = p[0] > 100, g = p[1] > 100, b = p[2] > 100;
    const bool r0 = p[0] < 40, g0 = p[1] < 40, b0 = p[2] < 40;
    h.Red += r && g0 && b0;
    h.Green += g && r0 && b0;
    h.Blue += b && r0 && g0;
    h.Yellow += r && g && b0;
  }
  return h;
}

TEST(KhostTextures, ImagesThatCannotBeUsedAreANoteAndTheirMeshesAreDrawnInTheirBaseColours) {
  Workspace w;
  const fs::path config = w.Config(std::string(kQuietApplication) + "[Scene]\nInstances = 1\n", "");
  // A whole PNG cut in half; a PNG header stating 16384 x 16384 pixels; a
  // red pixel, named with backslashes in another case than the file's.
  const std::vector<unsigned char> whole =
      Png(64, 64, std::vector(64, std::vector<unsigned char>{0, 0, 255, 255}));
  WriteBytes(w.Path("cut.png"), {whole.begin(), whole.begin() + whole.size() / 2});
  std::vector<unsigned char> huge(whole.begin(), whole.begin() + 33);
  huge[16] = huge[20] = 0;
  huge[17] = huge[21] = 0;
  huge[18] = huge[22] = 0x40;  // 16384, big-endian
  huge[19] = huge[23] = 0;
  WriteBytes(w.Path("huge.png"), huge);
  fs::create_directories(w.Path("maps"));
  WriteBytes(w.Path("maps/red.png"), Png(1, 1, {{255, 0, 0, 255}}));
  WriteQuads(w, "quads",
             {{"missing.png", {0, 1, 0}},
              {"cut.png", {0, 0, 1}},
              {"huge.png", {1, 1, 0}},
              {"MAPS\\\\Red.PNG", {1, 1, 1}},
              {"missing.png", {0, 1, 0}}});
  const RunResult r = w.Run(w.Headless(
      3, config, {"--scene", "quads.gltf", "--window-screenshot", w.Path("w.png").string()}));
  EXPECT_EQ(r.Status, 0) << r.Err;
  // Each image named once, with its material, for all the meshes using it.
  EXPECT_EQ(Count(r.Err, "'missing.png' is missing"), 1u) << r.Err;
  EXPECT_NE(r.Err.find("material 'Quad 0'"), std::string::npos) << r.Err;
  EXPECT_EQ(Count(r.Err, "cut.png'"), 1u) << r.Err;
  EXPECT_NE(r.Err.find("truncated"), std::string::npos) << r.Err;
  EXPECT_EQ(Count(r.Err, "huge.png'"), 1u) << r.Err;
  EXPECT_NE(r.Err.find("too large (16384x16384"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("red.png"), std::string::npos) << r.Err;
  EXPECT_EQ(r.Err.find("Red.PNG"), std::string::npos) << r.Err;
  // Every quad is drawn: three in their base colours, one in its pixel's.
  const Hues hues = HuesOf(Load(w.Path("w.png")));
  EXPECT_GT(hues.Green, 200) << "the quads whose image is missing";
  EXPECT_GT(hues.Blue, 100) << "the quad whose image is cut short";
  EXPECT_GT(hues.Yellow, 100) << "the quad whose image is too large";
  EXPECT_GT(hues.Red, 100) << "the quad of the single red pixel";
}

TEST(KhostTextures, AnImageTheSceneReadsIsAnInputNoOutputMayReplace) {
  Workspace w;
  const fs::path config = w.Config(std::string(kQuietApplication) + "[Scene]\nInstances = 1\n", "");
  // Red above blue: the quad shows the image the right way up.
  fs::create_directories(w.Path("maps"));
  WriteBytes(w.Path("maps/skin.png"), Png(1, 2, {{255, 0, 0, 255}, {0, 0, 255, 255}}));
  WriteQuads(w, "quad", {{"Maps\\\\Skin.png", {1, 1, 1}}});
  const std::string before = ReadAll(w.Path("maps/skin.png"));
  for (const char* flag : {"--window-screenshot", "--record"}) {
    const RunResult r =
        w.Run(w.Headless(2, config, {"--scene", "quad.gltf", flag, "maps/skin.png"}));
    EXPECT_EQ(r.Status, 2) << flag << ": " << r.Err;
    EXPECT_NE(r.Err.find("a file the scene file reads"), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(w.Path("maps/skin.png")), before) << flag << " changed the image";
    EXPECT_FALSE(fs::exists(w.Path("s.png"))) << "an output was written before the check";
  }
  const RunResult r = w.Run(w.Headless(
      2, config, {"--scene", "quad.gltf", "--window-screenshot", w.Path("w.png").string()}));
  ASSERT_EQ(r.Status, 0) << r.Err;
  const Image image = Load(w.Path("w.png"));
  int top = image.Height;
  int bottom = -1;
  for (int y = 0; y < image.Height; ++y) {
    for (int x = 0; x < kViewport; ++x) {
      if (Chroma(image.At(x, y)) > 60 && !Near(image.At(x, y), 158, 184, 219)) {
        top = std::min(top, y);
        bottom = std::max(bottom, y);
      }
    }
  }
  ASSERT_LT(top, bottom) << "no quad in the picture";
  const auto reddish = [&](int y) {
    int red = 0;
    int blue = 0;
    for (int x = 0; x < kViewport; ++x) {
      const unsigned char* p = image.At(x, y);
      if (Chroma(p) <= 60 || Near(p, 158, 184, 219)) continue;
      red += p[0] > p[2];
      blue += p[2] > p[0];
    }
    return red > 0 && blue == 0;
  };
  const int quarter = (bottom - top) / 4;
  EXPECT_TRUE(reddish(top + quarter)) << "the quad's top is not the image's top row";
  EXPECT_FALSE(reddish(bottom - quarter)) << "the quad's bottom is not the image's bottom row";
}

}  // namespace
