#pragma once

#include <array>
#include <string>
#include <string_view>
#include <vector>

namespace Raytracer {

// One "newmtl" block of an MTL file, with the values as read. What they mean for rendering is the mesh
// builder's business. Texts have no length limit and never hold line-end characters, so names from
// CR LF and LF files compare alike.
struct MtlMaterial {
    std::string name;
    std::string mapKa;   // file named by map_Ka; empty when none
    std::string mapRefl; // file named by map_refl; empty when none
    std::array<double, 3> Ka{0.2, 0.2, 0.2};
    std::array<double, 3> Kd{0.8, 0.8, 0.8};
    std::array<double, 3> Ks{1.0, 1.0, 1.0};
    double r = 0.0;
    double d = 1.0;
    double Ns = 0.0;
    double sharpness = 0.0;
    double Ni = 1.0;
};

// The usemtl lookup of the OBJ reader: the first material, in file order, whose name begins with the
// query (wood2 answers wood). -1 when none does.
int findMaterialByPrefix(const std::vector<MtlMaterial>& materials, std::string_view query);

// The mesh builder's rule: the first material, in file order, whose name ends with the usemtl text
// (usemtl wood takes darkwood when it comes first, never wood2). Both texts once kept their line ends
// and were matched as substrings; for LF files that is this rule, and without the line ends it now
// holds for CR LF files too. -1 when none matches.
int findMaterialByEnding(const std::vector<MtlMaterial>& materials, std::string_view materialText);

} // namespace Raytracer
