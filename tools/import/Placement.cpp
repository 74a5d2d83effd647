#include "tools/import/Placement.h"

#include "math/FatalError.h"
#include "math/ModelMath.h"
#include "tools/import/KeyTrack.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

namespace Raytracer::Import {

namespace {

struct Transform {
    Matrix3x4 m = {{1, 0, 0, 0}, {0, 1, 0, 0}, {0, 0, 1, 0}};
};

Transform rigid(const std::array<float, 3>& angles, const std::array<float, 3>& translation) {
    Transform t;
    float q[4];
    eulerToQuaternion(angles.data(), q);
    quaternionToMatrix(q, t.m);
    for (int i = 0; i < 3; ++i) {
        t.m[i][3] = translation[static_cast<std::size_t>(i)];
    }
    return t;
}

Transform compose(const Transform& a, const Transform& b) {
    Transform out;
    concatTransforms(a.m, b.m, out.m);
    return out;
}

Transform inverse(const Transform& t) {
    Transform out;
    for (int i = 0; i < 3; ++i) {
        out.m[i][3] = 0.0f;
        for (int j = 0; j < 3; ++j) {
            out.m[i][j] = t.m[j][i];
            out.m[i][3] -= t.m[j][i] * t.m[j][3];
        }
    }
    return out;
}

} // namespace

Placement placeModel(const JointTree& tree, const PartSplit& split, const ModelSlot& slot, double height,
                     const std::string& path) {
    // Each joint's move from the bind pose to the pose of time 0, parents first as the tree is ordered.
    std::vector<Transform> bindWorld(tree.joints.size());
    std::vector<Transform> startWorld(tree.joints.size());
    constexpr double infinity = std::numeric_limits<double>::infinity();
    std::array<double, 3> low{infinity, infinity, infinity};
    std::array<double, 3> high{-infinity, -infinity, -infinity};
    for (std::size_t j = 0; j < tree.joints.size(); ++j) {
        const ImportedJoint& joint = tree.joints[j];
        const Transform bind = rigid(joint.rotation, joint.position);
        const Transform start = joint.positionKeys.empty()
                                    ? bind
                                    : compose(bind, rigid(rotationAt(joint.rotationKeys, 0.0f),
                                                          positionAt(joint.positionKeys, 0.0f)));
        const bool root = joint.parent < 0;
        bindWorld[j] = root ? bind : compose(bindWorld[static_cast<std::size_t>(joint.parent)], bind);
        startWorld[j] = root ? start : compose(startWorld[static_cast<std::size_t>(joint.parent)], start);
        const Transform move = compose(startWorld[j], inverse(bindWorld[j]));
        for (const Scenegen::Mesh::Point& p : split.parts[j].mesh.positions) {
            const double in[3] = {p.x, p.y, p.z};
            for (int i = 0; i < 3; ++i) {
                const double moved =
                    move.m[i][0] * in[0] + move.m[i][1] * in[1] + move.m[i][2] * in[2] + move.m[i][3];
                low[static_cast<std::size_t>(i)] = std::min(low[static_cast<std::size_t>(i)], moved);
                high[static_cast<std::size_t>(i)] = std::max(high[static_cast<std::size_t>(i)], moved);
            }
        }
    }
    if (low[0] > high[0]) {
        throw FatalError(path + ": the model has no triangles to show");
    }
    if (!(high[1] - low[1] > 0.0)) {
        throw FatalError(path + ": the model has no height to fit (its triangles lie in one level plane)");
    }

    Placement placement;
    placement.scale = height / (high[1] - low[1]);
    for (std::size_t i = 0; i < 3; ++i) {
        placement.centre[i] = 0.5 * (low[i] + high[i]);
        placement.offset[i] = -placement.scale * placement.centre[i];
    }
    if (slot.standsOnFloor) {
        placement.offset[1] = -placement.scale * low[1];
    }
    return placement;
}

} // namespace Raytracer::Import
