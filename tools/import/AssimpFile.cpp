#include "tools/import/AssimpFile.h"

#include "math/FatalError.h"

#include <assimp/config.h>
#include <assimp/postprocess.h>

#include <sys/resource.h>

#include <algorithm>

namespace Raytracer::Import {

namespace {

#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
constexpr bool sanitized = true;
#elif defined(__has_feature)
constexpr bool sanitized =
    __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer);
#else
constexpr bool sanitized = false;
#endif

// A file that states billions of elements makes some of Assimp's readers reserve room for them all;
// with the address space capped while it reads, that fails as out of memory at once instead of
// filling the machine. Sanitizers map far more than this for their shadow memory, so they go without.
constexpr rlim_t readingAddressSpace = rlim_t{4} << 30;

class AddressSpaceCap {
  public:
    AddressSpaceCap() {
        if (!sanitized && ::getrlimit(RLIMIT_AS, &m_saved) == 0 && m_saved.rlim_cur > readingAddressSpace) {
            rlimit capped = m_saved;
            capped.rlim_cur = readingAddressSpace;
            m_capped = ::setrlimit(RLIMIT_AS, &capped) == 0;
        }
    }
    ~AddressSpaceCap() {
        if (m_capped) {
            ::setrlimit(RLIMIT_AS, &m_saved);
        }
    }
    AddressSpaceCap(const AddressSpaceCap&) = delete;
    AddressSpaceCap& operator=(const AddressSpaceCap&) = delete;

  private:
    rlimit m_saved{};
    bool m_capped = false;
};

} // namespace

AssimpFile::AssimpFile(const std::string& path, Use use) {
    m_importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    m_importer.SetPropertyFloat(AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE, creaseDegrees);
    m_importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true);
    // FBX pivots would otherwise become chains of helper nodes, each a joint to hold.
    m_importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    unsigned int steps = aiProcess_Triangulate | aiProcess_GenSmoothNormals |
                         aiProcess_JoinIdenticalVertices | aiProcess_SortByPType | aiProcess_FindDegenerates |
                         aiProcess_ValidateDataStructure | aiProcess_FindInvalidData | aiProcess_GenUVCoords |
                         aiProcess_TransformUVCoords;
    if (use == Use::stillObjects) {
        steps |= aiProcess_PreTransformVertices;
    }
    {
        const AddressSpaceCap cap;
        m_scene = m_importer.ReadFile(path, steps);
    }
    if (m_scene == nullptr) {
        std::string reason = m_importer.GetErrorString();
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        if (reason == "std::bad_alloc") {
            reason = "it states more than memory holds";
        }
        throw FatalError(path + ": cannot be read as a model (" +
                         (reason.empty() ? "no reason given" : reason) + ")");
    }
    if (triangleCount(*m_scene) == 0) {
        throw FatalError(path + ": the model has no triangles to show");
    }
}

std::size_t triangleCount(const aiScene& scene) {
    std::size_t triangles = 0;
    for (unsigned int m = 0; m < scene.mNumMeshes; ++m) {
        if ((scene.mMeshes[m]->mPrimitiveTypes & aiPrimitiveType_TRIANGLE) != 0) {
            triangles += scene.mMeshes[m]->mNumFaces;
        }
    }
    return triangles;
}

} // namespace Raytracer::Import
