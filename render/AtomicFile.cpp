#include "render/AtomicFile.h"

#include "math/FatalError.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace Raytracer {

namespace {

std::string directoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? std::string(".") : path.substr(0, slash + 1);
}

std::string nameOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The mode a new file gets from fopen: read and write for all, less the umask. umask can only be read
// by setting it, so it is set back at once.
mode_t newFileMode() {
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return 0666 & ~mask;
}

} // namespace

std::string AtomicFile::failureLine(const std::string& path, const char* reason) {
    return "Error writing file " + path + ": " + reason;
}

AtomicFile::AtomicFile(std::string path) : m_path(std::move(path)), m_target(m_path) {
    struct stat existing {};
    const bool exists = ::stat(m_path.c_str(), &existing) == 0;
    if (exists && !S_ISREG(existing.st_mode)) {
        m_file = std::fopen(m_path.c_str(), "wb");
        if (m_file == nullptr) {
            throw FatalError(failureLine(m_path, std::strerror(errno)));
        }
        return;
    }
    struct stat link {};
    if (exists && ::lstat(m_path.c_str(), &link) == 0 && S_ISLNK(link.st_mode)) {
        if (char* resolved = ::realpath(m_path.c_str(), nullptr)) {
            m_target = resolved;
            std::free(resolved);
        }
    }
    std::string pattern = directoryOf(m_target) + "." + nameOf(m_target) + ".XXXXXX";
    std::vector<char> name(pattern.begin(), pattern.end());
    name.push_back('\0');
    const int descriptor = ::mkstemp(name.data());
    if (descriptor < 0) {
        throw FatalError(failureLine(m_path, std::strerror(errno)));
    }
    m_temporary = name.data();
    // mkstemp makes the file private; the picture gets the mode the file had, or a new file's.
    const mode_t mode = exists ? (existing.st_mode & 07777) : newFileMode();
    m_file = ::fchmod(descriptor, mode) == 0 ? ::fdopen(descriptor, "wb") : nullptr;
    if (m_file == nullptr) {
        const int error = errno;
        ::close(descriptor);
        discard();
        throw FatalError(failureLine(m_path, std::strerror(error)));
    }
}

AtomicFile::~AtomicFile() {
    discard();
}

void AtomicFile::discard() {
    if (m_file != nullptr) {
        std::fclose(m_file);
        m_file = nullptr;
    }
    if (!m_temporary.empty()) {
        ::unlink(m_temporary.c_str());
        m_temporary.clear();
    }
}

void AtomicFile::commit() {
    bool written = std::fflush(m_file) == 0 && !std::ferror(m_file);
    // Only a file about to replace another needs to be on the disk first; a device or pipe cannot sync.
    if (written && !m_temporary.empty()) {
        written = ::fsync(::fileno(m_file)) == 0;
    }
    int error = errno;
    const int closed = std::fclose(m_file);
    m_file = nullptr;
    if (written && closed != 0) {
        written = false;
        error = errno;
    }
    if (written && !m_temporary.empty()) {
        written = std::rename(m_temporary.c_str(), m_target.c_str()) == 0;
        error = errno;
        if (written) {
            m_temporary.clear();
        }
    }
    if (!written) {
        discard();
        throw FatalError(failureLine(m_path, std::strerror(error)));
    }
}

} // namespace Raytracer
