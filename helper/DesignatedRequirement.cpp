#include "DesignatedRequirement.h"

#include "DescriptorDigest.h"

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

FileIdentity FileIdentity::of(const struct stat &info)
{
    return { info.st_dev, info.st_ino, info.st_size, info.st_mtim, info.st_ctim, info.st_uid, info.st_mode };
}

bool FileIdentity::operator==(const FileIdentity &other) const
{
    const auto same = [](const timespec &a, const timespec &b) { return a.tv_sec == b.tv_sec && a.tv_nsec == b.tv_nsec; };
    return device == other.device && inode == other.inode && size == other.size && same(modified, other.modified)
        && same(changed, other.changed) && owner == other.owner && mode == other.mode;
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
    return DesignatedRequirement { executable.string(), FileIdentity::of(info), *digest };
}

} // namespace veyra::helper
