#include "tools/scenegen/Stage.h"

#include "tools/scenegen/Mesh.h"
#include "tools/scenegen/MtlWriter.h"
#include "tools/scenegen/ObjWriter.h"
#include "tools/scenegen/OutputFile.h"
#include "tools/scenegen/TgaWriter.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <utility>
#include <vector>

namespace Raytracer::Scenegen {

namespace {

using Point = Mesh::Point;

// Everything but the glass ball stands on the floor around a free middle: the robot stands at the
// origin and the other models orbit it at radii 6 to 8, so the objects keep |x| or |z| above 9, on the
// side the default camera (at (7, 13.05, -18.25), looking down towards (-1, 6, 0)) sees, and off the
// line of sight behind the robot.
constexpr double floorRadius = 104.0;
constexpr int floorSides = 32;
constexpr double skyRadius = 110.0;
constexpr double skySkirt = -8.0; // the dome reaches below the floor so that no gap shows at its rim
constexpr double boxMargin = 0.1;

// The floor texture holds 4 x 4 tiles and repeats every 12 units; the offset keeps s and t positive
// (lookups mirror negative coordinates) and puts a tile corner at the origin.
constexpr int floorTexels = 256;
constexpr int tilesPerTexture = 4;
constexpr double floorRepeat = 12.0;
constexpr double floorOffset = 108.0;

constexpr int skyWidth = 4;
constexpr int skyHeight = 64;

constexpr int crateTexels = 128;

double smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

double mix(double a, double b, double t) {
    return a + (b - a) * t;
}

// Tiles alternate in a checker: polished pale marble that mirrors the scene, and matt terracotta.
bool polishedTile(int tileX, int tileY) {
    return (tileX + tileY) % 2 == 0;
}

// Distance in texels from (x, y) to the nearest tile edge, and the tile it lies in.
struct TileTexel {
    int tileX;
    int tileY;
    double edgeDistance;
};

TileTexel tileTexel(int x, int y) {
    constexpr int tileSize = floorTexels / tilesPerTexture;
    const int localX = x % tileSize;
    const int localY = y % tileSize;
    const double toEdgeX = std::min(localX + 0.5, tileSize - localX - 0.5);
    const double toEdgeY = std::min(localY + 0.5, tileSize - localY - 0.5);
    return {x / tileSize, y / tileSize, std::min(toEdgeX, toEdgeY)};
}

constexpr double groutWidth = 2.0; // texels on each side of a tile edge

TgaImage floorColorImage() {
    TgaImage image(floorTexels, floorTexels, 3);
    for (int y = 0; y < floorTexels; ++y) {
        for (int x = 0; x < floorTexels; ++x) {
            const TileTexel texel = tileTexel(x, y);
            double r;
            double g;
            double b;
            if (texel.edgeDistance < groutWidth) {
                r = 0.30;
                g = 0.29;
                b = 0.27;
            } else if (polishedTile(texel.tileX, texel.tileY)) {
                // Soft veins running diagonally, bent by a slower wave.
                const double vein =
                    std::sin(0.09 * x + 0.05 * y + 2.5 * std::sin(0.045 * y + 0.8 * texel.tileX));
                const double shade = 0.93 + 0.05 * vein * vein * vein;
                r = 0.84 * shade;
                g = 0.85 * shade;
                b = 0.88 * shade;
            } else {
                // Each terracotta tile has its own tone, from a small fixed table.
                static const double tones[4] = {1.0, 0.92, 0.96, 0.88};
                const double tone = tones[(texel.tileX * 3 + texel.tileY) % 4];
                const double grain = 0.97 + 0.03 * std::sin(0.7 * x + 0.3 * y) * std::sin(0.23 * y - 0.4 * x);
                r = 0.74 * tone * grain;
                g = 0.47 * tone * grain;
                b = 0.33 * tone * grain;
            }
            // Tile edges are slightly bevelled: darker close to the grout.
            const double bevel = 1.0 - 0.18 * std::exp(-(texel.edgeDistance - groutWidth) / 1.5);
            if (texel.edgeDistance >= groutWidth) {
                r *= bevel;
                g *= bevel;
                b *= bevel;
            }
            image.setColor(x, y, r, g, b);
        }
    }
    return image;
}

TgaImage floorReflectivityImage() {
    TgaImage image(floorTexels, floorTexels, 1);
    for (int y = 0; y < floorTexels; ++y) {
        for (int x = 0; x < floorTexels; ++x) {
            const TileTexel texel = tileTexel(x, y);
            double value = 0.0;
            if (texel.edgeDistance >= groutWidth) {
                value = polishedTile(texel.tileX, texel.tileY) ? 1.0 : 0.06;
            }
            image.setGrey(x, y, value);
        }
    }
    return image;
}

// Row 0 is the horizon, the last row the zenith; every column is the same.
TgaImage skyImage() {
    TgaImage image(skyWidth, skyHeight, 3);
    for (int y = 0; y < skyHeight; ++y) {
        const double e = static_cast<double>(y) / (skyHeight - 1);
        const double haze = 1.0 - smoothstep(0.0, 0.35, e);
        const double deep = smoothstep(0.2, 1.0, e);
        const double r = mix(mix(0.60, 0.26, deep), 0.86, haze);
        const double g = mix(mix(0.73, 0.43, deep), 0.84, haze);
        const double b = mix(mix(0.90, 0.78, deep), 0.80, haze);
        for (int x = 0; x < skyWidth; ++x) {
            image.setColor(x, y, r, g, b);
        }
    }
    return image;
}

// A crate side: a frame of darker boards around four vertical planks, and a diagonal brace.
TgaImage crateImage() {
    TgaImage image(crateTexels, crateTexels, 3);
    constexpr double frame = 14.0;
    constexpr int plankWidth = (crateTexels - 28) / 4;
    for (int y = 0; y < crateTexels; ++y) {
        for (int x = 0; x < crateTexels; ++x) {
            const double cx = x + 0.5;
            const double cy = y + 0.5;
            const double toEdge = std::min(std::min(cx, crateTexels - cx), std::min(cy, crateTexels - cy));
            const bool onFrame = toEdge < frame;
            // The brace runs from corner to corner inside the frame, about 14 texels wide.
            const bool onBrace = !onFrame && std::fabs(cx - cy) < 10.0;
            double grain;
            double base;
            if (onFrame) {
                const bool horizontal = std::min(cy, crateTexels - cy) < std::min(cx, crateTexels - cx);
                const double along = horizontal ? cx : cy;
                const double across = horizontal ? cy : cx;
                grain = std::sin(0.55 * across + 1.8 * std::sin(0.06 * along));
                base = 0.80;
            } else if (onBrace) {
                const double along = (cx + cy) * 0.7071;
                const double across = (cx - cy) * 0.7071;
                grain = std::sin(0.6 * across + 1.5 * std::sin(0.05 * along));
                base = 0.88;
            } else {
                const int plank = static_cast<int>((cx - frame) / plankWidth);
                const double inPlank = cx - frame - plank * plankWidth;
                grain = std::sin(0.5 * cx + 2.0 * std::sin(0.04 * cy + 1.3 * plank));
                base = 1.0 - 0.05 * (plank % 2);
                // A dark gap between neighbouring planks.
                if (inPlank < 1.5 && plank > 0) {
                    base = 0.45;
                }
            }
            // Dark lines where the frame and the brace meet the planks.
            const double seam = onFrame ? frame - toEdge : toEdge - frame;
            if (seam >= 0.0 && seam < 1.0) {
                base *= 0.6;
            }
            const double shade = base * (0.9 + 0.1 * grain);
            image.setColor(x, y, 0.70 * shade, 0.50 * shade, 0.29 * shade);
        }
    }
    return image;
}

// A round floor, a fan of triangles about the origin, so that its rim reads as a horizon against the
// dome around it.
Mesh floorMesh() {
    Mesh mesh;
    const Point up{0.0, 1.0, 0.0};
    const auto vertex = [&mesh, &up](double x, double z) {
        return mesh.addVertex({x, 0.0, z}, up,
                              {(x + floorOffset) / floorRepeat, (z + floorOffset) / floorRepeat});
    };
    const int centre = vertex(0.0, 0.0);
    for (int i = 0; i < floorSides; ++i) {
        const double angle = 2.0 * std::numbers::pi * i / floorSides;
        vertex(floorRadius * std::cos(angle), -floorRadius * std::sin(angle));
    }
    for (int i = 0; i < floorSides; ++i) {
        mesh.addTriangle(centre, centre + 1 + i, centre + 1 + (i + 1) % floorSides);
    }
    return mesh;
}

// A dome over the stage seen from inside: the profile runs from the zenith down to below the floor,
// which turns the normals inwards. t picks the sky texture's row by elevation.
Mesh skyMesh() {
    constexpr int rings = 16;
    std::vector<ProfilePoint> profile;
    for (int i = 0; i <= rings; ++i) {
        const double elevation = std::numbers::pi / 2.0 * (rings - i) / rings;
        const double radius = i == 0 ? 0.0 : skyRadius * std::cos(elevation);
        profile.push_back({radius, skyRadius * std::sin(elevation)});
    }
    profile.push_back({skyRadius, skySkirt});
    Mesh mesh = lathe(profile, 48);
    for (std::size_t i = 0; i < mesh.positions.size(); ++i) {
        const double height = std::max(mesh.positions[i].y, 0.0);
        const double elevation = std::asin(std::min(height / skyRadius, 1.0)) / (std::numbers::pi / 2.0);
        // Texel centres of the first and last rows; t is scaled by the image width.
        mesh.texCoords[i].t = (0.5 + elevation * (skyHeight - 2)) / skyWidth;
    }
    return mesh;
}

// The trace core bends a ray only where it enters a body, so a ball of index 1.5 brings the rays through
// it together about one radius behind it. Resting on the floor, that point lies on the floor under the
// ball and the whole ball shows one tile. Floating well above the floor, as over the checkerboard of
// the classic pictures, the rays cross and spread out again before they land: the ball shows the floor
// upside down, many tiles across, over a band of horizon sky.
constexpr double glassBallRadius = 2.4;
constexpr double glassBallHeight = 7.0; // of its centre; about two radii of air under it

Mesh glassBall() {
    Mesh mesh = sphere(glassBallRadius, 32, 20);
    mesh.translate(-12.0, glassBallHeight, -5.5);
    return mesh;
}

// A vase on a round foot, open at the top.
Mesh chromeVase() {
    std::vector<ProfilePoint> profile = {{0.0, 0.0}, {1.4, 0.0},  {1.4, 0.0}, {1.4, 0.3},
                                         {1.4, 0.3}, {0.55, 0.3}, {0.55, 0.3}};
    constexpr int steps = 24;
    constexpr double bodyBottom = 0.3;
    constexpr double bodyTop = 5.0;
    for (int i = 1; i <= steps; ++i) {
        const double t = static_cast<double>(i) / steps;
        const double bulge = std::sin(std::numbers::pi * t);
        const double radius = 0.55 + 1.25 * bulge * bulge * (1.0 - 0.35 * t) + 0.35 * std::pow(t, 6.0);
        profile.push_back({radius, bodyBottom + (bodyTop - bodyBottom) * t});
    }
    const double lip = profile.back().radius;
    profile.push_back({lip, bodyTop});
    profile.push_back({lip - 0.15, bodyTop});
    profile.push_back({lip - 0.15, bodyTop});
    profile.push_back({lip - 0.15, bodyTop - 0.8});
    profile.push_back({lip - 0.15, bodyTop - 0.8});
    profile.push_back({0.0, bodyTop - 0.8});
    for (ProfilePoint& point : profile) {
        point.radius *= 1.3;
        point.height *= 1.3;
    }
    Mesh mesh = lathe(profile, 40);
    mesh.translate(-12.5, 0.0, 3.0);
    return mesh;
}

// A column on a square-edged round base, slightly tapered, with a rounded capital.
Mesh goldPillar() {
    std::vector<ProfilePoint> profile = {{0.0, 0.0}, {1.6, 0.0}, {1.6, 0.0}, {1.6, 0.5}, {1.6, 0.5},
                                         {1.0, 0.5}, {1.0, 0.5}, {0.9, 5.0}, {0.9, 5.0}};
    constexpr int capitalSteps = 8;
    for (int i = 0; i <= capitalSteps; ++i) {
        // A quarter round from the shaft's top out to the capital's rim and up to its flat top.
        const double angle = std::numbers::pi / 2.0 * i / capitalSteps;
        profile.push_back({0.9 + 0.6 * std::sin(angle), 5.0 + 0.6 * (1.0 - std::cos(angle))});
    }
    profile.push_back({1.5, 5.6});
    profile.push_back({0.0, 5.6});
    Mesh mesh = lathe(profile, 40);
    mesh.translate(-11.5, 0.0, 11.5);
    return mesh;
}

Mesh crate() {
    Mesh mesh = box({-2.0, 0.0, -2.0}, {2.0, 4.0, 2.0});
    mesh.rotateY(0.4);
    mesh.translate(6.0, 0.0, 13.0);
    return mesh;
}

Mesh lacquerTorus() {
    Mesh mesh = torus(2.0, 0.7, 48, 24);
    mesh.translate(12.0, 0.7, 2.0);
    return mesh;
}

struct Renderable {
    const char* name; // the role suffix OBJ3D is added; the companion box is name + "BBox"
    const char* material;
    Mesh mesh;
};

} // namespace

void writeStage(const std::string& directory, int extraTriangles) {
    writeOutputFile(joinPath(directory, "floor.tga"), tgaBytes(floorColorImage()));
    writeOutputFile(joinPath(directory, "floorrefl.tga"), tgaBytes(floorReflectivityImage()));
    writeOutputFile(joinPath(directory, "sky.tga"), tgaBytes(skyImage()));
    writeOutputFile(joinPath(directory, "crate.tga"), tgaBytes(crateImage()));

    std::vector<MtlEntry> materials;
    const auto add = [&materials](const char* name, double red, double green, double blue) -> MtlEntry& {
        MtlEntry& entry = materials.emplace_back();
        entry.name = name;
        entry.color[0] = red;
        entry.color[1] = green;
        entry.color[2] = blue;
        return entry;
    };
    // Light colours add up to below 0.9 per channel, so a white surface facing every light stays
    // short of white.
    add("sunlight", 0.50, 0.48, 0.44);
    add("filllight", 0.24, 0.26, 0.30);
    add("rimlight", 0.13, 0.12, 0.11);
    {
        MtlEntry& floor = add("floortiles", 1.0, 1.0, 1.0);
        floor.reflectivityPercent = 40.0;
        floor.specular = 0.25;
        floor.colorTexture = "meshes/floor.tga";
        floor.reflectivityTexture = "meshes/floorrefl.tga";
    }
    {
        // Unlit: the texture's colours are shown as they are.
        MtlEntry& sky = add("skygradient", 1.0, 1.0, 1.0);
        sky.colorTexture = "meshes/sky.tga";
    }
    {
        // Clear glass with a faint cyan cast. The colour is what the glass absorbs per unit of a ray's
        // path, and the trace core counts the path from the far side of the ball to what is seen through
        // it too, some 100 units to the sky: at 0.1 that sky came out deep teal. The mirror ray and the
        // diffuse term are scaled by the colour as well, so they all but vanish; the highlights and the
        // picture through the ball carry the look.
        MtlEntry& glass = add("glass", 0.012, 0.006, 0.004);
        glass.reflectivityPercent = 8.0;
        glass.opacity = 0.1;
        glass.refractionIndex = 1.5;
        glass.specular = 0.9;
    }
    {
        MtlEntry& chrome = add("chrome", 0.90, 0.91, 0.93);
        chrome.reflectivityPercent = 95.0;
        chrome.specular = 0.9;
    }
    {
        MtlEntry& gold = add("brushedgold", 0.95, 0.72, 0.36);
        gold.reflectivityPercent = 70.0;
        gold.specular = 0.6;
        gold.reflectionBlur = 0.3;
    }
    {
        MtlEntry& wood = add("cratewood", 1.0, 1.0, 1.0);
        wood.specular = 0.15;
        wood.colorTexture = "meshes/crate.tga";
    }
    {
        MtlEntry& lacquer = add("redlacquer", 0.75, 0.08, 0.06);
        lacquer.reflectivityPercent = 10.0;
        lacquer.specular = 1.0;
    }
    writeOutputFile(joinPath(directory, "scene.mtl"),
                    mtlText({"Lumenbox stage materials, written by lumenbox-scenegen.",
                             "Kd colour, Ns reflectivity in percent, d opacity, Ni refractive index,",
                             "Ks red specular weight, Ka red reflection blur, map_Ka colour texture,",
                             "map_refl reflectivity texture."},
                            materials));

    ObjWriter obj({"Lumenbox stage, written by lumenbox-scenegen (tools/scenegen); regenerate, do not edit."},
                  "scene.mtl");
    obj.addPoints("SceneBBox", "", {{-240.0, -240.0, -240.0}, {240.0, 240.0, 240.0}});
    // The first light is the one the J key switches to area sampling: a 6 x 6 square above the stage,
    // given as corner, corner + first edge, corner + second edge and the opposite corner.
    obj.addPoints("sunAreaLight", "sunlight",
                  {{-8.0, 30.0, -10.0}, {-2.0, 30.0, -10.0}, {-8.0, 30.0, -4.0}, {-2.0, 30.0, -4.0}});
    obj.addPoints("fillPointLight", "filllight", {{18.0, 16.0, -6.0}});
    obj.addPoints("rimPointLight", "rimlight", {{-14.0, 20.0, 22.0}});
    obj.addMesh("floorEnvironment", "floortiles", floorMesh());

    std::vector<Renderable> renderables = {
        {"skyenv", "skygradient", skyMesh()},   {"glassball", "glass", glassBall()},
        {"chromevase", "chrome", chromeVase()}, {"goldpillar", "brushedgold", goldPillar()},
        {"crate", "cratewood", crate()},        {"lacquertorus", "redlacquer", lacquerTorus()},
    };
    if (extraTriangles > 0) {
        // Behind the torus, clear of the models' orbits.
        Mesh sphere = bumpySphere(2.5, extraTriangles);
        sphere.translate(13.0, 2.6, -6.0);
        renderables.push_back({"bumpysphere", "redlacquer", std::move(sphere)});
    }
    for (const Renderable& renderable : renderables) {
        obj.addMesh(std::string(renderable.name) + "OBJ3D", renderable.material, renderable.mesh);
        obj.addPositionsOnly(std::string(renderable.name) + "BBox", "",
                             proxyBox(renderable.mesh.minCorner(), renderable.mesh.maxCorner(), boxMargin));
    }
    writeOutputFile(joinPath(directory, "scene.obj"), obj.text());
}

} // namespace Raytracer::Scenegen
