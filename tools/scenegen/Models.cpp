#include "tools/scenegen/Models.h"

#include "tools/scenegen/MilkShapeWriter.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <functional>
#include <stdexcept>
#include <vector>

namespace Raytracer::Scenegen {

namespace {

constexpr double pi = 3.14159265358979323846;

// Frame of the joint meshes. The loader computes each joint's bind position by adding up the file's
// joint positions times 0.4 from the model's origin, then re-expresses the joint's mesh relative to
// that point. So the companion OBJ gives every mesh in world units (after the 0.4 scale), at the bind
// pose, relative to the point where the loader places the model's root; the MilkShape file holds the
// same numbers divided by 0.4. All bind rotations are zero, so joint frames keep the model's axes.
// The robot faces -z, towards the default camera; its right is +x.

struct P3 {
    double x = 0.0;
    double y = 0.0;
    double z = 0.0;
};

P3 operator+(P3 a, P3 b) {
    return {a.x + b.x, a.y + b.y, a.z + b.z};
}
P3 operator-(P3 a, P3 b) {
    return {a.x - b.x, a.y - b.y, a.z - b.z};
}
P3 operator*(P3 a, double s) {
    return {a.x * s, a.y * s, a.z * s};
}
P3 cross(P3 a, P3 b) {
    return {a.y * b.z - a.z * b.y, a.z * b.x - a.x * b.z, a.x * b.y - a.y * b.x};
}
P3 normalized(P3 a) {
    const double length = std::sqrt(a.x * a.x + a.y * a.y + a.z * a.z);
    return a * (1.0 / length);
}

// One normal and one texture coordinate per position, so OBJ faces use the same index three times.
struct PartMesh {
    std::vector<P3> positions;
    std::vector<P3> normals;
    std::vector<std::array<double, 2>> uvs;
    std::vector<std::array<int, 3>> faces;

