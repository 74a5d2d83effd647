#pragma once

#include "scene/MtlMaterial.h"

#include <string>
#include <utility>
#include <vector>

namespace Raytracer {

// Reads MTL material libraries from one directory ("meshes/" in the program).
class MtlParser {
  public:
    explicit MtlParser(std::string directory = "meshes/") : m_directory(std::move(directory)) {}

    // One record per "newmtl" block, in file order, texture names resolved to the files that will be
    // read. A file that cannot be opened throws FatalError "Error reading file: <directory><fileName>".
    std::vector<MtlMaterial> loadMtl(const std::string& fileName) const;

  private:
    std::string m_directory;
};

} // namespace Raytracer
