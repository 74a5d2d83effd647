#pragma once

#include "geometry/SceneGeometry.h"

#include <array>
#include <memory>
#include <utility>
#include <vector>

namespace Raytracer {

class Light;
class SceneObject;
class Skeleton;

// One class for the top-level scene the renderer owns and for the object-level sub-scene of every
// renderable object and joint. The top-level scene owns everything the loaders attach to it.
class Scene : public SceneGeometry {
  public:
    static constexpr int lightCapacity = 10;
    static constexpr int topLevelPrimitiveCapacity = 1000;
    static constexpr int jointPrimitiveCapacity = 20000;
    static constexpr int modelCount = 4;

    // Lights of the top-level scene, in file order; sub-scenes have none. The first light is the one
    // the keys move and switch between point and area sampling.
    std::vector<Light*> lights;
    SceneObject* object = nullptr; // sub-scenes: the object whose triangles live here
    // Top-level scene: robot, ball, star and 2ball, in that order; null until the models are loaded.
    std::array<Skeleton*, modelCount> models{};

    Scene() = default;
    Scene(const Scene&) = delete;
    Scene& operator=(const Scene&) = delete;

    int lightCount() const { return static_cast<int>(lights.size()); }

    // The light the keys and the overlay refer to, or null in a scene without lights.
    Light* firstLight() const { return lights.empty() ? nullptr : lights.front(); }

    // Creates an object that lives as long as this scene. Lights, triangles, objects, sub-scenes and
    // trees are created through here, so that none is ever destroyed through a base class.
    template <class T, class... Args> T* create(Args&&... args) {
        auto owned = std::make_shared<T>(std::forward<Args>(args)...);
        T* raw = owned.get();
        m_owned.push_back(std::move(owned));
        return raw;
    }

  private:
    std::vector<std::shared_ptr<void>> m_owned;
};

} // namespace Raytracer
