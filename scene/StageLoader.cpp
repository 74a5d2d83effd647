#include "scene/StageLoader.h"

#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "math/FatalError.h"
#include "scene/MeshBuilder.h"
#include "scene/ObjParser.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "shading/AreaLight.h"
#include "shading/PointLight.h"
#include "shading/SphereLight.h"

#include <cstdio>
#include <memory>

namespace Raytracer {

namespace {

// The fixed box every kd-tree of the scene is built in: -240 to 240 on every axis, in the world for
// the top level and above the proxy's minimum corner for an object.
constexpr float sceneBoxMin = -240.0f;
constexpr float sceneBoxSize = 480.0f;

constexpr const char* companionCharacters = "OBJ3D";

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

bool contains(const std::optional<std::string>& name, const char* text) {
    return name && name->find(text) != std::string::npos;
}

// The object's name without its line end, for messages.
std::string displayName(const ObjModel& object) {
    if (!object.groupName) {
        return "(unnamed)";
    }
    std::string name = *object.groupName;
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
        name.pop_back();
    }
    return name;
}

void setFixedBox(Scene& scene) {
    scene.boundsMin = Vector3(sceneBoxMin, sceneBoxMin, sceneBoxMin);
    scene.boundsSize = Vector3(sceneBoxSize, sceneBoxSize, sceneBoxSize);
}

class Loader {
  public:
    Loader(Scene& scene, KdPool& pool, std::string path)
        : m_scene(scene), m_pool(pool), m_path(std::move(path)) {}

    void load(const ObjFile& file) {
        for (const ObjModel& object : file.objects) {
            const std::string source = m_path + ", object " + displayName(object);
            if (contains(object.groupName, "OBJ3D")) {
                addRenderable(object, file, source);
            } else if (contains(object.groupName, "SceneBBox")) {
                setFixedBox(m_scene);
            } else if (contains(object.groupName, "Environment")) {
                SceneObject* environment = m_scene.create<SceneObject>();
                environment->ownerScene = &m_scene;
                buildObject(object, *environment, nullptr, m_scene, source);
            } else if (contains(object.groupName, "PointLight")) {
                addLight(m_scene.create<PointLight>(mean(object, source), lightColor(object, source)),
                         source);
            } else if (contains(object.groupName, "AreaLight")) {
                if (object.vertices.size() < 3) {
                    throw FatalError(source + ": an area light needs three positions (corner and two edges)");
                }
                const Vector3 p0 = position(object, 0);
                AreaLight* light = m_scene.create<AreaLight>(
                    p0, lightColor(object, source), position(object, 1) - p0, position(object, 2) - p0);
                addLight(light, source);
                // Sampled as a point at its corner until the command line or the J key switch it.
                light->type = Light::pointSampling;
            } else if (contains(object.groupName, "SphereLight")) {
                const Vector3 centre = mean(object, source);
                const float radius = (position(object, 0) - centre).length();
                addLight(m_scene.create<SphereLight>(centre, lightColor(object, source), radius), source);
            }
        }
    }

  private:
    void addRenderable(const ObjModel& object, const ObjFile& file, const std::string& source) {
        const std::string boxName = companionName(*object.groupName);
        const ObjModel* companion = nullptr;
        for (const ObjModel& candidate : file.objects) {
            if (contains(candidate.groupName, boxName.c_str())) {
                companion = &candidate;
                break;
            }
        }
        if (companion == nullptr) {
            throw FatalError(source + ": no companion box object named " + boxName);
        }

        Scene* local = m_scene.create<Scene>();
        SceneObject* mesh = m_scene.create<SceneObject>();
        mesh->ownerScene = local;
        buildObject(object, *mesh, nullptr, *local, source);
        local->object = mesh;

        SceneObject* proxy = m_scene.create<SceneObject>();
        proxy->ownerScene = &m_scene;
        proxy->instance = local;
        buildObject(*companion, *proxy, local, m_scene, m_path + ", object " + displayName(*companion));
        local->proxy = proxy;

        // The object's frame has its origin at the box's lowest corner.
        Vector3 boxMin;
        Vector3 boxMax;
        proxy->computeBounds(boxMin, boxMax);
        proxy->position = boxMin;
        mesh->rebase(proxy->position, proxy->rotation);

        setFixedBox(*local);
        KdTree* tree = m_scene.create<KdTree>(m_pool);
        local->accelerator = tree;
        try {
            tree->build(*local);
        } catch (const KdPoolExhausted& error) {
            throw FatalError(m_path + ", object " + displayName(*companion) + ": " + error.what());
        }
    }

    void addLight(Light* light, const std::string& source) {
        if (m_scene.lightCount() == Scene::lightCapacity) {
            throw FatalError(source + ": more than " + std::to_string(Scene::lightCapacity) + " lights");
        }
        m_scene.lights.push_back(light);
    }

    static Vector3 position(const ObjModel& object, std::size_t i) {
        const ObjVector& v = object.vertices[i];
        return {static_cast<float>(v.x), static_cast<float>(v.y), static_cast<float>(v.z)};
    }

    static Vector3 mean(const ObjModel& object, const std::string& source) {
        if (object.vertices.empty()) {
            throw FatalError(source + ": a light needs at least one position");
        }
        Vector3 sum;
        for (std::size_t i = 0; i < object.vertices.size(); ++i) {
            sum += position(object, i);
        }
        return sum * (1.0f / static_cast<float>(object.vertices.size()));
    }

    // The Kd of the light's material; a light has no other source for its colour.
    static Color lightColor(const ObjModel& object, const std::string& source) {
        const int found =
            object.materialText ? findMaterialByEnding(object.materials, *object.materialText) : -1;
        if (found < 0) {
            throw FatalError(source +
                             ": a light needs a material (usemtl) that the scene's MTL file defines");
        }
        const MtlMaterial& m = object.materials[static_cast<std::size_t>(found)];
        return {static_cast<float>(m.Kd[0]), static_cast<float>(m.Kd[1]), static_cast<float>(m.Kd[2])};
    }

    Scene& m_scene;
    KdPool& m_pool;
    std::string m_path;
};

} // namespace

std::string companionName(const std::string& objectName) {
    const std::size_t start = objectName.find_first_not_of(companionCharacters);
    if (start == std::string::npos) {
        return "BBox";
    }
    const std::size_t end = objectName.find_first_of(companionCharacters, start);
    return objectName.substr(start, end == std::string::npos ? std::string::npos : end - start) + "BBox";
}

void loadStage(Scene& scene, KdPool& pool, const std::string& directory) {
    const std::string path = directory + "scene.obj";
    const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(path.c_str(), "r"));
    if (!file) {
        throw FatalError("Error reading file " + path);
    }
    ObjParser parser(file.get(), path, directory);
    const ObjFile parsed = parser.readObjFile();
    Loader(scene, pool, path).load(parsed);
}

} // namespace Raytracer
