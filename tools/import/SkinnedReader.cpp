#include "tools/import/SkinnedReader.h"

#include "animation/Skeleton.h"
#include "math/FatalError.h"
#include "math/ModelMath.h"
#include "tools/import/AssimpFile.h"
#include "tools/import/AssimpMaterials.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <set>

namespace Raytracer::Import {

namespace {

constexpr float framesPerSecond = 24.0f;
// Assimp's ticks per second when a file gives none.
constexpr double defaultTicksPerSecond = 25.0;
// A key this close to the bind pose on every value is no motion.
constexpr float stillTolerance = 1e-5f;

struct Node {
    const aiNode* node = nullptr;
    int parent = -1;
};

// The nodes parents first.
std::vector<Node> flatten(const aiNode* root) {
    std::vector<Node> nodes = {{root, -1}};
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        for (unsigned int c = 0; c < nodes[i].node->mNumChildren; ++c) {
            nodes.push_back({nodes[i].node->mChildren[c], static_cast<int>(i)});
        }
    }
    return nodes;
}

std::vector<aiMatrix4x4> globals(const std::vector<Node>& nodes, const std::vector<aiMatrix4x4>& locals) {
    std::vector<aiMatrix4x4> world(nodes.size());
    for (std::size_t i = 0; i < nodes.size(); ++i) {
        world[i] =
            nodes[i].parent < 0 ? locals[i] : world[static_cast<std::size_t>(nodes[i].parent)] * locals[i];
    }
    return world;
}

// The matrix without its scale: a joint moves rigidly.
aiMatrix4x4 rigid(const aiMatrix4x4& m) {
    aiVector3D scale;
    aiQuaternion rotation;
    aiVector3D position;
    m.Decompose(scale, rotation, position);
    return aiMatrix4x4(aiVector3D(1.0f, 1.0f, 1.0f), rotation.Normalize(), position);
}

// Euler angles about x, y, z and the translation of a rigid matrix, as MilkShape stores a pose.
void pose(const aiMatrix4x4& m, std::array<float, 3>& angles, std::array<float, 3>& position) {
    Matrix3x4 rotation;
    for (int i = 0; i < 3; ++i) {
        for (int j = 0; j < 4; ++j) {
            rotation[i][j] = m[static_cast<unsigned int>(i)][static_cast<unsigned int>(j)];
        }
    }
    float q[4];
    matrixToQuaternion(q, rotation);
    quaternionToEuler(q, angles.data());
    position = {m.a4, m.b4, m.c4};
}

template <class Key> std::size_t keyBefore(const Key* keys, unsigned int count, double t) {
    std::size_t k = 0;
    while (k + 1 < count && keys[k + 1].mTime <= t) {
        ++k;
    }
    return k;
}

template <class Key> double blendFactor(const Key* keys, unsigned int count, std::size_t k, double t) {
    if (k + 1 >= count || t <= keys[k].mTime) {
        return 0.0;
    }
    return std::min(1.0, (t - keys[k].mTime) / (keys[k + 1].mTime - keys[k].mTime));
}

aiVector3D vectorAt(const aiVectorKey* keys, unsigned int count, double t, const aiVector3D& fallback) {
    if (count == 0) {
        return fallback;
    }
    const std::size_t k = keyBefore(keys, count, t);
    const float s = static_cast<float>(blendFactor(keys, count, k, t));
    return s == 0.0f ? keys[k].mValue : keys[k].mValue + (keys[k + 1].mValue - keys[k].mValue) * s;
}

// A node's local transform at time t of the animation (in ticks).
aiMatrix4x4 localAt(const aiNodeAnim& channel, const aiMatrix4x4& rest, double t) {
    aiVector3D scale;
    aiQuaternion rotation;
    aiVector3D position;
    rest.Decompose(scale, rotation, position);
    if (channel.mNumRotationKeys > 0) {
        const std::size_t k = keyBefore(channel.mRotationKeys, channel.mNumRotationKeys, t);
        const float s =
            static_cast<float>(blendFactor(channel.mRotationKeys, channel.mNumRotationKeys, k, t));
        rotation = channel.mRotationKeys[k].mValue;
        if (s > 0.0f) {
            aiQuaternion::Interpolate(rotation, channel.mRotationKeys[k].mValue,
                                      channel.mRotationKeys[k + 1].mValue, s);
        }
    }
    return aiMatrix4x4(vectorAt(channel.mScalingKeys, channel.mNumScalingKeys, t, scale),
                       rotation.Normalize(),
                       vectorAt(channel.mPositionKeys, channel.mNumPositionKeys, t, position));
}

aiMatrix4x4 zero() {
    aiMatrix4x4 m;
    for (unsigned int i = 0; i < 4; ++i) {
        m[i][i] = 0.0f;
    }
    return m;
}

bool identity(const std::array<float, 3>& a, const std::array<float, 3>& b) {
    return std::all_of(a.begin(), a.end(), [](float v) { return std::fabs(v) < stillTolerance; }) &&
           std::all_of(b.begin(), b.end(), [](float v) { return std::fabs(v) < stillTolerance; });
}

class Reader {
  public:
    Reader(const aiScene& scene, const std::string& path)
        : m_scene(scene), m_path(path), m_nodes(flatten(scene.mRootNode)) {
        for (std::size_t i = 0; i < m_nodes.size(); ++i) {
            m_byName.emplace(m_nodes[i].node->mName.C_Str(), static_cast<int>(i));
            m_restLocals.push_back(m_nodes[i].node->mTransformation);
        }
        m_rest = globals(m_nodes, m_restLocals);
        m_animation = scene.mNumAnimations > 0 ? scene.mAnimations[0] : nullptr;
    }

