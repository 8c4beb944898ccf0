#include "khost/import/model_import.h"

#include <assimp/postprocess.h>
#include <assimp/scene.h>

#include <algorithm>
#include <assimp/Importer.hpp>
#include <cmath>
#include <sstream>
#include <unordered_map>
#include <unordered_set>
#include <utility>

#include "khost/base/quoting.h"
#include "khost/import/material_import.h"
#include "khost/import/recording_io.h"
#include "khost/runtime/math3d.h"

namespace khost {

namespace {

// More nodes or skin slots than this is not a character; the slot index
// must also fit a vertex's 16-bit bone index.
constexpr std::size_t kMaxNodes = 65535;
constexpr std::size_t kMaxSlots = 65535;

Vec3 ToVec3(const aiVector3D& v) {
  return {v.x, v.y, v.z};
}
Quat ToQuat(const aiQuaternion& q) {
  return {q.x, q.y, q.z, q.w};
}
Mat34 ToMat34(const aiMatrix4x4& m) {
  Mat34 out;
  const float* rows[3] = {m[0], m[1], m[2]};
  for (int r = 0; r < 3; ++r)
    for (int c = 0; c < 4; ++c) out.m[r][c] = rows[r][c];
  return out;
}

// Keys after `end` (ticks) cut, with a key at `end` holding the value the
// clip had there, so that the clip plays as its length says. `blend`
// interpolates two values. The keys may be out of order and their times
// not finite (SanitizeModel sorts them and drops those later). Returns how
// many keys lay past `end`.
template <class Key, class Blend>
std::size_t ClampKeys(std::vector<Key>& keys, double end, Blend blend) {
  const Key* before = nullptr;  // the last key at or before `end`
  const Key* after = nullptr;   // the first key past it
  std::size_t cut = 0;
  for (const Key& key : keys) {
    if (key.Time > end) {
      ++cut;
      if (!after || key.Time < after->Time) after = &key;
    } else if (key.Time <= end && (!before || key.Time >= before->Time)) {
      before = &key;
    }
  }
  if (cut == 0) return 0;
  Key last = *after;
  if (before) {
    const double span = after->Time - before->Time;
    last.Value =
        blend(before->Value, after->Value, static_cast<float>((end - before->Time) / span));
  }
  last.Time = end;
  const bool endKeyed = before && before->Time == end;
  std::erase_if(keys, [end](const Key& key) { return key.Time > end; });
  if (!endKeyed) keys.push_back(last);
  return cut;
}

// A number of ticks as people write it: "1", "0.5", "2400".
std::string TicksText(double ticks) {
  std::ostringstream text;
  text << ticks;
  return text.str();
}

struct Converter {
  const aiScene& Scene;
  Model& Out;
  MaterialImport& Materials;
  std::unordered_map<std::string, int> NodeByName;
  std::vector<std::pair<const aiNode*, int>> NodeOf;  // aiNode, node index

  // `standUp` turns the file's up direction into +Y: it is given to a node
  // above the file's root, so that clips keying the root keep their keys.
  std::string Walk(Quat standUp) {
    int top = -1;
    if (standUp.x != 0.0f || standUp.y != 0.0f || standUp.z != 0.0f) {
      ModelNode up;
      up.Name = "(up axis)";
      up.Rotation = standUp;
      Out.Nodes.push_back(up);
      top = 0;
    }
    // Depth first with an explicit stack; a node met twice (a file whose
    // hierarchy loops) is not entered again.
    std::unordered_set<const aiNode*> seen;
    std::vector<std::pair<const aiNode*, int>> stack{{Scene.mRootNode, top}};
    while (!stack.empty()) {
      const auto [node, parent] = stack.back();
      stack.pop_back();
      if (!node || !seen.insert(node).second) continue;
      if (Out.Nodes.size() >= kMaxNodes) return "it has more than 65535 nodes";
      const int index = static_cast<int>(Out.Nodes.size());
      ModelNode n;
      n.Name = TextOf(node->mName);
      n.Parent = parent;
      aiVector3D scale, position;
      aiQuaternion rotation;
      node->mTransformation.Decompose(scale, rotation, position);
      n.Translation = ToVec3(position);
      n.Rotation = ToQuat(rotation);
      n.Scale = ToVec3(scale);
      Out.Nodes.push_back(n);
      NodeByName.emplace(Out.Nodes.back().Name, index);
      NodeOf.emplace_back(node, index);
      for (unsigned c = node->mNumChildren; c-- > 0;) {
        if (node->mChildren) stack.emplace_back(node->mChildren[c], index);
      }
    }
    return {};
  }

