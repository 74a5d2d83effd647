#pragma once

#include "math/Quaternion.h"
#include "math/Vector3.h"
#include "scene/ObjModel.h"

#include <cstdint>
#include <string>
#include <vector>

namespace Raytracer {

class Scene;
class SceneObject;

// A key of a joint's local translation. The tangents are always zero, which makes playback an eased
// blend between keys.
struct TranslationKey {
    float time = 0.0f; // in frames
    Vector3 value;
    Vector3 tangentIn;
    Vector3 tangentOut;
};

// A key of a joint's local rotation.
struct RotationKey {
    float time = 0.0f; // in frames
    Quaternion value;
};

// One joint of an articulated model. Its keys are complete local transforms relative to the parent
// (bind pose included); its mesh lives in its own sub-scene, reached through its proxy box in the
// top-level scene.
class Joint {
  public:
    static constexpr std::size_t maxChildren = 20;
    static constexpr std::size_t maxKeys = 500;
    static constexpr std::size_t maxNameLength = 19;

    std::string name;
    Vector3 position;    // local translation relative to the parent, set by playback
    Quaternion rotation; // local rotation relative to the parent, set by playback
    std::uint8_t flags = 0;
    std::vector<Joint*> children;
    Joint* parent = nullptr;
    std::vector<TranslationKey> translationKeys; // increasing times
    std::vector<RotationKey> rotationKeys;       // as many as translation keys, increasing times
    SceneObject* proxy = nullptr;
};

// An articulated model: the joint tree of a MilkShape file with one mesh and one box per joint from
// its companion OBJ file. Everything is owned by the top-level scene.
class Skeleton {
  public:
    static constexpr std::size_t maxParts = 100;

    Joint* root = nullptr;
    Scene* scene = nullptr;      // the top-level scene that holds the joints' proxies
    std::vector<ObjModel> parts; // the companion OBJ file's object sections, in file order
};

} // namespace Raytracer
