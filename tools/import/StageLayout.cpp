#include "tools/import/StageLayout.h"

#include "math/FatalError.h"
#include "scene/ObjParser.h"
#include "scene/StageLoader.h"

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <limits>
#include <memory>
#include <sstream>

namespace Raytracer::Import {

namespace {

using Point = Scenegen::Mesh::Point;

std::string fileText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        throw FatalError("Error reading file " + path);
    }
    return std::string(std::istreambuf_iterator<char>(file), {});
}

// The last mtllib of the header, the text before the first object section, as the parser takes it.
std::string headerLibrary(const std::string& objText) {
    std::istringstream lines(objText);
    std::string library;
    for (std::string line; std::getline(lines, line) && line.find("# object") == std::string::npos;) {
        if (line.starts_with("mtllib ")) {
            library = line.substr(7);
            while (!library.empty() && (library.back() == '\r' || library.back() == ' ')) {
                library.pop_back();
            }
        }
    }
    return library;
}

std::string trimmedName(std::string name) {
    while (!name.empty() && (name.back() == '\n' || name.back() == '\r')) {
        name.pop_back();
    }
    return name;
}

Point point(const ObjVector& v) {
    return {v.x, v.y, v.z};
}

} // namespace

bool Box::overlaps(const Box& other) const {
    return low.x < other.high.x && other.low.x < high.x && low.y < other.high.y && other.low.y < high.y &&
           low.z < other.high.z && other.low.z < high.z;
}

std::optional<double> StageLayout::floorAt(double x, double z) const {
    std::optional<double> best;
    for (const auto& [a, b, c] : groundTriangles) {
        // Barycentric coordinates of (x, z) in the triangle seen from above.
        const double d = (b.z - c.z) * (a.x - c.x) + (c.x - b.x) * (a.z - c.z);
        if (d == 0.0) {
            continue;
        }
        const double u = ((b.z - c.z) * (x - c.x) + (c.x - b.x) * (z - c.z)) / d;
        const double v = ((c.z - a.z) * (x - c.x) + (a.x - c.x) * (z - c.z)) / d;
        if (u >= 0.0 && v >= 0.0 && u + v <= 1.0) {
            const double y = u * a.y + v * b.y + (1.0 - u - v) * c.y;
            best = best ? std::max(*best, y) : y;
        }
    }
    return best;
}

StageLayout readStage(const std::string& folder) {
    StageLayout stage;
    const std::string path = folder + "scene.obj";
    stage.objText = fileText(path);
    stage.libraryName = headerLibrary(stage.objText);
    if (stage.libraryName.empty()) {
        throw FatalError(path + ": the header names no material library (mtllib) to add materials to");
    }
    stage.libraryText = fileText(folder + stage.libraryName);

    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "r"), std::fclose);
    if (!file) {
        throw FatalError("Error reading file " + path);
    }
    const ObjFile parsed = ObjParser(file.get(), path, folder).readObjFile();
    stage.objectSections = parsed.objects.size();
    for (const MtlMaterial& material : parsed.header.materials) {
        stage.materialNames.push_back(material.name);
    }
    std::vector<const ObjModel*> sections = {&parsed.header};
    for (const ObjModel& object : parsed.objects) {
        sections.push_back(&object);
    }
    // Objects shown unlit are the backdrop (the sky): their boxes hold the whole stage.
    std::vector<std::string> backdropBoxes;
    for (const ObjModel& object : parsed.objects) {
        const std::string name = trimmedName(object.groupName.value_or(""));
        if (name.find("envOBJ3D") != std::string::npos) {
            backdropBoxes.push_back(companionName(name));
        }
    }
    for (const ObjModel* section : sections) {
        stage.positions += static_cast<int>(section->vertices.size());
        stage.texCoords += static_cast<int>(section->texCoords.size());
        stage.normals += static_cast<int>(section->normals.size());
        const std::string name = trimmedName(section->groupName.value_or(""));
        if (section != &parsed.header) {
            stage.groupNames.push_back(name);
        }
        const bool box =
            name.find("BBox") != std::string::npos && name.find("SceneBBox") == std::string::npos &&
            name.find("OBJ3D") == std::string::npos &&
            std::none_of(backdropBoxes.begin(), backdropBoxes.end(),
                         [&](const std::string& b) { return name.find(b) != std::string::npos; });
        const bool ground =
            name.find("Environment") != std::string::npos && name.find("OBJ3D") == std::string::npos;
        if (box && !section->vertices.empty()) {
            Box bounds{point(section->vertices.front()), point(section->vertices.front())};
            for (const ObjVector& v : section->vertices) {
                bounds.low = {std::min(bounds.low.x, v.x), std::min(bounds.low.y, v.y),
                              std::min(bounds.low.z, v.z)};
                bounds.high = {std::max(bounds.high.x, v.x), std::max(bounds.high.y, v.y),
                               std::max(bounds.high.z, v.z)};
            }
            stage.boxes.push_back(bounds);
        }
        // Faces count positions from the file's start; the viewer takes an object's smallest as its first.
        std::int32_t base = std::numeric_limits<std::int32_t>::max();
        for (const ObjFace& face : section->faces) {
            base = std::min({base, face.vertex[0], face.vertex[1], face.vertex[2]});
        }
        for (const ObjFace& face : ground ? section->faces : std::vector<ObjFace>{}) {
            std::array<Point, 3> corners;
            bool inside = face.cornerCount >= 3;
            for (int k = 0; k < 3 && inside; ++k) {
                const std::int32_t v = face.vertex[static_cast<std::size_t>(k)] - base;
                inside = v >= 0 && static_cast<std::size_t>(v) < section->vertices.size();
                corners[static_cast<std::size_t>(k)] =
                    inside ? point(section->vertices[static_cast<std::size_t>(v)]) : Point{};
            }
            if (inside) {
                stage.groundTriangles.push_back(corners);
            }
        }
    }
    return stage;
}

} // namespace Raytracer::Import
