#include "app/CommandLine.h"
#include "app/FatalReport.h"
#include "math/FatalError.h"
#include "tools/import/ImportOptions.h"
#include "tools/import/ModelImporter.h"
#include "tools/import/ObjectImporter.h"

#include <cstdio>
#include <exception>

// lumenbox-import MODEL --as object|SLOT --out DIR [...]: see ImportOptions, ObjectImporter and
// ModelImporter.
// Exit status as the viewer's programs give it: 0 after an import, 1 for a model or folder that
// cannot be imported, 2 for a bad command line.
int main(int argc, char** argv) {
    using namespace Raytracer;
    Import::ImportOptions options;
    try {
        options = Import::parseImportOptions(argc, argv);
    } catch (const FatalError& error) {
        reportFatal(error);
        return usageExitStatus;
    }
    if (options.help) {
        std::printf("%s\n\n%s", Import::importUsage().c_str(),
                    "Adds a model (OBJ, glTF, FBX, Collada, PLY, STL, MilkShape 3D and the other formats\n"
                    "Assimp reads) to the viewer's scene in DIR; run it with --meshes DIR.\n"
                    "\n"
                    "  --as object     still objects, one per material, standing on the stage's floor;\n"
                    "                  DIR is made as a copy of meshes/ when it does not exist\n"
                    "  --as SLOT       robot, ball, star or 2ball: a skinned model in place of that one;\n"
                    "                  DIR must exist (usually a copy of meshes/)\n"
                    "  --out DIR       the scene folder to write into\n"
                    "  --height H      fit the model to H scene units (default: an object's own size,\n"
                    "                  the slot's own model)\n"
                    "  --at X,Z        where an object stands (default: a free spot near the middle)\n"
                    "  --turn DEGREES  an object's turn about the vertical, +z towards +x\n"
                    "  --help          print this help\n");
        return 0;
    }
    try {
        std::vector<std::string> notes;
        options.asObject ? Import::importObjects(options, notes) : Import::importModel(options, notes);
        for (const std::string& note : notes) {
            std::printf("%s\n", note.c_str());
        }
        return 0;
    } catch (const FatalError& error) {
        return reportFatal(error);
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumenbox-import: %s\n", error.what());
        return fatalExitStatus;
    }
}
