#include "tools/scenegen/ObjWriter.h"

#include "tools/scenegen/TextFormat.h"

namespace Raytracer::Scenegen {

namespace {

std::string vectorLine(const char* keyword, double x, double y, double z) {
    return std::string(keyword) + " " + formatNumber(x) + " " + formatNumber(y) + " " + formatNumber(z) +
           "\n";
}

} // namespace

ObjWriter::ObjWriter(const std::vector<std::string>& headerComments, const std::string& mtllib) {
    for (const std::string& comment : headerComments) {
        m_text += "# " + comment + "\n";
    }
    if (!mtllib.empty()) {
        m_text += "mtllib " + mtllib + "\n";
    }
}

void ObjWriter::continueAfter(int positions, int texCoords, int normals) {
    m_positionCount = positions;
    m_texCoordCount = texCoords;
    m_normalCount = normals;
}

void ObjWriter::beginObject(const std::string& name) {
    m_text += "# object\n";
    m_text += "g " + name + "\n";
}

void ObjWriter::writePositions(const std::vector<Mesh::Point>& points) {
    for (const Mesh::Point& p : points) {
        m_text += vectorLine("v", p.x, p.y, p.z);
    }
}

void ObjWriter::writeMaterial(const std::string& material) {
    if (!material.empty()) {
        m_text += "usemtl " + material + "\n";
    }
}

void ObjWriter::addMesh(const std::string& name, const std::string& material, const Mesh& mesh) {
    beginObject(name);
    writePositions(mesh.positions);
    for (const Mesh::TexCoord& t : mesh.texCoords) {
        m_text += vectorLine("vt", t.s, t.t, 0.0);
    }
    for (const Mesh::Point& n : mesh.normals) {
        m_text += vectorLine("vn", n.x, n.y, n.z);
    }
    writeMaterial(material);
    for (const auto& triangle : mesh.triangles) {
        m_text += "f";
        for (const int corner : triangle) {
            m_text += format(" %d/%d/%d", m_positionCount + corner + 1, m_texCoordCount + corner + 1,
                             m_normalCount + corner + 1);
        }
        m_text += "\n";
    }
    m_positionCount += static_cast<int>(mesh.positions.size());
    m_texCoordCount += static_cast<int>(mesh.texCoords.size());
    m_normalCount += static_cast<int>(mesh.normals.size());
}

void ObjWriter::addPositionsOnly(const std::string& name, const std::string& material, const Mesh& mesh) {
    beginObject(name);
    writePositions(mesh.positions);
    writeMaterial(material);
    for (const auto& triangle : mesh.triangles) {
        m_text += format("f %d %d %d\n", m_positionCount + triangle[0] + 1, m_positionCount + triangle[1] + 1,
                         m_positionCount + triangle[2] + 1);
    }
    m_positionCount += static_cast<int>(mesh.positions.size());
}

void ObjWriter::addPoints(const std::string& name, const std::string& material,
                          const std::vector<Mesh::Point>& points) {
    beginObject(name);
    writePositions(points);
    writeMaterial(material);
    m_positionCount += static_cast<int>(points.size());
}

} // namespace Raytracer::Scenegen