    msModel read(std::vector<std::string>& notes) {
        std::vector<bool> used(m_nodes.size(), false);
        readVertices(used);
        if (m_animation != nullptr) {
            for (unsigned int c = 0; c < m_animation->mNumChannels; ++c) {
                markNode(m_animation->mChannels[c]->mNodeName.C_Str(), used);
            }
        }
        markAncestors(used);
        foldJoints(used, notes);
        return build(used);
    }

  private:
    struct Corner {
        aiVector3D position;
        aiVector3D normal;
        aiVector3D uv;
        int node = 0; // the node of its heaviest bone, or of its mesh
    };
    struct Face {
        std::array<std::size_t, 3> corners{};
        std::size_t material = 0;
    };

    void markNode(const std::string& name, std::vector<bool>& used) const {
        const auto found = m_byName.find(name);
        if (found != m_byName.end()) {
            used[static_cast<std::size_t>(found->second)] = true;
        }
    }

    void markAncestors(std::vector<bool>& used) const {
        used[0] = true;
        for (std::size_t i = m_nodes.size(); i-- > 1;) {
            if (used[i]) {
                used[static_cast<std::size_t>(m_nodes[i].parent)] = true;
            }
        }
    }

    // Every mesh instance's vertices at the rest pose, skinned by their bones' weights.
    void readVertices(std::vector<bool>& used) {
        for (std::size_t n = 0; n < m_nodes.size(); ++n) {
            const aiNode& node = *m_nodes[n].node;
            for (unsigned int i = 0; i < node.mNumMeshes; ++i) {
                const aiMesh& mesh = *m_scene.mMeshes[node.mMeshes[i]];
                used[n] = true;
                std::vector<aiMatrix4x4> blend(mesh.mNumVertices, zero());
                std::vector<float> heaviest(mesh.mNumVertices, 0.0f);
                std::vector<float> total(mesh.mNumVertices, 0.0f);
                std::vector<int> owner(mesh.mNumVertices, static_cast<int>(n));
                for (unsigned int b = 0; b < mesh.mNumBones; ++b) {
                    const aiBone& bone = *mesh.mBones[b];
                    const auto found = m_byName.find(bone.mName.C_Str());
                    if (found == m_byName.end()) {
                        continue;
                    }
                    used[static_cast<std::size_t>(found->second)] = true;
                    const aiMatrix4x4 skin =
                        m_rest[static_cast<std::size_t>(found->second)] * bone.mOffsetMatrix;
                    for (unsigned int w = 0; w < bone.mNumWeights; ++w) {
                        const aiVertexWeight& weight = bone.mWeights[w];
                        if (weight.mVertexId >= mesh.mNumVertices || !(weight.mWeight > 0.0f)) {
                            continue;
                        }
                        add(blend[weight.mVertexId], skin, weight.mWeight);
                        total[weight.mVertexId] += weight.mWeight;
                        if (weight.mWeight > heaviest[weight.mVertexId]) {
                            heaviest[weight.mVertexId] = weight.mWeight;
                            owner[weight.mVertexId] = found->second;
                        }
                    }
                }
                const std::size_t first = m_corners.size();
                for (unsigned int v = 0; v < mesh.mNumVertices; ++v) {
                    aiMatrix4x4 m = m_rest[n];
                    if (total[v] > 0.0f) {
                        m = blend[v];
                        add(m, blend[v], 1.0f / total[v] - 1.0f);
                    }
                    aiMatrix3x3 normalMatrix(m);
                    normalMatrix.Inverse().Transpose();
                    Corner corner;
                    corner.position = m * mesh.mVertices[v];
                    corner.normal =
                        mesh.HasNormals() ? (normalMatrix * mesh.mNormals[v]).NormalizeSafe() : aiVector3D();
                    corner.uv = mesh.HasTextureCoords(0) ? mesh.mTextureCoords[0][v] : aiVector3D();
                    corner.node = owner[v];
                    m_corners.push_back(corner);
                }
                for (unsigned int f = 0; f < mesh.mNumFaces; ++f) {
                    const aiFace& face = mesh.mFaces[f];
                    if (face.mNumIndices == 3) {
                        m_faces.push_back(
                            {{first + face.mIndices[0], first + face.mIndices[1], first + face.mIndices[2]},
                             mesh.mMaterialIndex});
                    }
                }
            }
        }
    }

