#pragma once

#include "tools/scenegen/Mesh.h"

#include <string>
#include <vector>

namespace Raytracer::Scenegen {

// Builds the text of a Wavefront OBJ file in the layout the loaders read: a header, then one section
// per object, each started by a "# object" line and named by its "g" line. Indices count through the
// whole file, and every object's faces use its own first position, normal and texture coordinate.
class ObjWriter {
  public:
    // headerComments: lines written as "# ..." at the top (they must not contain "object"); mtllib:
    // the material library's name, or empty for none.
    ObjWriter(const std::vector<std::string>& headerComments, const std::string& mtllib);

    // Numbers the records that follow after those of a file this text will be appended to.
    void continueAfter(int positions, int texCoords, int normals);

    // An object with positions, texture coordinates and normals; faces as v/vt/vn. An empty material
    // writes no usemtl line.
    void addMesh(const std::string& name, const std::string& material, const Mesh& mesh);
    // An object with positions only and faces of positions only (a bounding box, for instance).
    void addPositionsOnly(const std::string& name, const std::string& material, const Mesh& mesh);
    // An object of positions without faces (lights and the scene bounds).
    void addPoints(const std::string& name, const std::string& material,
                   const std::vector<Mesh::Point>& points);

    const std::string& text() const { return m_text; }

  private:
    void beginObject(const std::string& name);
    void writePositions(const std::vector<Mesh::Point>& points);
    void writeMaterial(const std::string& material);

    std::string m_text;
    int m_positionCount = 0;
    int m_normalCount = 0;
    int m_texCoordCount = 0;
};

} // namespace Raytracer::Scenegen