    int vertex(P3 position, P3 normal, double u, double v) {
        positions.push_back(position);
        normals.push_back(normal);
        uvs.push_back({u, v});
        return static_cast<int>(positions.size()) - 1;
    }
    void triangle(int a, int b, int c) { faces.push_back({a, b, c}); }
    // Corners counter-clockwise seen from outside; one flat normal.
    void flatTriangle(P3 a, P3 b, P3 c) {
        const P3 n = normalized(cross(b - a, c - a));
        const int first = vertex(a, n, 0.0, 0.0);
        vertex(b, n, 1.0, 0.0);
        vertex(c, n, 0.5, 1.0);
        triangle(first, first + 1, first + 2);
    }
};

P3 axisVector(int axis, double length) {
    P3 v;
    (axis == 0 ? v.x : axis == 1 ? v.y : v.z) = length;
    return v;
}

void addBox(PartMesh& mesh, P3 low, P3 high) {
    const P3 centre = (low + high) * 0.5;
    const P3 half = (high - low) * 0.5;
    const double halves[3] = {half.x, half.y, half.z};
    for (int axis = 0; axis < 3; ++axis) {
        const int uAxis = (axis + 1) % 3;
        const int vAxis = (axis + 2) % 3;
        for (double side : {1.0, -1.0}) {
            const P3 n = axisVector(axis, side);
            const P3 faceCentre = centre + axisVector(axis, side * halves[axis]);
            const P3 u = axisVector(uAxis, halves[uAxis]);
            const P3 v = axisVector(vAxis, halves[vAxis]);
            // u x v points along +axis, so the corner order flips on the negative side.
            std::array<P3, 4> corners = {faceCentre - u - v, faceCentre + u - v, faceCentre + u + v,
                                         faceCentre - u + v};
            if (side < 0.0) {
                std::swap(corners[1], corners[3]);
            }
            const int first = mesh.vertex(corners[0], n, 0.0, 0.0);
            mesh.vertex(corners[1], n, 1.0, 0.0);
            mesh.vertex(corners[2], n, 1.0, 1.0);
            mesh.vertex(corners[3], n, 0.0, 1.0);
            mesh.triangle(first, first + 1, first + 2);
            mesh.triangle(first, first + 2, first + 3);
        }
    }
}

void addEllipsoid(PartMesh& mesh, P3 centre, P3 radii, int slices, int stacks) {
    const int first = static_cast<int>(mesh.positions.size());
    for (int i = 0; i <= stacks; ++i) {
        const double theta = pi * i / stacks;
        for (int j = 0; j <= slices; ++j) {
            const double phi = 2.0 * pi * j / slices;
            const P3 unit = {std::sin(theta) * std::cos(phi), std::cos(theta),
                             std::sin(theta) * std::sin(phi)};
            const P3 offset = {radii.x * unit.x, radii.y * unit.y, radii.z * unit.z};
            const P3 n = normalized({unit.x / radii.x, unit.y / radii.y, unit.z / radii.z});
            mesh.vertex(centre + offset, n, static_cast<double>(j) / slices,
                        1.0 - static_cast<double>(i) / stacks);
        }
    }
    const int row = slices + 1;
    for (int i = 0; i < stacks; ++i) {
        for (int j = 0; j < slices; ++j) {
            const int a = first + i * row + j;
            const int b = a + 1;
            const int c = a + row + 1;
            const int d = a + row;
            if (i > 0) {
                mesh.triangle(a, b, c);
            }
            if (i < stacks - 1) {
                mesh.triangle(a, c, d);
            }
        }
    }
}

void addSphere(PartMesh& mesh, P3 centre, double radius, int slices, int stacks) {
    addEllipsoid(mesh, centre, {radius, radius, radius}, slices, stacks);
}

// A capped frustum from start to end with an elliptic cross-section: radii (across, deep) at each end.
void addTube(PartMesh& mesh, P3 start, P3 end, std::array<double, 2> startRadii,
             std::array<double, 2> endRadii, int slices) {
    const P3 along = end - start;
    const P3 axis = normalized(along);
    const P3 reference = std::abs(axis.y) < 0.9 ? P3{0.0, 1.0, 0.0} : P3{1.0, 0.0, 0.0};
    const P3 u = normalized(cross(reference, axis));
    const P3 v = cross(axis, u);
    const P3 slopeU = u * (endRadii[0] - startRadii[0]);
    const P3 slopeV = v * (endRadii[1] - startRadii[1]);
    const int first = static_cast<int>(mesh.positions.size());
    for (int ring = 0; ring < 2; ++ring) {
        const P3 base = ring == 0 ? start : end;
        const std::array<double, 2> radii = ring == 0 ? startRadii : endRadii;
        for (int j = 0; j <= slices; ++j) {
            const double phi = 2.0 * pi * j / slices;
            const double c = std::cos(phi);
            const double s = std::sin(phi);
            const P3 around = u * (-radii[0] * s) + v * (radii[1] * c);
            const P3 lengthwise = along + slopeU * c + slopeV * s;
            mesh.vertex(base + u * (radii[0] * c) + v * (radii[1] * s), normalized(cross(around, lengthwise)),
                        static_cast<double>(j) / slices, ring);
        }
    }
    const int row = slices + 1;
    for (int j = 0; j < slices; ++j) {
        mesh.triangle(first + j, first + j + 1, first + row + j + 1);
        mesh.triangle(first + j, first + row + j + 1, first + row + j);
    }
    for (int ring = 0; ring < 2; ++ring) {
        const P3 base = ring == 0 ? start : end;
        const std::array<double, 2> radii = ring == 0 ? startRadii : endRadii;
        const P3 n = ring == 0 ? axis * -1.0 : axis;
        const int centre = mesh.vertex(base, n, 0.5, 0.5);
        for (int j = 0; j <= slices; ++j) {
            const double phi = 2.0 * pi * j / slices;
            const double c = std::cos(phi);
            const double s = std::sin(phi);
            mesh.vertex(base + u * (radii[0] * c) + v * (radii[1] * s), n, 0.5 + 0.5 * c, 0.5 + 0.5 * s);
        }
        for (int j = 0; j < slices; ++j) {
            if (ring == 0) {
                mesh.triangle(centre, centre + j + 2, centre + j + 1);
            } else {
                mesh.triangle(centre, centre + j + 1, centre + j + 2);
            }
        }
    }
}

void addRoundTube(PartMesh& mesh, P3 start, P3 end, double startRadius, double endRadius, int slices) {
    addTube(mesh, start, end, {startRadius, startRadius}, {endRadius, endRadius}, slices);
}

// The outer face of a band around the y axis through centre, facing -z, spanning +-halfAngle.
void addBand(PartMesh& mesh, P3 centre, double radius, double halfAngle, double halfHeight, int segments) {
    const int first = static_cast<int>(mesh.positions.size());
    for (int j = 0; j <= segments; ++j) {
        const double psi = -halfAngle + 2.0 * halfAngle * j / segments;
        const P3 n = {std::sin(psi), 0.0, -std::cos(psi)};
        const P3 point = centre + n * radius;
        mesh.vertex(point + P3{0.0, -halfHeight, 0.0}, n, static_cast<double>(j) / segments, 0.0);
        mesh.vertex(point + P3{0.0, halfHeight, 0.0}, n, static_cast<double>(j) / segments, 1.0);
    }
    for (int j = 0; j < segments; ++j) {
        const int bottom = first + 2 * j;
        mesh.triangle(bottom, bottom + 3, bottom + 2);
        mesh.triangle(bottom, bottom + 1, bottom + 3);
    }
}

// A five-pointed star in the xy plane, one point up, with faceted faces rising to an apex on each side.
void addStar(PartMesh& mesh, P3 centre, double outerRadius, double innerRadius, double depth) {
    std::array<P3, 10> rim;
    for (int k = 0; k < 10; ++k) {
        const double angle = pi / 2.0 + k * pi / 5.0;
        const double radius = k % 2 == 0 ? outerRadius : innerRadius;
        rim[k] = centre + P3{radius * std::cos(angle), radius * std::sin(angle), 0.0};
    }
    const P3 front = centre + P3{0.0, 0.0, -depth};
    const P3 back = centre + P3{0.0, 0.0, depth};
    for (int k = 0; k < 10; ++k) {
        const P3 a = rim[k];
        const P3 b = rim[(k + 1) % 10];
        mesh.flatTriangle(front, b, a);
        mesh.flatTriangle(back, a, b);
    }
}

struct MaterialDefinition {
    const char* name;
    double color[3];
    double reflectivityPercent; // Ns as this program reads it
    double opacity;             // d
    double refractionIndex;     // Ni
    double specular;            // Ks, red channel read
    double reflectionBlur;      // Ka, red channel read
    double shininess;           // only for the MilkShape material record
};

// Names: none ends with another, since a usemtl text picks the first material name ending in it.
// twinGlass is clear glass as the stage's glass ball is: the colour is absorbed per unit of path, counted
// on to whatever is seen through the sphere, so a pale colour would turn it black.
const std::array<MaterialDefinition, 9> materials = {{
    {"robotMetal", {0.56, 0.58, 0.62}, 25.0, 1.0, 1.0, 0.6, 0.08, 40.0},
    {"robotChrome", {0.82, 0.84, 0.88}, 65.0, 1.0, 1.0, 0.9, 0.0, 110.0},
    {"robotGunmetal", {0.16, 0.17, 0.19}, 12.0, 1.0, 1.0, 0.5, 0.0, 60.0},
    {"visorGlow", {1.0, 0.1, 0.05}, 0.0, 1.0, 1.0, 0.0, 0.0, 0.0},
    {"mirrorBall", {0.9, 0.9, 0.95}, 85.0, 1.0, 1.0, 1.0, 0.0, 128.0},
    {"starGold", {1.0, 0.76, 0.22}, 30.0, 1.0, 1.0, 0.9, 0.03, 90.0},
    {"twinSteel", {0.7, 0.72, 0.75}, 55.0, 1.0, 1.0, 0.8, 0.0, 100.0},
    {"twinGlass", {0.012, 0.006, 0.004}, 8.0, 0.25, 1.5, 1.0, 0.0, 128.0},
    {"twinRuby", {0.78, 0.08, 0.12}, 30.0, 1.0, 1.0, 1.0, 0.0, 100.0},
}};

int materialIndex(const std::string& name) {
    for (std::size_t i = 0; i < materials.size(); ++i) {
        if (name == materials[i].name) {
            return static_cast<int>(i);
        }
    }
    throw std::logic_error("unknown material " + name);
}

// Euler angles (radians about x, y, z) and a translation in world units, both relative to the bind
// transform: what a MilkShape key stores before the 0.4 scale.
struct JointPose {
    P3 rotation;
    P3 offset;
};

struct JointDefinition {
    std::string name;
    std::string parent;
    P3 position; // world units at the bind pose
    std::string material;
    std::function<void(PartMesh&)> build;
};

struct ModelDefinition {
    std::string name;
    std::string comment;
    float jointColor[3];
    std::vector<JointDefinition> joints;
    std::vector<double> keyFrames;
    std::function<std::vector<JointPose>(double frame)> pose;
};

// Joint order of the robot; poses index by these.
enum CylonJoint {
    pelvis,
    spine,
    head,
    visor,
    rightUpperArm,
    rightForearm,
    rightHand,
    leftUpperArm,
    leftForearm,
    leftHand,
    rightThigh,
    rightShin,
    rightFoot,
    leftThigh,
    leftShin,
    leftFoot,
    cylonJointCount
};

using CylonPose = std::array<JointPose, cylonJointCount>;

constexpr double hipHeight = 5.0;
constexpr double kneeHeight = 2.75;
constexpr double ankleHeight = 0.55;

void addPose(CylonPose& pose, const CylonPose& other, double weight) {
    for (int i = 0; i < cylonJointCount; ++i) {
        pose[i].rotation = pose[i].rotation + other[i].rotation * weight;
        pose[i].offset = pose[i].offset + other[i].offset * weight;
    }
}

CylonPose blend(const CylonPose& from, const CylonPose& to, double s) {
    const double eased = s * s * (3.0 - 2.0 * s);
    CylonPose pose = from;
    addPose(pose, from, -eased);
    addPose(pose, to, eased);
    return pose;
}

double bump(double p, double start, double end) {
    if (p <= start || p >= end) {
        return 0.0;
    }
    const double s = std::sin(pi * (p - start) / (end - start));
    return s * s;
}

// Knees bent with the feet kept flat and under the hips: thighs forward by a, shins back by 2a, the
// pelvis lowered by the legs' lost height. Amount 1 is a deep squat.
CylonPose crouch(double amount) {
    const double a = 0.95 * amount;
    CylonPose pose{};
    for (CylonJoint thigh : {rightThigh, leftThigh}) {
        pose[thigh].rotation.x = a;
        pose[thigh + 1].rotation.x = -2.0 * a;
        pose[thigh + 2].rotation.x = a;
    }
    pose[pelvis].offset.y = -(hipHeight - ankleHeight) * (1.0 - std::cos(a));
    pose[spine].rotation.x = -0.45 * a;
    pose[head].rotation.x = 0.35 * a;
    for (CylonJoint arm : {rightUpperArm, leftUpperArm}) {
        pose[arm].rotation.x = 0.9 * a;
        pose[arm + 1].rotation.x = 0.6 * a;
    }
    return pose;
}

// Walking in place: phase 0 and 2 pi give the same pose.
CylonPose walk(double phase) {
    const double swing = std::sin(phase);
    CylonPose pose{};
    const double legSwing = 0.45;
    for (int side = 0; side < 2; ++side) {
        const CylonJoint thigh = side == 0 ? rightThigh : leftThigh;
        const CylonJoint arm = side == 0 ? rightUpperArm : leftUpperArm;
        const double sign = side == 0 ? 1.0 : -1.0;
        const double lift = 0.5 + 0.5 * std::sin(phase + 0.4 + (side == 0 ? 0.0 : pi));
        pose[thigh].rotation.x = sign * legSwing * swing;
        pose[thigh + 1].rotation.x = -0.9 * lift * lift;
        pose[thigh + 2].rotation.x = -0.5 * (pose[thigh].rotation.x + pose[thigh + 1].rotation.x);
        pose[arm].rotation.x = -sign * 0.4 * swing;
        pose[arm + 1].rotation.x = 0.35 + 0.15 * sign * swing;
    }
    pose[pelvis].offset.y = -0.25 * swing * swing;
    pose[pelvis].rotation.y = 0.08 * swing;
    pose[spine].rotation.y = -0.12 * swing;
    pose[head].rotation.y = 0.04 * swing;
    return pose;
}

// One jump from standing to standing: dip, take-off, flight with tucked legs, landing, recovery.
CylonPose jump(double p) {
    CylonPose pose = crouch(0.55 * bump(p, 0.0, 0.24) + 0.6 * bump(p, 0.66, 1.0));
    if (p > 0.2 && p < 0.7) {
        const double s = (p - 0.2) / 0.5;
        const double flight = std::sin(pi * s);
        pose[pelvis].offset.y += 1.6 * 4.0 * s * (1.0 - s);
        for (CylonJoint thigh : {rightThigh, leftThigh}) {
            pose[thigh].rotation.x += 0.45 * flight;
            pose[thigh + 1].rotation.x += -0.8 * flight;
            pose[thigh + 2].rotation.x += 0.2 * flight;
        }
    }
    const double armsUp = 2.3 * bump(p, 0.15, 0.78) - 0.5 * bump(p, 0.0, 0.2);
    for (CylonJoint arm : {rightUpperArm, leftUpperArm}) {
        pose[arm].rotation.x += armsUp;
        pose[arm + 1].rotation.x += 0.3 * bump(p, 0.15, 0.78);
    }
    return pose;
}

CylonPose waveReady() {
    CylonPose pose{};
    pose[rightUpperArm].rotation.z = 2.6;
    pose[rightForearm].rotation.z = 0.25;
    pose[leftUpperArm].rotation.z = -0.2;
    pose[leftForearm].rotation.x = 0.3;
    pose[head].rotation.y = 0.15;
    pose[spine].rotation.z = -0.06;
    return pose;
}

// The visor's eye sweeps side to side; whole sweeps per segment so that it is centred at every
// segment boundary and the loops close.
double scan(double frame, double start, double end, int sweeps) {
    return 0.5 * std::sin(2.0 * pi * sweeps * (frame - start) / (end - start));
}

CylonPose cylonPose(double f) {
    const CylonPose stand{};
    const double crouchRest = 0.25;
    CylonPose pose{};
    double eye = 0.0;
    if (f <= cylonWalkStart) {
        pose = blend(stand, walk(0.0), f / cylonWalkStart);
    } else if (f <= cylonWalkEnd) {
        const double p = (f - cylonWalkStart) / (cylonWalkEnd - cylonWalkStart);
        pose = walk(2.0 * pi * p);
        eye = scan(f, cylonWalkStart, cylonWalkEnd, 1);
    } else if (f <= cylonJumpStart) {
        pose = blend(walk(0.0), stand, (f - cylonWalkEnd) / (cylonJumpStart - cylonWalkEnd));
        eye = scan(f, cylonWalkEnd, cylonJumpStart, 1);
    } else if (f <= cylonJumpEnd) {
        pose = jump((f - cylonJumpStart) / (cylonJumpEnd - cylonJumpStart));
        eye = scan(f, cylonJumpStart, cylonJumpEnd, 1);
    } else if (f <= cylonCrouchStart) {
        pose = blend(stand, crouch(crouchRest), (f - cylonJumpEnd) / (cylonCrouchStart - cylonJumpEnd));
        eye = scan(f, cylonJumpEnd, cylonCrouchStart, 1);
    } else if (f <= cylonCrouchEnd) {
        const double p = (f - cylonCrouchStart) / (cylonCrouchEnd - cylonCrouchStart);
        const double s = std::sin(pi * p);
        pose = crouch(crouchRest + (1.0 - crouchRest) * s * s);
        eye = scan(f, cylonCrouchStart, cylonCrouchEnd, 1);
    } else if (f <= 90.0) {
        pose = blend(crouch(crouchRest), waveReady(), (f - cylonCrouchEnd) / (90.0 - cylonCrouchEnd));
        eye = scan(f, cylonCrouchEnd, 90.0, 1);
    } else if (f <= 130.0) {
        const double wave = std::sin(2.0 * pi * 4.0 * (f - 90.0) / 40.0);
        pose = waveReady();
        pose[rightForearm].rotation.z += 0.45 * wave;
        pose[rightHand].rotation.z = 0.25 * wave;
        pose[head].rotation.z = 0.08 * wave;
        eye = scan(f, 90.0, 130.0, 2);
    } else if (f <= 142.0) {
        pose = blend(waveReady(), stand, (f - 130.0) / 12.0);
        eye = scan(f, 130.0, 142.0, 1);
    } else if (f <= 196.0) {
        const double look = std::sin(2.0 * pi * (f - 142.0) / 54.0);
        pose[head].rotation.y = 0.9 * look;
        pose[spine].rotation.y = 0.3 * look;
        pose[head].rotation.x = 0.12 * bump(f, 142.0, 196.0);
        pose[rightUpperArm].rotation.x = -0.15 * look;
        pose[leftUpperArm].rotation.x = 0.15 * look;
        eye = scan(f, 142.0, 196.0, 2);
    } else if (f <= 212.0) {
        const double bow = bump(f, 196.0, 212.0);
        pose[spine].rotation.x = -0.4 * bow;
        pose[head].rotation.x = -0.3 * bow;
        pose[rightForearm].rotation.x = 0.5 * bow;
        pose[leftForearm].rotation.x = 0.5 * bow;
        eye = scan(f, 196.0, 212.0, 1);
    } else {
        eye = scan(f, 212.0, cylonLastFrame, 1);
    }
    pose[visor].rotation.y = eye;
    return pose;
}

// Keys on every boundary of the timeline, one frame apart where the motion is quick (walk, jump,
// wave) and about two elsewhere.
std::vector<double> cylonKeyFrames() {
    const std::array<std::pair<double, double>, 12> segments = {{
        {0.0, 1.0},
        {cylonWalkStart, 1.0},
        {cylonWalkEnd, 2.0},
        {cylonJumpStart, 1.0},
        {cylonJumpEnd, 2.0},
        {cylonCrouchStart, 2.0},
        {cylonCrouchEnd, 2.0},
        {90.0, 1.0},
        {130.0, 2.0},
        {142.0, 2.0},
        {196.0, 2.0},
        {212.0, 4.0},
    }};
    std::vector<double> frames;
    for (std::size_t i = 0; i < segments.size(); ++i) {
        const double start = segments[i].first;
        const double end = i + 1 < segments.size() ? segments[i + 1].first : cylonLastFrame;
        const int steps = static_cast<int>(std::ceil((end - start) / segments[i].second));
        for (int k = 0; k < steps; ++k) {
            frames.push_back(start + (end - start) * k / steps);
        }
    }
    frames.push_back(cylonLastFrame);
    return frames;
}

ModelDefinition cylonModel() {
    ModelDefinition model;
    model.name = "cylon";
    model.comment = "Lumenbox robot. Frames at 24 fps: walk 3-13, jump 29-41, crouch 56-76 (each loops), "
                    "wave and look around up to 228, ending in the pose of frame 0.";
    model.jointColor[0] = 0.9f;
    model.jointColor[1] = 0.2f;
    model.jointColor[2] = 0.1f;
    const int limb = 12;
    const int ball = 10;
    auto& joints = model.joints;
    joints.push_back({"pelvis", "", {0.0, 5.2, 0.0}, "robotGunmetal", [](PartMesh& m) {
                          addTube(m, {0.0, 4.72, 0.0}, {0.0, 5.62, 0.0}, {0.95, 0.55}, {0.78, 0.5}, limb);
                      }});
    joints.push_back({"spine", "pelvis", {0.0, 5.75, 0.0}, "robotMetal", [](PartMesh& m) {
                          addTube(m, {0.0, 5.6, 0.0}, {0.0, 6.2, 0.0}, {0.62, 0.42}, {0.7, 0.46}, limb);
                          addTube(m, {0.0, 6.2, 0.0}, {0.0, 7.45, 0.0}, {0.85, 0.52}, {1.25, 0.7}, limb);
                          addTube(m, {0.0, 7.45, 0.0}, {0.0, 8.05, 0.0}, {1.25, 0.7}, {0.8, 0.5}, limb);
                          addRoundTube(m, {0.0, 7.95, 0.0}, {0.0, 8.4, 0.0}, 0.3, 0.24, 10);
                          addEllipsoid(m, {1.4, 7.9, 0.0}, {0.48, 0.38, 0.48}, ball, 6);
                          addEllipsoid(m, {-1.4, 7.9, 0.0}, {0.48, 0.38, 0.48}, ball, 6);
                      }});
    joints.push_back({"head", "spine", {0.0, 8.3, 0.0}, "robotChrome", [](PartMesh& m) {
                          addEllipsoid(m, {0.0, 8.95, 0.0}, {0.64, 0.72, 0.64}, 16, 12);
                          addBox(m, {-0.06, 9.5, -0.45}, {0.06, 9.76, 0.5});
                      }});
    // The 'env' ending makes the mesh part's name contain "envOBJ3D", which the mesh builder draws
    // unlit: the visor glows in its own colour.
    joints.push_back({"visorenv", "head", {0.0, 8.95, 0.0}, "visorGlow", [](PartMesh& m) {
                          addBand(m, {0.0, 8.95, 0.0}, 0.655, 0.4, 0.07, 10);
                      }});
    for (int side = 0; side < 2; ++side) {
        const double x = side == 0 ? 1.0 : -1.0;
        const std::string prefix = side == 0 ? "right" : "left";
        joints.push_back(
            {prefix + "UpperArm", "spine", {1.45 * x, 7.85, 0.0}, "robotChrome", [x](PartMesh& m) {
                 addRoundTube(m, {1.5 * x, 7.7, 0.0}, {1.55 * x, 6.45, 0.0}, 0.3, 0.25, limb);
             }});
        joints.push_back(
            {prefix + "Forearm", prefix + "UpperArm", {1.55 * x, 6.3, 0.0}, "robotMetal", [x](PartMesh& m) {
                 addSphere(m, {1.55 * x, 6.3, 0.0}, 0.27, ball, 6);
                 addRoundTube(m, {1.56 * x, 6.15, 0.0}, {1.6 * x, 5.05, 0.0}, 0.32, 0.24, limb);
             }});
        joints.push_back(
            {prefix + "Hand", prefix + "Forearm", {1.6 * x, 4.9, 0.0}, "robotGunmetal", [x](PartMesh& m) {
                 addSphere(m, {1.6 * x, 4.9, 0.0}, 0.2, 10, 6);
                 addBox(m, {1.6 * x - 0.12, 4.1, -0.2}, {1.6 * x + 0.12, 4.8, 0.2});
             }});
    }
    for (int side = 0; side < 2; ++side) {
        const double x = side == 0 ? 0.62 : -0.62;
        const std::string prefix = side == 0 ? "right" : "left";
        joints.push_back({prefix + "Thigh", "pelvis", {x, hipHeight, 0.0}, "robotChrome", [x](PartMesh& m) {
                              addSphere(m, {x, hipHeight, 0.0}, 0.34, ball, 6);
                              addRoundTube(m, {x, 4.85, 0.0}, {x, 2.95, 0.0}, 0.4, 0.3, limb);
                          }});
        joints.push_back(
            {prefix + "Shin", prefix + "Thigh", {x, kneeHeight, 0.0}, "robotMetal", [x](PartMesh& m) {
                 addSphere(m, {x, kneeHeight, 0.0}, 0.32, ball, 6);
                 addTube(m, {x, 2.6, 0.0}, {x, 0.7, 0.0}, {0.36, 0.4}, {0.26, 0.3}, limb);
             }});
        joints.push_back(
            {prefix + "Foot", prefix + "Shin", {x, ankleHeight, 0.0}, "robotGunmetal", [x](PartMesh& m) {
                 addSphere(m, {x, ankleHeight, 0.0}, 0.22, 10, 6);
                 addBox(m, {x - 0.3, 0.0, -1.0}, {x + 0.3, 0.38, 0.35});
             }});
    }
    model.keyFrames = cylonKeyFrames();
    model.pose = [](double frame) {
        const CylonPose pose = cylonPose(frame);
        return std::vector<JointPose>(pose.begin(), pose.end());
    };
    return model;
}

std::function<std::vector<JointPose>(double)> restPose(std::size_t jointCount) {
    return [jointCount](double) { return std::vector<JointPose>(jointCount); };
}

// The three orbiting models only ever show the pose of time 0, so one key pair per joint.
ModelDefinition ballModel() {
    ModelDefinition model{"ball", "Lumenbox mirror ball.", {0.2f, 0.6f, 1.0f}, {}, {0.0}, restPose(1)};
    model.joints.push_back({"orb", "", {0.0, 0.0, 0.0}, "mirrorBall", [](PartMesh& m) {
                                addSphere(m, {0.0, 0.0, 0.0}, 1.0, 24, 16);
                            }});
    return model;
}

ModelDefinition starModel() {
    ModelDefinition model{"star", "Lumenbox golden star.", {1.0f, 0.8f, 0.2f}, {}, {0.0}, restPose(1)};
    model.joints.push_back({"star", "", {0.0, 0.0, 0.0}, "starGold", [](PartMesh& m) {
                                addStar(m, {0.0, 0.0, 0.0}, 1.05, 0.45, 0.38);
                            }});
    return model;
}

ModelDefinition twoBallModel() {
    ModelDefinition model{"2ball",    "Lumenbox twin spheres on a bar.", {0.6f, 1.0f, 0.4f}, {}, {0.0},
                          restPose(3)};
    const double apart = 1.25;
    model.joints.push_back({"twinBar", "", {0.0, 0.0, 0.0}, "twinSteel", [apart](PartMesh& m) {
                                addRoundTube(m, {-apart, 0.0, 0.0}, {apart, 0.0, 0.0}, 0.14, 0.14, 12);
                            }});
    model.joints.push_back({"twinGlass", "twinBar", {-apart, 0.0, 0.0}, "twinGlass", [apart](PartMesh& m) {
                                addSphere(m, {-apart, 0.0, 0.0}, 0.72, 20, 14);
                            }});
    model.joints.push_back({"twinRuby", "twinBar", {apart, 0.0, 0.0}, "twinRuby", [apart](PartMesh& m) {
                                addSphere(m, {apart, 0.0, 0.0}, 0.72, 20, 14);
                            }});
    return model;
}

std::string number(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.4f", std::abs(value) < 0.00005 ? 0.0 : value);
    return text;
}

std::ofstream openText(const std::string& path) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
    return file;
}

void finish(std::ofstream& file, const std::string& path) {
    file.close();
    if (!file) {
        throw std::runtime_error("cannot write " + path);
    }
}

void writeMaterials(const std::string& path) {
    std::ofstream file = openText(path);
    file << "# Materials of the four animated models. Ns is reflectivity in percent, d opacity, Ni the\n"
            "# refractive index, Ks (red) the specular weight and Ka (red) the reflection blur.\n";
    for (const MaterialDefinition& material : materials) {
        file << "\nnewmtl " << material.name << "\n";
        file << "Kd " << number(material.color[0]) << " " << number(material.color[1]) << " "
             << number(material.color[2]) << "\n";
        file << "Ks " << number(material.specular) << " " << number(material.specular) << " "
             << number(material.specular) << "\n";
        file << "Ka " << number(material.reflectionBlur) << " " << number(material.reflectionBlur) << " "
             << number(material.reflectionBlur) << "\n";
        file << "Ns " << number(material.reflectivityPercent) << "\n";
        file << "d " << number(material.opacity) << "\n";
        file << "Ni " << number(material.refractionIndex) << "\n";
    }
    finish(file, path);
}

// Running 1-based counts of what the OBJ file has listed so far; face indices are global.
struct ObjCounters {
    int positions = 0;
    int normals = 0;
    int texCoords = 0;
};

void writeObjObject(std::ofstream& file, ObjCounters& counters, const std::string& group,
                    const PartMesh& mesh, const char* material) {
    file << "# object\n";
    file << "g " << group << "\n";
    for (const P3& p : mesh.positions) {
        file << "v " << number(p.x) << " " << number(p.y) << " " << number(p.z) << "\n";
    }
    for (const P3& n : mesh.normals) {
        file << "vn " << number(n.x) << " " << number(n.y) << " " << number(n.z) << "\n";
    }
    for (const auto& uv : mesh.uvs) {
        file << "vt " << number(uv[0]) << " " << number(uv[1]) << " 0\n";
    }
    if (material != nullptr) {
        file << "usemtl " << material << "\n";
    }
    for (const auto& face : mesh.faces) {
        file << "f";
        for (int corner : face) {
            file << " " << counters.positions + corner + 1 << "/" << counters.texCoords + corner + 1 << "/"
                 << counters.normals + corner + 1;
        }
        file << "\n";
    }
    counters.positions += static_cast<int>(mesh.positions.size());
    counters.normals += static_cast<int>(mesh.normals.size());
    counters.texCoords += static_cast<int>(mesh.uvs.size());
}

// The joint's proxy: the mesh's bounds with a small margin, 8 corners and 12 triangles facing out.
PartMesh boundingBox(const PartMesh& mesh) {
    P3 low = mesh.positions.front();
    P3 high = low;
    for (const P3& p : mesh.positions) {
        low = {std::min(low.x, p.x), std::min(low.y, p.y), std::min(low.z, p.z)};
        high = {std::max(high.x, p.x), std::max(high.y, p.y), std::max(high.z, p.z)};
    }
    low = low - P3{jointBoxMargin, jointBoxMargin, jointBoxMargin};
    high = high + P3{jointBoxMargin, jointBoxMargin, jointBoxMargin};
    const P3 centre = (low + high) * 0.5;
    PartMesh box;
    for (int corner = 0; corner < 8; ++corner) {
        const P3 p = {corner & 1 ? high.x : low.x, corner & 2 ? high.y : low.y, corner & 4 ? high.z : low.z};
        box.vertex(p, normalized(p - centre), corner & 1 ? 1.0 : 0.0, corner & 2 ? 1.0 : 0.0);
    }
    // Corner bit 0 is x, bit 1 y, bit 2 z; each quad counter-clockwise seen from outside.
    const int quads[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                             {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
    for (const auto& quad : quads) {
        box.triangle(quad[0], quad[1], quad[2]);
        box.triangle(quad[0], quad[2], quad[3]);
    }
    return box;
}

float fileUnits(double worldUnits) {
    return static_cast<float>(worldUnits / modelFileScale);
}

void writeModel(const std::string& directory, const ModelDefinition& model) {
    std::vector<PartMesh> meshes;
    for (const JointDefinition& joint : model.joints) {
        PartMesh mesh;
        joint.build(mesh);
        meshes.push_back(std::move(mesh));
    }

    const std::string objPath = directory + "/" + model.name + ".obj";
    std::ofstream obj = openText(objPath);
    obj << "# Lumenbox " << model.name << ": per joint a mesh and its box, in world units at the bind pose,\n"
        << "# relative to the model's placement.\n";
    obj << "mtllib models.mtl\n";
    ObjCounters counters;
    for (std::size_t i = 0; i < model.joints.size(); ++i) {
        const JointDefinition& joint = model.joints[i];
        writeObjObject(obj, counters, joint.name + "OBJ3D", meshes[i], joint.material.c_str());
        writeObjObject(obj, counters, joint.name + "BBox", boundingBox(meshes[i]), nullptr);
    }
    finish(obj, objPath);

    MsWriterModel ms;
    std::vector<int> usedMaterials;
    for (std::size_t i = 0; i < model.joints.size(); ++i) {
        const int material = materialIndex(model.joints[i].material);
        if (std::find(usedMaterials.begin(), usedMaterials.end(), material) == usedMaterials.end()) {
            usedMaterials.push_back(material);
        }
    }
    for (int index : usedMaterials) {
        const MaterialDefinition& definition = materials[index];
        MsWriterMaterial material;
        material.name = definition.name;
        for (int c = 0; c < 3; ++c) {
            const float color = static_cast<float>(definition.color[c]);
            material.ambient[c] = 0.2f * color;
            material.diffuse[c] = color;
            material.specular[c] = static_cast<float>(definition.specular);
            material.emissive[c] = definition.reflectivityPercent == 0.0 ? color : 0.0f;
        }
        material.shininess = static_cast<float>(definition.shininess);
        material.transparency = static_cast<float>(definition.opacity);
        ms.materials.push_back(material);
    }

    for (std::size_t j = 0; j < model.joints.size(); ++j) {
        const PartMesh& mesh = meshes[j];
        const int firstVertex = static_cast<int>(ms.vertices.size());
        MsWriterGroup group;
        group.name = model.joints[j].name;
        const int material = materialIndex(model.joints[j].material);
        group.materialIndex = static_cast<int8_t>(
            std::find(usedMaterials.begin(), usedMaterials.end(), material) - usedMaterials.begin());
        for (const P3& p : mesh.positions) {
            MsWriterVertex vertex;
            vertex.position[0] = fileUnits(p.x);
            vertex.position[1] = fileUnits(p.y);
            vertex.position[2] = fileUnits(p.z);
            vertex.boneId = static_cast<int8_t>(j);
            ms.vertices.push_back(vertex);
        }
        for (const auto& face : mesh.faces) {
            MsWriterTriangle triangle;
            for (int k = 0; k < 3; ++k) {
                const int index = firstVertex + face[k];
                triangle.vertexIndices[k] = static_cast<uint16_t>(index);
                ++ms.vertices[index].referenceCount;
                const P3& n = mesh.normals[face[k]];
                triangle.vertexNormals[k][0] = static_cast<float>(n.x);
                triangle.vertexNormals[k][1] = static_cast<float>(n.y);
                triangle.vertexNormals[k][2] = static_cast<float>(n.z);
                triangle.s[k] = static_cast<float>(mesh.uvs[face[k]][0]);
                triangle.t[k] = static_cast<float>(1.0 - mesh.uvs[face[k]][1]);
            }
            triangle.groupIndex = static_cast<uint8_t>(j);
            group.triangleIndices.push_back(static_cast<uint16_t>(ms.triangles.size()));
            ms.triangles.push_back(triangle);
        }
        ms.groups.push_back(std::move(group));
    }

    ms.animationFps = static_cast<float>(cylonFramesPerSecond);
    ms.currentTime = 0.0f;
    ms.totalFrames = static_cast<int32_t>(model.keyFrames.back()) + 1;
    std::vector<std::vector<JointPose>> poses;
    for (double frame : model.keyFrames) {
        poses.push_back(model.pose(frame));
    }
    for (std::size_t j = 0; j < model.joints.size(); ++j) {
        const JointDefinition& definition = model.joints[j];
        MsWriterJoint joint;
        joint.name = definition.name;
        joint.parentName = definition.parent;
        P3 local = definition.position;
        for (const JointDefinition& parent : model.joints) {
            if (parent.name == definition.parent) {
                local = definition.position - parent.position;
            }
        }
        joint.position[0] = fileUnits(local.x);
        joint.position[1] = fileUnits(local.y);
        joint.position[2] = fileUnits(local.z);
        for (std::size_t k = 0; k < model.keyFrames.size(); ++k) {
            const float time = static_cast<float>(model.keyFrames[k] / cylonFramesPerSecond);
            const JointPose& pose = poses[k][j];
            joint.rotationKeys.push_back(
                {time,
                 {static_cast<float>(pose.rotation.x), static_cast<float>(pose.rotation.y),
                  static_cast<float>(pose.rotation.z)}});
            joint.positionKeys.push_back(
                {time, {fileUnits(pose.offset.x), fileUnits(pose.offset.y), fileUnits(pose.offset.z)}});
        }
        std::copy(model.jointColor, model.jointColor + 3, joint.color);
        ms.joints.push_back(std::move(joint));
    }
    ms.comment = model.comment;
    writeMilkShapeFile(directory + "/" + model.name + ".ms3d", ms);
}

} // namespace

void writeModels(const std::string& directory) {
    writeMaterials(directory + "/models.mtl");
    for (const ModelDefinition& model : {cylonModel(), ballModel(), starModel(), twoBallModel()}) {
        writeModel(directory, model);
    }
}

} // namespace Raytracer::Scenegen
