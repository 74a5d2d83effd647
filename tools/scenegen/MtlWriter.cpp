#include "tools/scenegen/MtlWriter.h"

#include "tools/scenegen/TextFormat.h"

namespace Raytracer::Scenegen {

namespace {

std::string triple(const char* keyword, double a, double b, double c) {
    return std::string(keyword) + " " + formatNumber(a) + " " + formatNumber(b) + " " + formatNumber(c) +
           "\n";
}

std::string single(const char* keyword, double value) {
    return std::string(keyword) + " " + formatNumber(value) + "\n";
}

} // namespace

std::string mtlText(const std::vector<std::string>& comments, const std::vector<MtlEntry>& entries) {
    std::string text;
    for (const std::string& comment : comments) {
        text += "# " + comment + "\n";
    }
    for (const MtlEntry& entry : entries) {
        text += "\nnewmtl " + entry.name + "\n";
        text += triple("Kd", entry.color[0], entry.color[1], entry.color[2]);
        text += triple("Ks", entry.specular, entry.specular, entry.specular);
        text += triple("Ka", entry.reflectionBlur, entry.reflectionBlur, entry.reflectionBlur);
        text += single("Ns", entry.reflectivityPercent);
        text += single("d", entry.opacity);
        text += single("Ni", entry.refractionIndex);
        // The reader drops the last character of a map name, which must therefore be the line end.
        if (!entry.colorTexture.empty()) {
            text += "map_Ka " + entry.colorTexture + "\n";
        }
        if (!entry.reflectivityTexture.empty()) {
            text += "map_refl " + entry.reflectivityTexture + "\n";
        }
    }
    return text;
}

} // namespace Raytracer::Scenegen
