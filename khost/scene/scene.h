// The host's scene: animated, skinned characters in front of a camera.
//
// Each character has its own skeleton (23 to 35 joints: a humanoid with a
// varying number of finger and tail joints), a looping animation clip, a
// head look-at constraint with joint limits, and a mesh of a few thousand
// vertices (rings around every bone) with up to four weights each.
//
// The node count of a scene is the sum of its characters' joints.
//
// A scene is built, rebuilt and its camera moved on the loop thread between
// frames; during a frame the per-character steps (Animate, SolveSkeleton,
// SolveConstraints) run at once on the pool, each writing only the
// character it is given (thread tags: thread_pool.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "khost/runtime/clip_tracks.h"
#include "khost/runtime/math3d.h"
#include "khost/runtime/skin_layout.h"
#include "khost/runtime/skinning.h"
#include "khost/scene/culling.h"

namespace khost {

struct Model;

struct Joint {
  int Parent = -1;         // index of the parent joint; -1 for the root
  Vec3 Offset;             // bind translation relative to the parent
  Vec3 SwingAxis;          // the axis the animation swings the joint about
  float Amplitude = 0.0f;  // swing amplitude (radians)
  float Phase = 0.0f;      // swing phase (radians)
  float Limit = 3.2f;      // largest rotation away from the bind pose (radians)
};

// What one evaluation produces; characters hold two so that the next frame
// can be evaluated while this one is deformed and submitted.
struct Pose {
  std::vector<Quat> Local;           // animated local rotations
  std::vector<Mat34> World;          // joint-to-world
  std::vector<Mat34> Skin;           // World x inverse bind
  std::vector<SkinColumns> Columns;  // Skin in the form the CPU kernels read
  // Imported models only: the animated local translation and scale of each
  // node (Local holds its rotation), and where the model's root stands.
  std::vector<Vec3> Translation;
  std::vector<Vec3> Scale;
  Mat34 Root;
  Vec3 BoundsCenter;  // bounding sphere of the posed character
  float BoundsRadius = 0.0f;
};

// [any thread] one thread at a time per character: built on the loop
// thread, its poses, playback cursor and deformed vertices written by the
// frame's steps, on whichever thread takes the character.
struct Character {
  int Index = 0;
  std::vector<Joint> Joints;
  std::vector<Mat34> InverseBind;
  int NeckJoint = 0;
  int HeadJoint = 0;
  float MeshRadius = 0.1f;       // how far the mesh reaches beyond the joints
  Vec3 Placement;                // position of the root in the world
  float Heading = 0.0f;          // yaw (radians)
  float Speed = 1.0f;            // animation rate
  std::vector<SkinVertex> Mesh;  // procedural characters only
  // An instance of an imported model: the model (shared by the crowd, owned
  // by the scene), the matrix that scales it and stands it on the ground at
  // the origin, its own time offset (seconds), and how far (radians) it
  // turns back and forth on its spot (at Placement, facing Heading).
  const Model* Source = nullptr;
  Mat34 Root;
  double TimeOffset = 0.0;
  float Turn = 0.0f;
  PlaybackCursor Playback;  // where the instance's clip playback stands
  Pose Poses[2];
  // The vertices CPU skinning deforms (shared by a model's instances).
  std::shared_ptr<const SkinLayout> Skinning;
  // Deformation output and the vertex buffer it is "uploaded" to, at the
  // vertices' own indices (Skinning's vertices only; those of rigid meshes
  // are not written).
  std::vector<Vec3> DeformedPositions;
  std::vector<Vec3> DeformedNormals;
  bool Visible = true;

  // The bind-pose vertices: the model's for an instance, else its own.
  const std::vector<SkinVertex>& Vertices() const;
};

// Joints a character with this index has (23 to 35). [any thread]
int JointCountForCharacter(int index);
// How many characters (1 to kMaxCharacters) a scene of about `nodes` nodes
// has. Rounding up: the fewest characters whose joints add up to at least
// `nodes`. Rounding down: the most whose joints do not exceed `nodes` (at
// least 1). An edit of the node count rounds in its own direction, so a step
// down always shrinks the scene and a step up always grows it. [any thread]
int CharactersForNodeCount(int nodes, bool roundUp = true);
enum { kMaxCharacters = 256 };
// The most vertices a crowd of imported instances has in all: a larger
// model makes a smaller crowd (down to one instance).
constexpr std::size_t kMaxCrowdVertices = 1000000;

// A character's mesh is a run of tube segments, one per bone below the
// pelvis: kMeshRings rings along the bone, each of kMeshRingVertices
// vertices, ring after ring. Renderers build their triangles from this.
enum { kMeshRings = 12, kMeshRingVertices = 8 };

class Scene {
 public:
  // Builds `characterCount` characters (clamped to 1..kMaxCharacters).
  // [loop thread]
  explicit Scene(int characterCount);
  // A crowd of `instanceCount` (clamped to 1..kMaxCharacters, and to
  // kMaxCrowdVertices vertices) instances of an imported, sanitised model,
  // standing on a grid on the ground, the camera framing them all.
  // [loop thread] shares `model` with the caller; its instances point into
  // it.
  Scene(std::shared_ptr<const Model> model, int instanceCount);

