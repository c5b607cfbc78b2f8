#include "PeerIntegrity.h"

#include "ProcFile.h"

#include <cerrno>
#include <dirent.h>
#include <sstream>
#include <sys/stat.h>
#include <sys/sysmacros.h>

namespace veyra::helper {

namespace {

std::string procPath(pid_t pid, const std::string &entry)
{
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

// The value of a "Key:\tvalue" line of a status file; nothing when the key is missing.
std::optional<std::string> statusValue(const std::string &status, const std::string &key)
{
    std::istringstream lines(status);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.compare(0, key.size() + 1, key + ":") != 0)
            continue;
        const std::size_t start = line.find_first_not_of(" \t", key.size() + 1);
        return start == std::string::npos ? std::string() : line.substr(start);
    }
    return std::nullopt;
}

// Every thread, not only the main one: a tracer may hold any of them, and each has its own
// system-call filter. A filter makes the peer's calls answer what its installer wants (it can
// have them hand over descriptors), and the application installs none.
std::optional<std::string> threadProblem(pid_t pid)
{
    DIR *tasks = ::opendir(procPath(pid, "task").c_str());
    if (!tasks)
        return "its threads cannot be read";
    std::optional<std::string> problem;
    int threads = 0;
    while (dirent *entry = ::readdir(tasks)) {
        if (entry->d_name[0] == '.')
            continue;
        const std::string thread = entry->d_name;
        const std::optional<std::string> status = readWholeFile(procPath(pid, "task/" + thread + "/status"));
        if (!status) {
            if (errno == ENOENT || errno == ESRCH)
                continue; // that thread has ended
            problem = "the status of its thread " + thread + " cannot be read";
            break;
        }
        ++threads;
        const std::optional<std::string> tracer = statusValue(*status, "TracerPid");
        const std::optional<std::string> filter = statusValue(*status, "Seccomp");
        if (!tracer || !filter) {
            problem = "the status of its thread " + thread + " cannot be read";
            break;
        }
        if (*tracer != "0") {
            problem = "its thread " + thread + " is traced by process " + *tracer;
            break;
        }
        if (*filter != "0") {
            problem = "its thread " + thread + " runs under a system-call filter";
            break;
        }
    }
    ::closedir(tasks);
    if (!problem && threads == 0)
        return "it has no threads left";
    return problem;
}

std::optional<std::string> environmentProblem(pid_t pid)
{
    const std::optional<std::string> environ = readWholeFile(procPath(pid, "environ"));
    if (!environ)
        return "its environment cannot be read";
    std::istringstream entries(*environ);
    std::string entry;
    while (std::getline(entries, entry, '\0')) {
        // Every variable the dynamic loader acts on starts so (LD_PRELOAD, LD_LIBRARY_PATH,
        // LD_AUDIT, LD_DEBUG_OUTPUT, ...); an application has no business with any of them.
        if (entry.rfind("LD_", 0) == 0)
            return "its environment sets the loader variable " + entry.substr(0, entry.find('='));
    }
    return std::nullopt;
}

// A file that only root can change.
bool protectedFile(const struct stat &info)
{
    return S_ISREG(info.st_mode) && info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

// Whether `info` is the file a memory-map line names by device ("major:minor", hex) and inode.
bool sameFile(const struct stat &info, const std::string &device, const std::string &inode)
{
    unsigned major = 0;
    unsigned minor = 0;
    char colon = 0;
    std::istringstream parts(device);
    if (!(parts >> std::hex >> major >> colon >> minor) || colon != ':' || !parts.eof())
        return false;
    return major == ::major(info.st_dev) && minor == ::minor(info.st_dev) && std::to_string(info.st_ino) == inode;
}

std::optional<std::string> mappingProblem(pid_t pid)
{
    const std::optional<std::string> maps = readWholeFile(procPath(pid, "maps"));
    if (!maps)
        return "its memory map cannot be read";
    std::istringstream lines(*maps);
    std::string line;
    while (std::getline(lines, line)) {
        std::istringstream fields(line);
        std::string range, permissions, offset, device, inode, path;
        if (!(fields >> range >> permissions >> offset >> device >> inode))
            return "its memory map cannot be read";
        if (permissions.size() < 3 || permissions[2] != 'x')
            continue;
        std::getline(fields >> std::ws, path);
        if (path == "[vdso]" || path == "[vsyscall]")
            continue;
        if (path.empty() || path[0] != '/' || inode == "0")
            return "it runs code without a file (" + (path.empty() ? std::string("anonymous") : path) + ")";
        // The mapped file itself, whatever its name says now; by name where that entry is
        // missing, in which case it must still be the very file mapped (same device and inode).
        // The map_files entry is the mapped file itself; the device the memory map names can be
        // that of a layer below it (overlay file systems), so it is compared only by name.
        struct stat info { };
        if (::stat(procPath(pid, "map_files/" + range).c_str(), &info) != 0
            && (::stat(path.c_str(), &info) != 0 || !sameFile(info, device, inode)))
            return "it runs code from a file that cannot be checked: " + path;
        if (!protectedFile(info))
            return "it runs code from a file others can change: " + path;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> peerIntegrityProblem(pid_t pid)
{
    if (auto problem = threadProblem(pid))
        return problem;
    if (auto problem = environmentProblem(pid))
        return problem;
    return mappingProblem(pid);
}

} // namespace veyra::helper
