#include "app/CommandLine.h"
#include "app/FatalReport.h"
#include "math/FatalError.h"
#include "tools/import/ImportOptions.h"
#include "tools/import/ModelImporter.h"

#include <cstdio>
#include <exception>

// lumenbox-import MODEL.ms3d --as SLOT --out DIR [--height H]: see ImportOptions and ModelImporter.
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
                    "Converts a skinned MilkShape 3D model into the files of one of the viewer's model slots,\n"
                    "written into DIR (usually a copy of meshes/, then run with --meshes DIR).\n"
                    "\n"
                    "  --as SLOT     robot, ball, star or 2ball: the model it replaces\n"
                    "  --out DIR     the scene folder to write into; it must exist\n"
                    "  --height H    fit the model to H scene units (default: the slot's own model)\n"
                    "  --help        print this help\n");
        return 0;
    }
    try {
        std::vector<std::string> notes;
        Import::importModel(options, notes);
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