  // The mesh's first texture coordinates (when its material samples an
  // image) and first colours, beside its vertices. A list no mesh has
  // filled stays empty; Finish pads the others to every vertex.
  void Surface(const aiMesh& m, const ModelMesh& mesh, bool textured) {
    const std::size_t first = mesh.FirstVertex;
    if (textured) {
      Out.TexCoords.resize(first + m.mNumVertices);
      for (unsigned v = 0; v < m.mNumVertices; ++v) {
        // The library's V runs up from the image's bottom row; the
        // model's, down from its top row.
        Out.TexCoords[first + v] = {m.mTextureCoords[0][v].x, 1.0f - m.mTextureCoords[0][v].y};
      }
    }
    if (mesh.VertexColours) {
      Out.Colours.resize(first + m.mNumVertices);
      for (unsigned v = 0; v < m.mNumVertices; ++v) {
        const aiColor4D& c = m.mColors[0][v];
        const float channels[4] = {c.r, c.g, c.b, c.a};
        for (int k = 0; k < 4; ++k) {
          const float f = std::isfinite(channels[k]) ? std::clamp(channels[k], 0.0f, 1.0f) : 1.0f;
          Out.Colours[first + v].Rgba[k] = static_cast<uint8_t>(std::lround(f * 255.0f));
        }
      }
    }
  }

  void Finish() {
    if (!Out.TexCoords.empty()) Out.TexCoords.resize(Out.Vertices.size());
    if (!Out.Colours.empty()) Out.Colours.resize(Out.Vertices.size());
  }

