#include "DesignatedRequirement.h"

#include "Sha256.h"

#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <sys/stat.h>
#include <unistd.h>

namespace veyra::helper {

namespace {

namespace fs = std::filesystem;

bool isRootOwnedAndProtected(const struct stat &info)
{
    return info.st_uid == 0 && (info.st_mode & (S_IWGRP | S_IWOTH)) == 0;
}

bool isTrustedDirectory(const fs::path &path)
{
    struct stat info { };
    return ::lstat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode) && isRootOwnedAndProtected(info);
}

} // namespace

std::optional<std::string> sha256OfDescriptor(int fd)
{
    Sha256 hash;
    char buffer[65536];
    off_t offset = 0;
    for (;;) {
        ssize_t n = ::pread(fd, buffer, sizeof buffer, offset);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return std::nullopt;
        }
        if (n == 0)
            break;
        hash.update(buffer, static_cast<std::size_t>(n));
        offset += n;
    }
    return Sha256::hex(hash.finish());
}

std::optional<DesignatedRequirement> containingAppDesignatedRequirement(const std::string &ownPath)
{
    if (ownPath.empty())
        return std::nullopt;
    std::error_code error;
    fs::path own = fs::absolute(fs::path(ownPath), error).lexically_normal();
    if (error)
        return std::nullopt;
    const fs::path bundle = own.parent_path().parent_path().parent_path();
    if (bundle.extension() != ".app" || bundle.stem().empty())
        return std::nullopt;
    const fs::path contents = bundle / "Contents";
    const fs::path macos = contents / "MacOS";
    if (!isTrustedDirectory(bundle) || !isTrustedDirectory(contents) || !isTrustedDirectory(macos))
        return std::nullopt;

    const fs::path executable = macos / mainExecutableName;
    int fd = ::open(executable.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat info { };
    std::optional<std::string> digest;
    if (::fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && isRootOwnedAndProtected(info))
        digest = sha256OfDescriptor(fd);
    ::close(fd);
    if (!digest)
        return std::nullopt;
    return DesignatedRequirement { executable.string(), info.st_dev, info.st_ino, *digest };
}

} // namespace veyra::helper
