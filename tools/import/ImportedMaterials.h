#pragma once

#include "animation/MsModel.h"
#include "tools/scenegen/Mesh.h"
#include "tools/scenegen/MtlWriter.h"

#include <string>
#include <vector>

namespace Raytracer::Import {

// A model's material in the viewer's reading of MTL keys, with the texture it keeps.
struct ImportedMaterial {
    Scenegen::MtlEntry entry;
    std::string textureSource; // the TGA file to copy beside the pair; empty when none is kept
    std::string textureBytes;  // or the TGA file made from a decoded image, written as it is
    std::string textureFile;   // its name there
    bool bottomOrigin = true;  // the image's first stored row is its bottom one
    double rowScale = 1.0;     // height / width: the viewer measures t in widths

    // The texture coordinate the viewer needs for MilkShape's (s, t), t running down the image.
    Scenegen::Mesh::TexCoord texCoord(float s, float t) const;
};

// One material per material of the file, in file order, then one for triangles without a material.
// Diffuse colour, specular level and transparency carry over; a texture other than an uncompressed
// 24-bit TGA file is left out with one line on notes, one that is is named by its file name alone,
// which the viewer finds in the scene folder beside the library. Names are m<N>_<letters and digits of the
// MilkShape name>, so that no name ends with another (the viewer's usemtl lookup matches endings).
std::vector<ImportedMaterial> importMaterials(const msModel& model, const std::string& path,
                                              const std::string& stem, std::vector<std::string>& notes);

} // namespace Raytracer::Import