  // Adds mesh `m` as drawn by node `node`.
  std::string AddMesh(const aiMesh& m, int node, std::string* notes) {
    if (!m.mVertices || m.mNumVertices == 0 || !m.mFaces || m.mNumFaces == 0) return {};
    if (!(m.mPrimitiveTypes & aiPrimitiveType_TRIANGLE)) return {};
    ModelMesh mesh;
    mesh.Name = TextOf(m.mName);
    mesh.FirstVertex = Out.Vertices.size();
    mesh.VertexCount = m.mNumVertices;
    mesh.FirstIndex = Out.Indices.size();
    const bool hasTexCoords = m.mTextureCoords[0] && m.mNumUVComponents[0] >= 2;
    const bool textured = Materials.Apply(m.mMaterialIndex, hasTexCoords, mesh);
    mesh.VertexColours = m.mColors[0] != nullptr;
    Out.Vertices.resize(mesh.FirstVertex + m.mNumVertices);
    Surface(m, mesh, textured);
    SkinVertex* vertices = Out.Vertices.data() + mesh.FirstVertex;
    for (unsigned v = 0; v < m.mNumVertices; ++v) {
      vertices[v].Position = ToVec3(m.mVertices[v]);
      vertices[v].Normal = m.mNormals ? ToVec3(m.mNormals[v]) : Vec3{0, 1, 0};
    }
    if (m.mNumBones == 0 || !m.mBones) {
      // A rigid mesh follows its node.
      if (Out.Slots.size() >= kMaxSlots) return "it has more than 65535 bones";
      const uint16_t slot = static_cast<uint16_t>(Out.Slots.size());
      Out.Slots.push_back({node, Mat34{}});
      for (unsigned v = 0; v < m.mNumVertices; ++v) {
        vertices[v].Bones[0] = slot;
        vertices[v].Weights[0] = 1.0f;
      }
    } else {
      std::size_t missing = 0;
      for (unsigned b = 0; b < m.mNumBones; ++b) {
        const aiBone* bone = m.mBones[b];
        if (!bone) continue;
        if (Out.Slots.size() >= kMaxSlots) return "it has more than 65535 bones";
        const uint16_t slot = static_cast<uint16_t>(Out.Slots.size());
        const auto found = NodeByName.find(TextOf(bone->mName));
        if (found == NodeByName.end()) {
          // A bone naming no node: its vertices follow the mesh's node.
          ++missing;
          Out.Slots.push_back({node, Mat34{}});
        } else {
          Out.Slots.push_back({found->second, ToMat34(bone->mOffsetMatrix)});
        }
        for (unsigned w = 0; bone->mWeights && w < bone->mNumWeights; ++w) {
          const aiVertexWeight& weight = bone->mWeights[w];
          if (weight.mVertexId >= m.mNumVertices || !(weight.mWeight > 0.0f)) continue;
          SkinVertex& vertex = vertices[weight.mVertexId];
          // Keep the four largest: replace the smallest when it is smaller.
          int smallest = 0;
          for (int i = 1; i < kMaxInfluences; ++i)
            if (vertex.Weights[i] < vertex.Weights[smallest]) smallest = i;
          if (vertex.Weights[smallest] < weight.mWeight) {
            vertex.Bones[smallest] = slot;
            vertex.Weights[smallest] = weight.mWeight;
          }
        }
      }
      if (missing && notes)
        *notes += "mesh " + QuoteArgument(mesh.Name) + ": " + std::to_string(missing) +
                  " bones name no node; their vertices follow the mesh's node\n";
    }
    for (unsigned f = 0; f < m.mNumFaces; ++f) {
      const aiFace& face = m.mFaces[f];
      if (face.mNumIndices != 3 || !face.mIndices) continue;
      for (int c = 0; c < 3; ++c)
        Out.Indices.push_back(static_cast<uint32_t>(mesh.FirstVertex) + face.mIndices[c]);
    }
    mesh.IndexCount = Out.Indices.size() - mesh.FirstIndex;
    Out.Meshes.push_back(mesh);
    return {};
  }

  std::string Meshes(std::string* notes) {
    if (!Scene.mMeshes) return {};
    // A skinned mesh is added once (its bones place it); a rigid one once
    // per node that draws it.
    std::vector<bool> added(Scene.mNumMeshes, false);
    for (const auto& [node, index] : NodeOf) {
      for (unsigned k = 0; node->mMeshes && k < node->mNumMeshes; ++k) {
        const unsigned id = node->mMeshes[k];
        if (id >= Scene.mNumMeshes || !Scene.mMeshes[id]) continue;
        const aiMesh& mesh = *Scene.mMeshes[id];
        if (mesh.mNumBones > 0 && added[id]) continue;
        added[id] = true;
        if (std::string problem = AddMesh(mesh, index, notes); !problem.empty()) return problem;
      }
    }
    return {};
  }

  // A clip plays for its stated length; keys past it are cut there.
  static void ClampToLength(Clip& clip, std::string* notes) {
    if (!(clip.Duration > 0.0) || !std::isfinite(clip.Duration)) return;
    const auto lerp = [](Vec3 a, Vec3 b, float t) { return a + (b - a) * t; };
    std::size_t cut = 0;
    for (NodeChannel& channel : clip.Channels) {
      cut += ClampKeys(channel.Positions, clip.Duration, lerp);
      cut += ClampKeys(channel.Rotations, clip.Duration, Slerp);
      cut += ClampKeys(channel.Scales, clip.Duration, lerp);
    }
    if (cut && notes)
      *notes += "clip " + QuoteArgument(clip.Name) + ": " + std::to_string(cut) +
                " keys past its length of " + TicksText(clip.Duration) + " ticks clamped to it\n";
  }

