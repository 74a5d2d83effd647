#include "math/FatalError.h"
#include "tools/import/ImportOptions.h"
#include "tools/import/ModelImporter.h"

#include <cstdio>
#include <exception>

// lumenbox-import MODEL.ms3d --as SLOT --out DIR [--height H]: see ImportOptions and ModelImporter.
int main(int argc, char** argv) {
    using namespace Raytracer;
    try {
        const Import::ImportOptions options = Import::parseImportOptions(argc, argv);
        if (options.help) {
            std::printf("%s\n", Import::importUsage().c_str());
            return 0;
        }
        std::vector<std::string> notes;
        Import::importModel(options, notes);
        for (const std::string& note : notes) {
            std::printf("%s\n", note.c_str());
        }
        return 0;
    } catch (const FatalError& error) {
        std::fprintf(stderr, "%s\n", error.what());
    } catch (const std::exception& error) {
        std::fprintf(stderr, "lumenbox-import: %s\n", error.what());
    }
    return 1;
}
