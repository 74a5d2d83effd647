#pragma once

#include "animation/MsModel.h"

#include <array>
#include <string>
#include <vector>

namespace Raytracer::Import {

// A joint as the importer writes it: named for the viewer, parents before children.
struct ImportedJoint {
    std::string name;
    int parent = -1; // index of the parent in the tree; -1 for the root
    int source = -1; // index among the file's joints; -1 for a root the importer adds
    std::uint8_t flags = 0;
    std::array<float, 3> rotation{};      // bind rotation, Euler angles in radians about x, y, z
    std::array<float, 3> position{};      // bind translation relative to the parent, in file units
    std::vector<MsKeyframe> rotationKeys; // times in frames
    std::vector<MsKeyframe> positionKeys;
    std::array<float, 3> color{};
};

// The file's joints in the order the viewer builds them: one root first, then each subtree depth
// first with children in file order, as the loader walks them.
struct JointTree {
    std::vector<ImportedJoint> joints;
    std::vector<int> fromSource; // tree index of each of the file's joints
    bool addedRoot = false;      // the file had no joint or several roots, now children of an added one
};

// Builds the tree of model's joints. Names are mended to what the viewer takes (letters, digits, _ and
// -, at most Joint::maxNameLength characters, unique, never read as an unlit part) and each mended
// name is reported in one line on notes. Throws FatalError with one line naming path when the viewer
// could not hold the tree: parents that form a loop, too many children or too many joints for its
// parts.
JointTree buildJointTree(const msModel& model, const std::string& path, std::vector<std::string>& notes);

} // namespace Raytracer::Import
