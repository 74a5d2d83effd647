#include "tools/import/AssimpFile.h"

#include "math/FatalError.h"

#include <assimp/config.h>
#include <assimp/postprocess.h>

#include <algorithm>

namespace Raytracer::Import {

AssimpFile::AssimpFile(const std::string& path, Use use) {
    m_importer.SetPropertyInteger(AI_CONFIG_PP_SBP_REMOVE, aiPrimitiveType_POINT | aiPrimitiveType_LINE);
    m_importer.SetPropertyFloat(AI_CONFIG_PP_GSN_MAX_SMOOTHING_ANGLE, creaseDegrees);
    m_importer.SetPropertyBool(AI_CONFIG_PP_FD_REMOVE, true);
    // FBX pivots would otherwise become chains of helper nodes, each a joint to hold.
    m_importer.SetPropertyBool(AI_CONFIG_IMPORT_FBX_PRESERVE_PIVOTS, false);
    unsigned int steps = aiProcess_Triangulate | aiProcess_GenSmoothNormals | aiProcess_JoinIdenticalVertices |
                         aiProcess_SortByPType | aiProcess_FindDegenerates | aiProcess_ValidateDataStructure |
                         aiProcess_FindInvalidData | aiProcess_GenUVCoords | aiProcess_TransformUVCoords;
    if (use == Use::stillObjects) {
        steps |= aiProcess_PreTransformVertices;
    }
    m_scene = m_importer.ReadFile(path, steps);
    if (m_scene == nullptr) {
        std::string reason = m_importer.GetErrorString();
        std::replace(reason.begin(), reason.end(), '\n', ' ');
        throw FatalError(path + ": cannot be read as a model (" + (reason.empty() ? "no reason given" : reason) +
                         ")");
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
