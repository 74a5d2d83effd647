#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Raytracer::Import {

// Files written into a folder all or none: each goes to a temporary file beside its target, no target
// changes before commit(), and whatever is not committed is removed with this object.
class StagedFiles {
  public:
    // Throws FatalError when directory is not an existing folder.
    explicit StagedFiles(std::string directory);
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;
    ~StagedFiles();

    // Writes bytes to a temporary file beside directory/name; throws FatalError when it cannot.
    void add(const std::string& name, const std::string& bytes);

    // A private folder showing directory as commit() will leave it: links to its other files and to
    // the staged ones under their targets' names. Its path ends in '/'; it goes with this object.
    std::string preview();

    // Renames every staged file onto its target.
    void commit();

  private:
    std::string m_directory;
    std::vector<std::pair<std::string, std::string>> m_staged; // target name, temporary path
    std::string m_preview;
};

} // namespace Raytracer::Import
