#include "tools/import/JointTree.h"

#include "animation/Skeleton.h"
#include "math/FatalError.h"
#include "tools/scenegen/TextFormat.h"

#include <set>

namespace Raytracer::Import {

namespace {

// The mesh builder draws a part whose name contains "envOBJ3D" unlit.
constexpr const char* unlitMark = "envOBJ3D";
constexpr const char* meshPartSuffix = "OBJ3D";

bool allowedCharacter(char c) {
    return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '_' || c == '-';
}

// The name in the characters an OBJ group line keeps whole, cut to the viewer's length, with any
// "env" that would end up before the mesh part's suffix capitalised.
std::string viewerName(const std::string& name) {
    std::string cleaned;
    for (char c : name) {
        cleaned += allowedCharacter(c) ? c : '_';
    }
    if (cleaned.empty()) {
        cleaned = "joint";
    }
    cleaned.resize(std::min(cleaned.size(), Joint::maxNameLength));
    for (std::size_t at = (cleaned + meshPartSuffix).find(unlitMark); at != std::string::npos;
         at = (cleaned + meshPartSuffix).find(unlitMark)) {
        cleaned[at] = 'E';
    }
    return cleaned;
}

// name, or name with its end replaced by _2, _3 ... until it is not yet taken.
std::string uniqueName(const std::string& name, std::set<std::string>& taken) {
    std::string candidate = name;
    for (int n = 2; taken.count(candidate) != 0; ++n) {
        const std::string suffix = Scenegen::format("_%d", n);
        candidate = name.substr(0, std::min(name.size(), Joint::maxNameLength - suffix.size())) + suffix;
    }
    taken.insert(candidate);
    return candidate;
}

// The first joint with the parent's name, as MilkShape resolves it; -1 for none.
std::vector<int> sourceParents(const msModel& model) {
    std::vector<int> parents(model.joints.size(), -1);
    for (std::size_t j = 0; j < model.joints.size(); ++j) {
        const std::string& parentName = model.joints[j].parentName;
        for (std::size_t p = 0; p < model.joints.size() && !parentName.empty(); ++p) {
            if (model.joints[p].name == parentName) {
                parents[j] = static_cast<int>(p);
                break;
            }
        }
    }
    return parents;
}

void checkPartCount(std::size_t joints, const std::string& path) {
    if (2 * joints > Skeleton::maxParts) {
        throw FatalError(path + ": " + std::to_string(joints) + " joints need " + std::to_string(2 * joints) +
                         " parts (a mesh and a box each); the viewer takes at most " +
                         std::to_string(Skeleton::maxParts));
    }
}

} // namespace

JointTree buildJointTree(const msModel& model, const std::string& path, std::vector<std::string>& notes) {
    const std::size_t count = model.joints.size();
    // Checked first, as finding parents and loops takes time in the square of the count.
    checkPartCount(count, path);
    const std::vector<int> parents = sourceParents(model);
    std::vector<int> roots;
    for (std::size_t j = 0; j < count; ++j) {
        // A chain of parents longer than the joints has come round a loop.
        int ancestor = static_cast<int>(j);
        for (std::size_t step = 0; ancestor >= 0 && step <= count; ++step) {
            ancestor = parents[static_cast<std::size_t>(ancestor)];
        }
        if (ancestor >= 0) {
            throw FatalError(path + ": the parents of joint " + model.joints[j].name + " run in a loop");
        }
        if (parents[j] < 0) {
            roots.push_back(static_cast<int>(j));
        }
    }

    JointTree tree;
    tree.addedRoot = roots.size() != 1;
    tree.fromSource.assign(count, -1);
    checkPartCount(count + (tree.addedRoot ? 1 : 0), path);
    // Depth first from each root in file order, a joint's children in file order.
    std::vector<std::pair<int, int>> pending; // (source joint, tree parent), taken from the back
    if (tree.addedRoot) {
        ImportedJoint root;
        root.name = "root";
        tree.joints.push_back(root);
    }
    for (auto it = roots.rbegin(); it != roots.rend(); ++it) {
        pending.push_back({*it, tree.addedRoot ? 0 : -1});
    }
    while (!pending.empty()) {
        const auto [source, parent] = pending.back();
        pending.pop_back();
        const MsJoint& from = model.joints[static_cast<std::size_t>(source)];
        ImportedJoint joint;
        joint.name = from.name;
        joint.parent = parent;
        joint.source = source;
        joint.flags = from.flags;
        joint.rotation = from.rotation;
        joint.position = from.position;
        joint.rotationKeys = from.rotationKeys;
        joint.positionKeys = from.positionKeys;
        joint.color = from.color;
        const int index = static_cast<int>(tree.joints.size());
        tree.fromSource[static_cast<std::size_t>(source)] = index;
        tree.joints.push_back(std::move(joint));
        for (std::size_t child = count; child-- > 0;) {
            if (parents[child] == source) {
                pending.push_back({static_cast<int>(child), index});
            }
        }
    }

    std::vector<std::size_t> children(tree.joints.size(), 0);
    for (const ImportedJoint& joint : tree.joints) {
        if (joint.parent >= 0 && ++children[static_cast<std::size_t>(joint.parent)] > Joint::maxChildren) {
            throw FatalError(path + ": joint " + tree.joints[static_cast<std::size_t>(joint.parent)].name +
                             " has more than " + std::to_string(Joint::maxChildren) +
                             " children; the viewer takes at most " + std::to_string(Joint::maxChildren));
        }
    }

    // File joints are named first so that they keep their names; an added root yields to them.
    std::set<std::string> taken;
    std::string renamed;
    for (int pass = 0; pass < 2; ++pass) {
        for (ImportedJoint& joint : tree.joints) {
            if ((joint.source < 0) != (pass == 1)) {
                continue;
            }
            const std::string name = uniqueName(viewerName(joint.name), taken);
            if (name != joint.name && joint.source >= 0) {
                renamed += (renamed.empty() ? "" : ", ") + (joint.name.empty() ? "(no name)" : joint.name) +
                           " -> " + name;
            }
            joint.name = name;
        }
    }
    if (!renamed.empty()) {
        notes.push_back(path + ": joint names mended for the viewer (at most " +
                        std::to_string(Joint::maxNameLength) +
                        " letters, digits, _ or -, unique): " + renamed);
    }
    if (tree.addedRoot) {
        notes.push_back(path + (count == 0
                                    ? ": no joints; the whole model is one still part of an added root joint"
                                    : ": " + std::to_string(roots.size()) +
                                          " root joints; they hang from an added root joint"));
    }
    return tree;
}

} // namespace Raytracer::Import
