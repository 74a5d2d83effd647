#include "tools/scenegen/SceneWriter.h"

#include "tools/scenegen/Models.h"
#include "tools/scenegen/Stage.h"

namespace Raytracer::Scenegen {

void writeScene(const std::string& directory, int extraTriangles) {
    writeStage(directory, extraTriangles);
    writeModels(directory);
}

} // namespace Raytracer::Scenegen