    static void add(aiMatrix4x4& sum, const aiMatrix4x4& m, float weight) {
        for (unsigned int i = 0; i < 4; ++i) {
            for (unsigned int j = 0; j < 4; ++j) {
                sum[i][j] += m[i][j] * weight;
            }
        }
    }

    // The nearest node at or above n that is a joint.
    int jointOf(int n, const std::vector<bool>& used) const {
        while (n > 0 && !used[static_cast<std::size_t>(n)]) {
            n = m_nodes[static_cast<std::size_t>(n)].parent;
        }
        return n;
    }

    // Triangles per joint, each on the joint most of its corners are bound to, as RigidParts gives them.
    std::vector<std::size_t> ownedTriangles(const std::vector<bool>& used) const {
        std::vector<std::size_t> owned(m_nodes.size(), 0);
        for (const Face& face : m_faces) {
            const int a = jointOf(m_corners[face.corners[0]].node, used);
            const int b = jointOf(m_corners[face.corners[1]].node, used);
            const int c = jointOf(m_corners[face.corners[2]].node, used);
            ++owned[static_cast<std::size_t>((b == c && a != b) ? b : a)];
        }
        return owned;
    }

    // Past the viewer's joints, joints without triangles go first, then those with the fewest (the
    // deepest of equals), each folding into its parent, which then carries its triangles too.
    void foldJoints(std::vector<bool>& used, std::vector<std::string>& notes) const {
        const std::size_t limit = Skeleton::maxParts / 2;
        const std::size_t joints = static_cast<std::size_t>(std::count(used.begin(), used.end(), true));
        if (joints <= limit) {
            return;
        }
        std::vector<std::size_t> owned = ownedTriangles(used);
        std::size_t empty = 0;
        for (std::size_t i = 1; i < used.size(); ++i) {
            if (used[i] && owned[i] == 0) {
                used[i] = false;
                ++empty;
            }
        }
        std::size_t carrying = 0;
        for (std::size_t left = joints - empty; left > limit; --left, ++carrying) {
            std::size_t fewest = 0;
            for (std::size_t i = 1; i < used.size(); ++i) {
                if (used[i] && (fewest == 0 || owned[i] <= owned[fewest])) {
                    fewest = i;
                }
            }
            used[fewest] = false;
            owned = ownedTriangles(used);
        }
        notes.push_back(
            m_path + ": " + std::to_string(joints) + " joints, past the viewer's " + std::to_string(limit) +
            "; " + std::to_string(empty) + " without triangles" +
            (carrying > 0 ? " and " + std::to_string(carrying) + " with the fewest" : std::string()) +
            " folded into their parents, their motion kept in their children's keys");
    }

