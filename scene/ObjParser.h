#pragma once

#include "scene/LineReader.h"
#include "scene/MtlParser.h"
#include "scene/ObjFile.h"
#include "scene/ObjModel.h"

#include <cstdio>
#include <map>
#include <string>
#include <vector>

namespace Raytracer {

// Pulls an open OBJ stream through, one section at a time. A section ends at a line containing
// "# object" anywhere (that line belongs to no section) or at the end of the stream.
class ObjParser {
  public:
    // Object sections a file may hold after its header.
    static constexpr int maxObjectSections = 100;

    // `file` stays the caller's; `fileName` names it in error messages. Material libraries are read
    // from `materialDirectory`. Unknown keywords are reported on `messages`.
    ObjParser(std::FILE* file, std::string fileName, std::string materialDirectory = "meshes/",
              std::FILE* messages = stdout);

    // The next section; empty at the end of the stream. A material library that cannot be opened
    // throws FatalError.
    ObjModel readObjSection();

    // True once the stream is used up; read sections while it is false.
    bool atEnd() const { return m_reader.atEnd(); }

    // The header and every object section that follows, each object given the header's materials.
    // More than maxObjectSections objects throw FatalError naming the file and the line.
    ObjFile readObjFile();

  private:
    LineReader m_reader;
    std::string m_fileName;
    MtlParser m_mtlParser;
    // Each library is read once per file, however many sections name it.
    std::map<std::string, std::vector<MtlMaterial>, std::less<>> m_libraries;
    std::FILE* m_messages;
    int m_lastSeparatorLine = 0; // file line of the latest "# object" line
};

} // namespace Raytracer