  // The imported model as the crowd draws it (see PrepareCrowdModel), or
  // null for the procedural characters. [any thread] owned by the scene.
  const Model* GetModel() const { return mModel.get(); }
  // Per mesh of GetModel(): the skin slot a rigid mesh is drawn with, or -1
  // for a mesh deformed per frame. [any thread] owned by the scene.
  const std::vector<int>& GetMeshSlots() const { return mMeshSlots; }
  // [any thread] the model, shared.
  const std::shared_ptr<const Model>& SharedModel() const { return mModel; }
  // How many characters or instances a scene of about `nodes` nodes has
  // (see CharactersForNodeCount; an instance has all the model's nodes).
  // [any thread]
  int CountForNodeCount(int nodes, bool roundUp) const;
  // Puts the camera where it sees every character (imported crowds only).
  // [loop thread]
  void FrameCrowd();
  // Moves the camera (its frustum follows). Orbit about `pivot` by yaw and
  // pitch (radians), pan by fractions of the view's height, dolly by a
  // factor of the distance (< 1 nearer). [loop thread], between frames.
  void OrbitCamera(Vec3 pivot, float yaw, float pitch);
  void PanCamera(float right, float up);
  void DollyCamera(float factor);
  Vec3 GetPivot() const { return mPivot; }

  // [any thread] The scene owns its characters and camera; a reference stays
  // valid until the scene is rebuilt. The pool's steps each take their own
  // character from GetCharacter.
  int GetCharacterCount() const { return static_cast<int>(mCharacters.size()); }
  int GetNodeCount() const { return mNodeCount; }
  std::size_t GetVertexCount() const { return mVertexCount; }
  Character& GetCharacter(int i) { return mCharacters[static_cast<std::size_t>(i)]; }
  const Camera& GetCamera() const { return mCamera; }
  const Frustum& GetFrustum() const { return mFrustum; }
  // The camera's width / height (the viewport's shape); the culling
  // frustum follows. Values that are not positive and finite are ignored.
  // [loop thread], between frames.
  void SetCameraAspect(float aspect);

  // The evaluation stages of one character for animation time `seconds`,
  // into pose buffer `buffer` (0 or 1). [any thread] for different
  // characters at once (a parallel pass runs them on the pool and the loop
  // thread): each writes only `character` (its pose `buffer` and playback
  // cursor) and reads what the scene shares.
  void Animate(Character& character, double seconds, int buffer) const;
  void SolveSkeleton(Character& character, int buffer) const;
  void SolveConstraints(Character& character, int buffer) const;

 private:
  void BuildCharacter(Character& c, int index, int total);
  void Propagate(Character& c, Pose& pose, int from) const;
  void BuildInstance(Character& c, int index, int total);
  void AnimateInstance(Character& c, double seconds, int buffer) const;
  void SolveInstance(Character& c, int buffer) const;
  void SkinAndBoundInstance(Character& c, int buffer) const;

  std::shared_ptr<const Model> mModel;
  std::shared_ptr<const SkinLayout> mSkinLayout;
  std::vector<int> mMeshSlots;
  std::vector<ClipTracks> mClipTracks;  // one per clip of mModel
  std::vector<int> mParents;            // per node of mModel, parents first
  // Per skin slot: a sphere (bind space) around the vertices weighted to it;
  // radius < 0 for a slot no vertex uses.
  std::vector<Vec3> mSlotCenters;
  std::vector<float> mSlotRadii;
  Mat34 mNormalise;  // scales and lifts the model to stand ~1.8 units tall
  float mSpacing = 2.0f;
  Vec3 mPivot;  // what the camera looks at
  float mDistance = 10.0f;

  std::vector<Character> mCharacters;
  Camera mCamera;
  Frustum mFrustum;
  int mNodeCount = 0;
  std::size_t mVertexCount = 0;
};

}  // namespace khost
