#pragma once

#include <cstdio>
#include <string>

namespace Raytracer {

// A file written so that its name always holds either the earlier file or the whole new one: the bytes
// go to a hidden temporary file beside the target, which replaces it by a rename only once complete and
// flushed to the disk. A target that exists and is not a regular file (a device, a pipe, standard
// output) is written in place instead, since a rename would swap the device's name for a plain file.
// A symbolic link to a regular file keeps the link and replaces the file it names.
class AtomicFile {
  public:
    // Opens the temporary file (or the target, in place); throws FatalError naming path.
    explicit AtomicFile(std::string path);
    // Without a commit, the temporary file is removed and the target left as it was.
    ~AtomicFile();

    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

    std::FILE* stream() const { return m_file; }
    const std::string& path() const { return m_path; }

    // Flushes, syncs, closes and renames into place; throws FatalError naming the path and the system's
    // reason.
    void commit();

    // The one-line error for a write to path that failed for reason.
    static std::string failureLine(const std::string& path, const char* reason);

  private:
    void discard();

    std::string m_path;      // as the user named it, for messages
    std::string m_target;    // what the rename replaces: path, or the file a link names
    std::string m_temporary; // empty when writing in place
    std::FILE* m_file = nullptr;
};

} // namespace Raytracer
