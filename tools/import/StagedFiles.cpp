#include "tools/import/StagedFiles.h"

#include "math/FatalError.h"
#include "tools/scenegen/OutputFile.h"

#include <fcntl.h>
#include <stdio.h>
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

namespace {

std::string withoutSlash(std::string path) {
    while (path.size() > 1 && path.back() == '/') {
        path.pop_back();
    }
    return path;
}

} // namespace

StagedFiles::StagedFiles(std::string directory, const std::string& copyFrom)
    : m_directory(std::move(directory)), m_working(m_directory) {
    std::error_code error;
    if (fs::is_directory(m_directory, error)) {
        return;
    }
    if (copyFrom.empty() || fs::exists(m_directory, error)) {
        throw FatalError(m_directory +
                         ": no such folder (the output folder must exist, usually a copy of meshes/)");
    }
    if (!fs::is_directory(copyFrom, error)) {
        throw FatalError(m_directory + ": no such folder, and no " + copyFrom +
                         " to make it from (run from the project's folder)");
    }
    std::string made = withoutSlash(m_directory) + ".importing-XXXXXX";
    if (::mkdtemp(made.data()) == nullptr) {
        throw FatalError(m_directory + ": cannot be made (" + std::strerror(errno) + ")");
    }
    m_working = made;
    fs::copy(copyFrom, m_working, fs::copy_options::recursive | fs::copy_options::overwrite_existing, error);
    if (error) {
        fs::remove_all(m_working, error);
        throw FatalError(m_directory + ": cannot be made as a copy of " + copyFrom + " (" + error.message() +
                         ")");
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
    if (m_working != m_directory) {
        fs::remove_all(m_working, ignored);
    }
}

std::string StagedFiles::folder() const {
    return Scenegen::joinPath(m_working, "");
}

void StagedFiles::add(const std::string& name, const std::string& bytes) {
    const std::string target = Scenegen::joinPath(m_directory, name);
    std::string temporary = Scenegen::joinPath(m_working, name) + ".importing-XXXXXX";
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
    for (const fs::directory_entry& entry : fs::directory_iterator(m_working)) {
        if (!staged(entry.path())) {
            fs::create_symlink(fs::absolute(entry.path()), m_preview + entry.path().filename().string());
        }
    }
    for (const auto& [name, temporary] : m_staged) {
        fs::create_symlink(fs::absolute(temporary), m_preview + name);
    }
    return m_preview;
}

void StagedFiles::renameStaged() {
    // Each target that exists is kept aside first, so that a rename failing part-way can be undone.
    std::vector<std::pair<std::string, std::string>> replaced; // target, its copy ("" for a new file)
    const auto undo = [&] {
        std::error_code ignored;
        for (const auto& [target, copy] : replaced) {
            copy.empty() ? (void)fs::remove(target, ignored) : fs::rename(copy, target, ignored);
        }
    };
    for (const auto& [name, temporary] : m_staged) {
        const std::string target = Scenegen::joinPath(m_working, name);
        const std::string named = Scenegen::joinPath(m_directory, name);
        std::string copy;
        std::error_code error;
        if (fs::is_regular_file(fs::symlink_status(target, error))) {
            copy = target + ".replaced-XXXXXX";
            const int descriptor = ::mkstemp(copy.data());
            if (descriptor >= 0) {
                ::close(descriptor);
            }
            if (descriptor < 0 || !fs::copy_file(target, copy, fs::copy_options::overwrite_existing, error)) {
                fs::remove(copy, error);
                undo();
                throw FatalError(named + ": cannot be replaced (no room to keep the file it replaces)");
            }
        }
        if (std::rename(temporary.c_str(), target.c_str()) != 0) {
            const int reason = errno;
            fs::remove(copy, error);
            undo();
            throw FatalError(named + ": cannot be replaced (" + std::strerror(reason) + ")");
        }
        replaced.emplace_back(target, copy);
    }
    std::error_code ignored;
    for (const auto& [target, copy] : replaced) {
        fs::remove(copy, ignored);
    }
    m_staged.clear();
}

void StagedFiles::commit() {
    renameStaged();
    if (m_working != m_directory) {
        // The folder is taken only while nothing has that name: not even an empty folder is replaced.
        if (::renameat2(AT_FDCWD, m_working.c_str(), AT_FDCWD, withoutSlash(m_directory).c_str(),
                        RENAME_NOREPLACE) != 0) {
            throw FatalError(m_directory + ": cannot be made (" + std::strerror(errno) + ")");
        }
        m_working = m_directory;
    }
}

} // namespace Raytracer::Import
