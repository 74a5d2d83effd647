#include "animation/SkeletonBuilder.h"

#include "animation/AnimationClock.h"
#include "animation/MsModel.h"
#include "animation/Skeleton.h"
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "math/FatalError.h"
#include "math/ModelMath.h"
#include "scene/MeshBuilder.h"
#include "scene/ObjParser.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"

#include <cstdio>
#include <memory>

namespace Raytracer {

namespace {

// Every joint's kd-tree box: -15 to 15 on every axis around the joint.
constexpr float jointBoxMin = -15.0f;
constexpr float jointBoxSize = 30.0f;

struct FileCloser {
    void operator()(std::FILE* file) const { std::fclose(file); }
};

Quaternion fromModelFile(const float q[4]) {
    return {q[3], q[0], q[1], q[2]};
}

class Builder {
  public:
    Builder(Skeleton& skeleton, const std::string& fileName, KdPool& pool)
        : m_skeleton(skeleton), m_fileName(fileName), m_objName(companionObjName(fileName)), m_pool(pool) {}

    void readParts() {
        const std::unique_ptr<std::FILE, FileCloser> file(std::fopen(m_objName.c_str(), "r"));
        if (!file) {
            throw FatalError("Error reading file: " + m_objName);
        }
        // The companion's material library sits beside it.
        const std::size_t slash = m_objName.rfind('/');
        ObjParser parser(file.get(), m_objName,
                         slash == std::string::npos ? "" : m_objName.substr(0, slash + 1));
        ObjFile parsed = parser.readObjFile();
        if (parsed.objects.size() > Skeleton::maxParts) {
            throw FatalError(m_objName + ": more than " + std::to_string(Skeleton::maxParts) + " parts");
        }
        m_skeleton.parts = std::move(parsed.objects);
    }

    Joint* createJoint(const MsJoint& source, Joint* parent) {
        if (source.name.size() > Joint::maxNameLength) {
            throw FatalError(m_fileName + ": joint name " + source.name + " is longer than " +
                             std::to_string(Joint::maxNameLength) + " characters");
        }
        Joint* joint = m_skeleton.scene->create<Joint>();
        joint->name = source.name;
        joint->flags = source.flags;
        joint->parent = parent;

        // Bind transform B: the file's Euler angles and position (scaled) relative to the parent.
        float q[4];
        eulerToQuaternion(source.rotation.data(), q);
        Matrix3x4 bind;
        quaternionToMatrix(q, bind);
        for (int i = 0; i < 3; ++i) {
            bind[i][3] = source.position[i] * modelTuning;
        }
        float bindQuaternion[4];
        matrixToQuaternion(bindQuaternion, bind);
        joint->rotation = fromModelFile(bindQuaternion);
        joint->position = Vector3(bind[0][3], bind[1][3], bind[2][3]);

        const std::size_t pairs = source.positionKeys.size();
        if (pairs > Joint::maxKeys || source.rotationKeys.size() > Joint::maxKeys) {
            throw FatalError(m_fileName + ": joint " + source.name + " has more than " +
                             std::to_string(Joint::maxKeys) + " keys");
        }
        if (source.rotationKeys.size() < pairs) {
            throw FatalError(m_fileName + ": joint " + source.name + " has fewer rotation keys (" +
                             std::to_string(source.rotationKeys.size()) + ") than position keys (" +
                             std::to_string(pairs) + ")");
        }
        if (pairs == 0) {
            // Playback needs a key pair: a joint without keys holds its bind pose.
            joint->translationKeys.push_back(TranslationKey{0.0f, joint->position, {}, {}});
            joint->rotationKeys.push_back(RotationKey{0.0f, joint->rotation});
        }
        // Keys are relative to the bind pose: A = B after K, stored whole. Rotation keys beyond the
        // position keys are never paired, so only the pairs are kept.
        for (std::size_t k = 0; k < pairs; ++k) {
            const MsKeyframe& rotationKey = source.rotationKeys[k];
            const MsKeyframe& positionKey = source.positionKeys[k];
            float keyQuaternion[4];
            eulerToQuaternion(rotationKey.value.data(), keyQuaternion);
            Matrix3x4 key;
            quaternionToMatrix(keyQuaternion, key);
            for (int i = 0; i < 3; ++i) {
                key[i][3] = positionKey.value[i] * modelTuning;
            }
            Matrix3x4 local;
            concatTransforms(bind, key, local);
            float localQuaternion[4];
            matrixToQuaternion(localQuaternion, local);
            joint->translationKeys.push_back(
                TranslationKey{positionKey.time, Vector3(local[0][3], local[1][3], local[2][3]), {}, {}});
            joint->rotationKeys.push_back(RotationKey{rotationKey.time, fromModelFile(localQuaternion)});
        }
        joint->proxy = createJointObjects(source.name);
        return joint;
    }