    msModel build(const std::vector<bool>& used) const {
        msModel model;
        model.animationFps = framesPerSecond;
        std::vector<int> jointIndex(m_nodes.size(), -1);
        std::vector<int> joints; // node of each joint
        for (std::size_t n = 0; n < m_nodes.size(); ++n) {
            if (used[n]) {
                jointIndex[n] = static_cast<int>(joints.size());
                joints.push_back(static_cast<int>(n));
            }
        }
        const std::size_t limit = Skeleton::maxParts / 2;
        if (joints.size() > std::min<std::size_t>(limit, std::numeric_limits<std::int8_t>::max())) {
            throw FatalError(m_path + ": " + std::to_string(joints.size()) + " joints need " +
                             std::to_string(2 * joints.size()) +
                             " parts (a mesh and a box each); the viewer takes at most " +
                             std::to_string(Skeleton::maxParts));
        }
        if (m_corners.size() > std::numeric_limits<std::uint16_t>::max()) {
            throw FatalError(m_path + ": " + std::to_string(m_corners.size()) +
                             " vertices; a model slot holds at most 65535");
        }
        const auto parentJoint = [&](int n) {
            return n == 0 ? -1 : jointOf(m_nodes[static_cast<std::size_t>(n)].parent, used);
        };
        // Parents are found by name, so names are made unique first.
        std::vector<std::string> names(m_nodes.size());
        std::set<std::string> taken;
        for (const int n : joints) {
            const std::string name = m_nodes[static_cast<std::size_t>(n)].node->mName.C_Str();
            names[static_cast<std::size_t>(n)] = name;
            for (int copy = 2; !taken.insert(names[static_cast<std::size_t>(n)]).second; ++copy) {
                names[static_cast<std::size_t>(n)] = name + "_" + std::to_string(copy);
            }
        }
        std::vector<aiMatrix4x4> bindLocal(joints.size());
        for (std::size_t j = 0; j < joints.size(); ++j) {
            const int n = joints[j];
            const int parent = parentJoint(n);
            MsJoint joint;
            joint.name = names[static_cast<std::size_t>(n)];
            joint.parentName = parent < 0 ? "" : names[static_cast<std::size_t>(parent)];
            aiMatrix4x4 parentWorld =
                parent < 0 ? aiMatrix4x4() : rigid(m_rest[static_cast<std::size_t>(parent)]);
            bindLocal[j] = parentWorld.Inverse() * rigid(m_rest[static_cast<std::size_t>(n)]);
            pose(bindLocal[j], joint.rotation, joint.position);
            model.joints.push_back(joint);
        }
        addKeys(model, joints, bindLocal, parentJoint);

        for (const Corner& corner : m_corners) {
            MsVertex vertex;
            vertex.position = {corner.position.x, corner.position.y, corner.position.z};
            vertex.boneId =
                static_cast<std::int8_t>(jointIndex[static_cast<std::size_t>(jointOf(corner.node, used))]);
            model.vertices.push_back(vertex);
        }
        const std::size_t groups =
            std::min<std::size_t>(m_scene.mNumMaterials, std::numeric_limits<std::int8_t>::max());
        for (std::size_t g = 0; g < groups; ++g) {
            MsGroup group;
            group.materialIndex = static_cast<std::int8_t>(g);
            model.groups.push_back(group);
        }
        for (const Face& face : m_faces) {
            MsTriangle triangle;
            for (std::size_t k = 0; k < 3; ++k) {
                const Corner& corner = m_corners[face.corners[k]];
                triangle.vertexIndices[k] = static_cast<std::uint16_t>(face.corners[k]);
                triangle.vertexNormals[k] = {corner.normal.x, corner.normal.y, corner.normal.z};
                // MilkShape's t runs down the image; Assimp's v runs up.
                triangle.s[k] = corner.uv.x;
                triangle.t[k] = 1.0f - corner.uv.y;
            }
            triangle.groupIndex = static_cast<std::uint8_t>(std::min<std::size_t>(face.material, 255));
            model.triangles.push_back(triangle);
        }
        return model;
    }