  void Clips(std::string* notes) {
    for (unsigned a = 0; Scene.mAnimations && a < Scene.mNumAnimations; ++a) {
      const aiAnimation* anim = Scene.mAnimations[a];
      if (!anim) continue;
      Clip clip;
      clip.Name = TextOf(anim->mName);
      clip.Duration = anim->mDuration;
      clip.TicksPerSecond = anim->mTicksPerSecond;
      std::size_t missing = 0;
      for (unsigned c = 0; anim->mChannels && c < anim->mNumChannels; ++c) {
        const aiNodeAnim* channel = anim->mChannels[c];
        if (!channel) continue;
        const auto found = NodeByName.find(TextOf(channel->mNodeName));
        if (found == NodeByName.end()) {
          ++missing;
          continue;
        }
        NodeChannel out;
        out.Node = found->second;
        for (unsigned k = 0; channel->mPositionKeys && k < channel->mNumPositionKeys; ++k)
          out.Positions.push_back(
              {channel->mPositionKeys[k].mTime, ToVec3(channel->mPositionKeys[k].mValue)});
        for (unsigned k = 0; channel->mRotationKeys && k < channel->mNumRotationKeys; ++k)
          out.Rotations.push_back(
              {channel->mRotationKeys[k].mTime, ToQuat(channel->mRotationKeys[k].mValue)});
        for (unsigned k = 0; channel->mScalingKeys && k < channel->mNumScalingKeys; ++k)
          out.Scales.push_back(
              {channel->mScalingKeys[k].mTime, ToVec3(channel->mScalingKeys[k].mValue)});
        clip.Channels.push_back(std::move(out));
      }
      if (missing && notes)
        *notes += "clip " + QuoteArgument(clip.Name) + ": " + std::to_string(missing) +
                  " channels name no node and are ignored\n";
      ClampToLength(clip, notes);
      Out.Clips.push_back(std::move(clip));
    }
  }
};

}  // namespace

Result<Model> ImportModel(const std::string& path, std::optional<UpAxis> up, bool images) {
  Model model;
  Assimp::Importer importer;
  // The importer owns the file access; the list of files it opened is the
  // model's.
  importer.SetIOHandler(new RecordingIOSystem(&model.ReadFiles));
  importer.SetPropertyInteger(AI_CONFIG_PP_LBW_MAX_WEIGHTS, kMaxInfluences);
  importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE,
                              aiPrimitiveType_POINT | aiPrimitiveType_LINE);
  const unsigned flags = aiProcess_Triangulate | aiProcess_LimitBoneWeights |
                         aiProcess_JoinIdenticalVertices | aiProcess_GenSmoothNormals |
                         aiProcess_SortByPType;
  const aiScene* scene = importer.ReadFile(path, flags);
  if (!scene) {
    std::string reason = importer.GetErrorString();
    if (reason.empty()) reason = "the library cannot read it";
    return Failure("scene file " + QuoteArgument(path) + ": " + EchoText(reason));
  }
  if (!scene->mRootNode)
    return Failure("scene file " + QuoteArgument(path) + ": it has no node hierarchy");
  model.Source = path;
  std::string notes;
  MaterialImport materials(*scene, path, images, model, notes);
  Converter converter{*scene, model, materials, {}, {}};
  const UpDirection direction = FindUpDirection(*scene, path, up);
  if (!up && direction != UpDirection{}) {
    notes += "its up axis is " + DirectionName(direction) + "; stood upright (--up sets it)\n";
  }
  std::string problem = converter.Walk(StandUpRotation(direction));
  if (problem.empty()) problem = converter.Meshes(&notes);
  if (!problem.empty()) return Failure("scene file " + QuoteArgument(path) + ": " + problem);
  converter.Finish();
  materials.Finish();
  converter.Clips(&notes);
  model.Notes = notes;
  return model;
}

std::string ReadableExtensions() {
  Assimp::Importer importer;
  std::string list;
  importer.GetExtensionList(list);
  return list;
}

}  // namespace khost
