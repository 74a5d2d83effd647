#include "tools/import/StagedFiles.h"

#include "math/FatalError.h"
#include "tools/scenegen/OutputFile.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

namespace Raytracer::Import {

namespace fs = std::filesystem;

StagedFiles::StagedFiles(std::string directory) : m_directory(std::move(directory)) {
    std::error_code error;
    if (!fs::is_directory(m_directory, error)) {
        throw FatalError(m_directory +
                         ": no such folder (the output folder must exist, usually a copy of meshes/)");
    }
}

StagedFiles::~StagedFiles() {
    std::error_code ignored;
    for (const auto& [name, temporary] : m_staged) {
        fs::remove(temporary, ignored);
    }
    if (!m_preview.empty()) {
        fs::remove_all(m_preview, ignored);
    }
}

void StagedFiles::add(const std::string& name, const std::string& bytes) {
    const std::string target = Scenegen::joinPath(m_directory, name);
    std::string temporary = target + ".importing-XXXXXX";
    const int descriptor = ::mkstemp(temporary.data());
    if (descriptor < 0) {
        throw FatalError(target + ": cannot be written (" + std::strerror(errno) + ")");
    }
    m_staged.emplace_back(name, temporary);
    // mkstemp makes the file private; the target gets the permissions a new file would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    bool written = ::fchmod(descriptor, 0666 & ~mask) == 0;
    for (std::size_t done = 0; written && done < bytes.size();) {
        const ssize_t count = ::write(descriptor, bytes.data() + done, bytes.size() - done);
        written = count > 0;
        done += written ? static_cast<std::size_t>(count) : 0;
    }
    const int savedError = errno;
    if (::close(descriptor) != 0 || !written) {
        throw FatalError(target + ": cannot be written (" + std::strerror(written ? errno : savedError) +
                         ")");
    }
}

std::string StagedFiles::preview() {
    if (!m_preview.empty()) {
        return m_preview;
    }
    std::string folder = (fs::temp_directory_path() / "lumenbox-import-XXXXXX").string();
    if (::mkdtemp(folder.data()) == nullptr) {
        throw FatalError(folder + ": cannot make a folder to check the import in (" + std::strerror(errno) +
                         ")");
    }
    m_preview = folder + "/";
    const auto staged = [&](const fs::path& path) {
        return std::any_of(m_staged.begin(), m_staged.end(), [&](const auto& file) {
            return path.filename() == file.first || path == fs::path(file.second);
        });
    };
    for (const fs::directory_entry& entry : fs::directory_iterator(m_directory)) {
        if (!staged(entry.path())) {
            fs::create_symlink(fs::absolute(entry.path()), m_preview + entry.path().filename().string());
        }
    }
    for (const auto& [name, temporary] : m_staged) {
        fs::create_symlink(fs::absolute(temporary), m_preview + name);
    }
    return m_preview;
}

void StagedFiles::commit() {
    for (const auto& [name, temporary] : m_staged) {
        const std::string target = Scenegen::joinPath(m_directory, name);
        if (std::rename(temporary.c_str(), target.c_str()) != 0) {
            throw FatalError(target + ": cannot be replaced (" + std::strerror(errno) + ")");
        }
    }
    m_staged.clear();
}

} // namespace Raytracer::Import