    // Every joint whose parent is parentName, in file order, each subtree complete before the next.
    void buildChildren(Joint& parent, const std::string& parentName, const msModel& model) {
        for (const MsJoint& source : model.joints) {
            if (source.parentName != parentName) {
                continue;
            }
            if (parent.children.size() == Joint::maxChildren) {
                throw FatalError(m_fileName + ": joint " + parentName + " has more than " +
                                 std::to_string(Joint::maxChildren) + " children");
            }
            Joint* child = createJoint(source, &parent);
            parent.children.push_back(child);
            buildChildren(*child, source.name, model);
        }
    }

    // Brings each joint's mesh and proxy into the joint's frame at the bind pose and builds its tree.
    void bindSkeleton(Joint& joint, const Vector3& parentPosition, const Quaternion& parentRotation) {
        const Vector3 world = parentRotation.rotate(joint.position) + parentPosition;
        const Quaternion rotation = multiply(parentRotation, joint.rotation);
        SceneObject& proxy = *joint.proxy;
        proxy.position = world;
        proxy.rotation = rotation;
        proxy.rebase(world, rotation);
        // Every instance is a Scene; the placement holds it as the kd-trees see it.
        Scene& local = static_cast<Scene&>(*proxy.instance);
        local.object->rebase(world, rotation);
        local.boundsMin = Vector3(jointBoxMin, jointBoxMin, jointBoxMin);
        local.boundsSize = Vector3(jointBoxSize, jointBoxSize, jointBoxSize);
        KdTree* tree = m_skeleton.scene->create<KdTree>(m_pool);
        local.accelerator = tree;
        try {
            tree->build(local);
        } catch (const KdPoolExhausted& error) {
            throw FatalError(m_fileName + ": joint " + joint.name + ": " + error.what());
        }
        for (Joint* child : joint.children) {
            bindSkeleton(*child, proxy.position, proxy.rotation);
        }
    }

  private:
    const ObjModel& findPart(const std::string& name) const {
        for (const ObjModel& part : m_skeleton.parts) {
            if (part.groupName && part.groupName->find(name) != std::string::npos) {
                return part;
            }
        }
        throw FatalError(m_objName + ": no part named " + name);
    }

    SceneObject* createJointObjects(const std::string& jointName) {
        const ObjModel& meshPart = findPart(jointName + "OBJ3D");
        const ObjModel& boxPart = findPart(jointName + "BBox");
        if (meshPart.faces.size() > static_cast<std::size_t>(Scene::jointPrimitiveCapacity)) {
            throw FatalError(m_objName + ": part " + jointName + "OBJ3D has " +
                             std::to_string(meshPart.faces.size()) + " triangles; a joint holds at most " +
                             std::to_string(Scene::jointPrimitiveCapacity));
        }
        Scene& top = *m_skeleton.scene;
        Scene* local = top.create<Scene>();
        SceneObject* mesh = top.create<SceneObject>();
        mesh->ownerScene = local;
        buildObject(meshPart, *mesh, nullptr, *local, m_objName + ", part " + jointName + "OBJ3D");
        local->object = mesh;

        SceneObject* proxy = top.create<SceneObject>();
        proxy->instance = local;
        proxy->ownerScene = &top;
        buildObject(boxPart, *proxy, local, top, m_objName + ", part " + jointName + "BBox");
        local->proxy = proxy;
        Vector3 boxMax;
        proxy->computeBounds(proxy->position, boxMax);
        return proxy;
    }

    Skeleton& m_skeleton;
    std::string m_fileName;
    std::string m_objName;
    KdPool& m_pool;
};

} // namespace

std::string companionObjName(const std::string& fileName) {
    // Only the file name's own dots count, past a leading run of them: a directory may hold dots
    // ("./meshes/", "/tmp/tmp.x3Yq/").
    const std::size_t slash = fileName.rfind('/');
    const std::size_t start = fileName.find_first_not_of('.', slash == std::string::npos ? 0 : slash + 1);
    const std::size_t dot = start == std::string::npos ? std::string::npos : fileName.find('.', start);
    return fileName.substr(0, dot) + ".obj";
}

void loadSkeleton(Skeleton& skeleton, const std::string& fileName, Scene& scene, KdPool& pool) {
    skeleton.scene = &scene;
    Builder builder(skeleton, fileName, pool);
    builder.readParts();

    msModel model;
    if (!model.load(fileName)) {
        throw FatalError(fileName + ": not a MilkShape 3D version 4 file");
    }
    if (model.joints.empty()) {
        throw FatalError(fileName + ": the model has no joints");
    }
    // Only the tree under the first joint is built; other roots are ignored.
    const MsJoint& first = model.joints.front();
    skeleton.root = builder.createJoint(first, nullptr);
    builder.buildChildren(*skeleton.root, first.name, model);
    builder.bindSkeleton(*skeleton.root, Vector3(), Quaternion());
}

} // namespace Raytracer
