#include "PeerIntegrity.h"

#include <fstream>
#include <sstream>
#include <sys/stat.h>

namespace veyra::helper {

namespace {

std::string procPath(pid_t pid, const char *entry)
{
    return "/proc/" + std::to_string(pid) + "/" + entry;
}

std::optional<std::string> tracerProblem(pid_t pid)
{
    std::ifstream status(procPath(pid, "status"));
    if (!status)
        return "its status cannot be read";
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind("TracerPid:", 0) != 0)
            continue;
        const std::string value = line.substr(line.find_first_not_of(" \t", 10));
        if (value != "0")
            return "it is traced by process " + value;
        return std::nullopt;
    }
    return "its tracer cannot be read";
}

std::optional<std::string> environmentProblem(pid_t pid)
{
    std::ifstream environ(procPath(pid, "environ"), std::ios::binary);
    if (!environ)
        return "its environment cannot be read";
    std::string entry;
    while (std::getline(environ, entry, '\0')) {
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

std::optional<std::string> mappingProblem(pid_t pid)
{
    std::ifstream maps(procPath(pid, "maps"));
    if (!maps)
        return "its memory map cannot be read";
    std::string line;
    while (std::getline(maps, line)) {
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
        // The mapped file itself, whatever its name says now; by name where that entry is missing.
        struct stat info { };
        const std::string mapped = procPath(pid, "map_files/") + range;
        if (::stat(mapped.c_str(), &info) != 0 && ::stat(path.c_str(), &info) != 0)
            return "it runs code from a file that cannot be checked: " + path;
        if (std::to_string(info.st_ino) != inode || !protectedFile(info))
            return "it runs code from a file others can change: " + path;
    }
    return std::nullopt;
}

} // namespace

std::optional<std::string> peerIntegrityProblem(pid_t pid)
{
    if (auto problem = tracerProblem(pid))
        return problem;
    if (auto problem = environmentProblem(pid))
        return problem;
    return mappingProblem(pid);
}

} // namespace veyra::helper
