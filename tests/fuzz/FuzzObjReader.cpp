// The OBJ reader, and through "mtllib fuzz.mtl" the MTL reader: the input is both the scene text and
// the material library. Every section is then built into a mesh, where face indices are checked.

#include "math/FatalError.h"
#include "scene/MeshBuilder.h"
#include "scene/ObjParser.h"
#include "scene/Scene.h"
#include "scene/SceneObject.h"
#include "tests/fuzz/FuzzSupport.h"

#include <memory>
#include <string.h>
#include <vector>

namespace {

using namespace Raytracer;

void build(ObjModel model, Scene& scene) {
    // Texture names are paths from the working directory: a fuzzed one could name /dev/zero. The TGA
    // target covers texture reading.
    for (MtlMaterial& material : model.materials) {
        material.mapKa.clear();
        material.mapRefl.clear();
    }
    SceneObject* object = scene.create<SceneObject>();
    buildObject(model, *object, nullptr, scene, "fuzz.obj");
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string& directory = Fuzz::scratchDirectory();
    // Only an input that names a library can read it back; the others are spared the write.
    constexpr char mtllib[] = "mtllib";
    if (memmem(data, size, mtllib, sizeof mtllib - 1) != nullptr) {
        Fuzz::writeFile(directory + "/fuzz.mtl", data, size);
    }

    // fmemopen needs a writable buffer; one spare byte keeps it non-empty for an empty input.
    std::vector<char> text(data, data + size);
    text.push_back('\0');
    const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(fmemopen(text.data(), size, "r"),
                                                               &std::fclose);
    if (!file) {
        return 0;
    }
    try {
        ObjParser parser(file.get(), "fuzz.obj", directory + "/", Fuzz::nullDevice());
        ObjFile parsed = parser.readObjFile();
        Scene scene;
        build(std::move(parsed.header), scene);
        for (ObjModel& object : parsed.objects) {
            build(std::move(object), scene);
        }
    } catch (const FatalError&) {
        // A refused file is the reader working.
    }
    return 0;
}
