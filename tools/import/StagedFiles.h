#pragma once

#include <string>
#include <utility>
#include <vector>

namespace Raytracer::Import {

// Files written into a folder all or none: each goes to a temporary file beside its target, no target
// changes before commit(), and whatever is not committed is removed with this object. A folder that
// does not exist yet can be made as a copy of another, under a temporary name until commit().
class StagedFiles {
  public:
    // Throws FatalError when directory is not an existing folder and copyFrom is empty or not a folder.
    explicit StagedFiles(std::string directory, const std::string& copyFrom = "");
    StagedFiles(const StagedFiles&) = delete;
    StagedFiles& operator=(const StagedFiles&) = delete;
    ~StagedFiles();

    // Where the folder's present files are read: the folder, or the copy being made. Ends in '/'.
    std::string folder() const;

    // Writes bytes to a temporary file beside directory/name; throws FatalError when it cannot.
    void add(const std::string& name, const std::string& bytes);

    // A private folder showing directory as commit() will leave it: links to its other files and to
    // the staged ones under their targets' names. Its path ends in '/'; it goes with this object.
    std::string preview();

    // Renames every staged file onto its target, and a new folder onto its name. Throws FatalError
    // naming the target when a rename fails (a folder in the way, say), after putting back every
    // target it had already replaced.
    void commit();

  private:
    void renameStaged();

    std::string m_directory; // as named, for messages
    std::string m_working;   // m_directory, or the copy made in its place
    std::vector<std::pair<std::string, std::string>> m_staged; // target name, temporary path
    std::string m_preview;
};

} // namespace Raytracer::Import