    template <class ParentOf>
    void addKeys(msModel& model, const std::vector<int>& joints, const std::vector<aiMatrix4x4>& bindLocal,
                 ParentOf parentJoint) const {
        if (m_animation == nullptr) {
            return;
        }
        std::set<double> allTimes;
        std::vector<const aiNodeAnim*> channels(m_nodes.size(), nullptr);
        for (unsigned int c = 0; c < m_animation->mNumChannels; ++c) {
            const aiNodeAnim* channel = m_animation->mChannels[c];
            const auto found = m_byName.find(channel->mNodeName.C_Str());
            if (found != m_byName.end()) {
                channels[static_cast<std::size_t>(found->second)] = channel;
            }
            for (unsigned int k = 0; k < channel->mNumPositionKeys; ++k)
                allTimes.insert(channel->mPositionKeys[k].mTime);
            for (unsigned int k = 0; k < channel->mNumRotationKeys; ++k)
                allTimes.insert(channel->mRotationKeys[k].mTime);
            for (unsigned int k = 0; k < channel->mNumScalingKeys; ++k)
                allTimes.insert(channel->mScalingKeys[k].mTime);
        }
        std::vector<double> times(allTimes.begin(), allTimes.end());
        if (times.size() > Joint::maxKeys) {
            std::vector<double> kept;
            for (std::size_t i = 0; i < Joint::maxKeys; ++i) {
                kept.push_back(times[i * (times.size() - 1) / (Joint::maxKeys - 1)]);
            }
            times = std::move(kept);
        }
        const double ticks =
            m_animation->mTicksPerSecond > 0.0 ? m_animation->mTicksPerSecond : defaultTicksPerSecond;
        std::vector<bool> moves(joints.size(), false);
        for (const double t : times) {
            std::vector<aiMatrix4x4> locals = m_restLocals;
            for (std::size_t n = 0; n < m_nodes.size(); ++n) {
                if (channels[n] != nullptr) {
                    locals[n] = localAt(*channels[n], m_restLocals[n], t);
                }
            }
            const std::vector<aiMatrix4x4> world = globals(m_nodes, locals);
            const float frame = static_cast<float>(t / ticks * framesPerSecond);
            for (std::size_t j = 0; j < joints.size(); ++j) {
                const int parent = parentJoint(joints[j]);
                aiMatrix4x4 parentWorld =
                    parent < 0 ? aiMatrix4x4() : rigid(world[static_cast<std::size_t>(parent)]);
                const aiMatrix4x4 local =
                    parentWorld.Inverse() * rigid(world[static_cast<std::size_t>(joints[j])]);
                aiMatrix4x4 bindInverse = bindLocal[j];
                bindInverse.Inverse();
                // The viewer plays a joint as its bind pose followed by the key: A = B K.
                MsKeyframe rotation{frame, {}};
                MsKeyframe position{frame, {}};
                pose(bindInverse * local, rotation.value, position.value);
                moves[j] = moves[j] || !identity(rotation.value, position.value);
                model.joints[j].rotationKeys.push_back(rotation);
                model.joints[j].positionKeys.push_back(position);
            }
            model.totalFrames = static_cast<std::int32_t>(std::ceil(frame)) + 1;
        }
        for (std::size_t j = 0; j < joints.size(); ++j) {
            if (!moves[j]) {
                model.joints[j].rotationKeys.clear();
                model.joints[j].positionKeys.clear();
            }
        }
    }

    const aiScene& m_scene;
    std::string m_path;
    std::vector<Node> m_nodes;
    std::map<std::string, int> m_byName;
    std::vector<aiMatrix4x4> m_restLocals;
    std::vector<aiMatrix4x4> m_rest;
    const aiAnimation* m_animation = nullptr;
    std::vector<Corner> m_corners;
    std::vector<Face> m_faces;
};

} // namespace

SkinnedModel readSkinnedModel(const std::string& path, const std::string& stem,
                              std::vector<std::string>& notes) {
    const AssimpFile file(path, AssimpFile::Use::skinnedModel);
    SkinnedModel skinned;
    skinned.model = Reader(file.scene(), path).read(notes);
    skinned.materials = importAssimpMaterials(file.scene(), path, notes);
    for (ImportedMaterial& material : skinned.materials) {
        if (!material.textureBytes.empty()) {
            material.textureFile = stem + "-" + material.entry.name + ".tga";
            material.entry.colorTexture = material.textureFile;
        }
    }
    if (file.scene().mNumAnimations > 1) {
        notes.push_back(path + ": " + std::to_string(file.scene().mNumAnimations) +
                        " animations; the first, " + file.scene().mAnimations[0]->mName.C_Str() + ", plays");
    }
    return skinned;
}

} // namespace Raytracer::Import
