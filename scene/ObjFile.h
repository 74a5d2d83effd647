#pragma once

#include "scene/ObjModel.h"

#include <vector>

namespace Raytracer {

// A whole OBJ file: the header section (the text before the first "# object" line, which holds the
// mtllib line) and one section per object, each given the header's materials.
struct ObjFile {
    ObjModel header;
    std::vector<ObjModel> objects;
};

} // namespace Raytracer
