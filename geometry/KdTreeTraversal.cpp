// Front-to-back walks of a kd-tree with an explicit stack of entry and exit points. The top-level tree
// holds environment triangles and the proxies of moving parts; a ray that hits a proxy is carried
// into the part's frame and searched against the part's own tree on the second stack.
#include "geometry/KdPool.h"
#include "geometry/KdTree.h"
#include "geometry/TraversalScratch.h"
#include "geometry/Triangle.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"

namespace Raytracer {

namespace {

// Lets a nearest hit lie just beyond the cell it is found in, and an instance hit just beyond the
// recorded one; also where an occlusion walk inside an instance starts.
constexpr float traversalMargin = 0.0001f;

// Every primitive in a tree is a Triangle (a final class), so this call is direct, not virtual.
inline int intersectPrimitive(const Primitive* primitive, const Ray& ray, float& distance, float& u,
                              float& v) {
    return static_cast<const Triangle*>(primitive)->intersect(ray, distance, u, v);
}

Vector3 pointAt(const Ray& ray, float t) {
    return {ray.origin.x + ray.direction.x * t, ray.origin.y + ray.direction.y * t,
            ray.origin.z + ray.direction.z * t};
}

// Clips the segment [0, limit] of the ray to the box of scene and sets up entry 0 and exit 1 of the
// stack. False when the ray misses the box.
bool beginSegment(const Ray& ray, const Scene& scene, float limit, TraversalEntry* stack) {
    const Vector3& o = ray.origin;
    const Vector3& d = ray.direction;
    const Vector3& lo = scene.boundsMin;
    const Vector3 hi = scene.boundsMin + scene.boundsSize;
    // A ray that starts outside the box and moves away from it misses without clipping.
    for (int i = 0; i < 3; ++i) {
        if ((d[i] < 0.0f && o[i] < lo[i]) || (d[i] >= 0.0f && o[i] > hi[i])) {
            return false;
        }
    }
    // Each axis clips the segment [tnear, tfar] as it stands, measured from its start point s. While
    // tnear is 0 the start is the origin itself; once an earlier axis has moved tnear, measuring from
    // the origin would misplace the cut and lose hits (instance rays always enter their box that way).
    float tnear = 0.0f;
    float tfar = limit;
    for (int i = 0; i < 3; ++i) {
        const float pos = o[i] + d[i] * tfar;
        const float s = o[i] + d[i] * tnear;
        if (d[i] >= 0.0f) {
            if (pos > hi[i]) {
                tfar = (hi[i] - s) / (pos - s) * (tfar - tnear) + tnear;
            }
            if (s < lo[i]) {
                if (tfar <= tnear) {
                    return false; // a single point, outside the box on this axis
                }
                tnear += (lo[i] - s) / (d[i] * (tfar - tnear)) * (tfar - tnear);
            }
        } else {
            if (pos < lo[i]) {
                tfar = (s - lo[i]) / (s - pos) * (tfar - tnear) + tnear;
            }
            if (s > hi[i]) {
                if (tfar <= tnear) {
                    return false;
                }
                tnear += (hi[i] - s) / (d[i] * (tfar - tnear)) * (tfar - tnear);
            }
        }
        if (tnear > tfar) {
            return false;
        }
    }
    stack[0].t = tnear;
    stack[0].point = tnear > 0.0f ? pointAt(ray, tnear) : o;
    stack[1].t = tfar;
    stack[1].point = pointAt(ray, tfar);
    stack[1].node = nullptr;
    return true;
}

// The ray in the frame of the moving part that proxy stands for; the direction stays unit length so
// that local distances are world distances.
Ray localRay(const Ray& ray, const Scene& instance) {
    const SceneObject& proxy = *instance.proxy;
    return Ray{proxy.rotation.inverseRotate(ray.origin - proxy.position),
               normalize(proxy.rotation.inverseRotate(ray.direction))};
}

// The stack walk shared by every query. Descends from node to the next leaf along the ray, pushing
// far children; onLeaf(node, exitIndex) returns true to end the walk. Returns when the walk ends.
template <class OnLeaf>
void walk(const KdPool& pool, const KdNode* node, const Ray& ray, TraversalEntry* stack,
          const std::int32_t* mod3Table, OnLeaf&& onLeaf) {
    const Vector3& o = ray.origin;
    const Vector3& d = ray.direction;
    int entry = 0;
    int exit = 1;
    for (;;) {
        while (!node->isLeaf()) {
            const int a = node->axis();
            const float s = node->split;
            const KdNode* left = pool.node(node->reference());
            const KdNode* near;
            const KdNode* far;
            // A point exactly on the split plane belongs to the left side.
            if (stack[entry].point[a] <= s) {
                if (stack[exit].point[a] <= s) {
                    node = left;
                    continue;
                }
                near = left;
                far = left + 1;
            } else {
                if (stack[exit].point[a] > s) {
                    node = left + 1;
                    continue;
                }
                near = left + 1;
                far = left;
            }
            const float t = (s - o[a]) / d[a];
            const int previous = exit;
            ++exit;
            if (exit == entry) {
                ++exit;
            }
            TraversalEntry& pushed = stack[exit];
            pushed.previous = previous;
            pushed.t = t;
            pushed.node = far;
            pushed.point[a] = s;
            const int a1 = mod3Table[a + 1];
            const int a2 = mod3Table[a + 2];
            pushed.point[a1] = o[a1] + t * d[a1];
            pushed.point[a2] = o[a2] + t * d[a2];
            node = near;
        }
        if (onLeaf(node, exit)) {
            return;
        }
        entry = exit;
        node = stack[exit].node;
        exit = stack[entry].previous;
        if (node == nullptr) {
            return;
        }
    }
}

const KdTree* treeOf(const Scene& scene) {
    return static_cast<const KdTree*>(scene.accelerator);
}

} // namespace

int KdTree::intersectNearest(const Ray& ray, HitRecord& record, TraversalScratch& scratch) const {
    TraversalEntry* stack = scratch.topLevelStack.data();
    if (m_scene == nullptr || !beginSegment(ray, *m_scene, record.distance, stack)) {
        return 0;
    }
    int result = 0;
    walk(m_pool, root.get(), ray, stack, scratch.mod3Table.data(), [&](const KdNode* leaf, int exit) {
        for (const KdListElement* e = m_pool.element(leaf->reference()); e != nullptr; e = e->next) {
            const Primitive* p = e->primitive;
            float tmax = stack[exit].t + traversalMargin;
            float u;
            float v;
            ++scratch.intersections;
            const int facing = intersectPrimitive(p, ray, tmax, u, v);
            if (facing == 0) {
                continue;
            }
            if (p->type == Primitive::proxy) {
                Scene* instance = p->owner->instance;
                float localDistance = record.distance + traversalMargin;
                const Primitive* hit = nullptr;
                const int localFacing = intersectNearestInInstance(localRay(ray, *instance), localDistance,
                                                                   hit, *instance, u, v, scratch);
                if (localFacing != 0) {
                    result = localFacing;
                    record.distance = localDistance;
                    record.primitive = hit;
                    record.u = u;
                    record.v = v;
                    record.instance = instance;
                }
            } else if (tmax < record.distance) {
                result = facing;
                record.distance = tmax;
                record.primitive = p;
                record.u = u;
                record.v = v;
                record.instance = nullptr;
            }
        }
        // Cells further on lie beyond the recorded hit.
        return result != 0 && stack[exit].t > record.distance;
    });
    return result;
}

int KdTree::intersectNearestInInstance(const Ray& ray, float& distance, const Primitive*& primitive,
                                       const Scene& instance, float& u, float& v,
                                       TraversalScratch& scratch) const {
    const KdTree* tree = treeOf(instance);
    TraversalEntry* stack = scratch.instanceStack.data();
    if (tree == nullptr || !beginSegment(ray, instance, distance, stack)) {
        return 0;
    }
    int result = 0;
    walk(tree->m_pool, tree->root.get(), ray, stack, scratch.mod3Table.data(),
         [&](const KdNode* leaf, int exit) {
             // One limit per leaf, shrinking with every hit, so the leaf's nearest hit wins.
             float tmax = stack[exit].t;
             for (const KdListElement* e = tree->m_pool.element(leaf->reference()); e != nullptr;
                  e = e->next) {
                 float hitU;
                 float hitV;
                 ++scratch.intersections;
                 const int facing = intersectPrimitive(e->primitive, ray, tmax, hitU, hitV);
                 if (facing != 0) {
                     result = facing;
                     primitive = e->primitive;
                     distance = tmax;
                     u = hitU;
                     v = hitV;
                 }
             }
             return result != 0;
         });
    return result;
}

int KdTree::occludedInInstance(const Ray& ray, float distance, const Scene& instance,
                               TraversalScratch& scratch) const {
    const KdTree* tree = treeOf(instance);
    if (tree == nullptr) {
        return 0;
    }
    // No clipping: the walk covers the whole shadow segment, starting just off the surface.
    TraversalEntry* stack = scratch.instanceStack.data();
    stack[0].t = traversalMargin;
    stack[0].point = ray.origin;
    stack[1].t = distance;
    stack[1].point = pointAt(ray, distance);
    stack[1].node = nullptr;
    int result = 0;
    walk(tree->m_pool, tree->root.get(), ray, stack, scratch.mod3Table.data(), [&](const KdNode* leaf, int) {
        for (const KdListElement* e = tree->m_pool.element(leaf->reference()); e != nullptr; e = e->next) {
            float tmax = distance;
            float u;
            float v;
            ++scratch.intersections;
            if (intersectPrimitive(e->primitive, ray, tmax, u, v) != 0) {
                result = 1;
                return true;
            }
        }
        return false;
    });
    return result;
}

int KdTree::occluded(const Ray& ray, float distance, TraversalScratch& scratch) const {
    TraversalEntry* stack = scratch.topLevelStack.data();
    if (m_scene == nullptr || !beginSegment(ray, *m_scene, distance, stack)) {
        return 0;
    }
    int result = 0;
    walk(m_pool, root.get(), ray, stack, scratch.mod3Table.data(), [&](const KdNode* leaf, int) {
        for (const KdListElement* e = m_pool.element(leaf->reference()); e != nullptr; e = e->next) {
            const Primitive* p = e->primitive;
            float tmax = distance;
            float u;
            float v;
            ++scratch.intersections;
            if (intersectPrimitive(p, ray, tmax, u, v) == 0) {
                continue;
            }
            if (p->type != Primitive::proxy) {
                result = 1;
                return true;
            }
            const Scene& instance = *p->owner->instance;
            if (occludedInInstance(localRay(ray, instance), distance, instance, scratch) != 0) {
                result = 1;
                return true;
            }
        }
        return false;
    });
    return result;
}

} // namespace Raytracer
