#include "SettingsRecord.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <filesystem>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace veyra::helper {

namespace {

// Larger than any record of the 128 services one request may name.
constexpr std::size_t largestRecord = 4 << 20;

std::runtime_error failure(const std::string &what)
{
    return std::runtime_error(what + ": " + std::strerror(errno));
}

class OpenFile {
public:
    explicit OpenFile(int fd)
        : m_fd(fd)
    {
    }
    ~OpenFile()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    OpenFile(const OpenFile &) = delete;
    OpenFile &operator=(const OpenFile &) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

SettingsRecord::SettingsRecord(std::string file)
    : m_file(std::move(file))
{
}

SettingsRecord::Services SettingsRecord::load() const
{
    OpenFile file(::open(m_file.c_str(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC));
    if (file.get() < 0) {
        if (errno != ENOENT)
            std::fprintf(stderr, "VeyraProxyHelper: cannot read %s: %s\n", m_file.c_str(), std::strerror(errno));
        return {};
    }
    std::string text;
    char buffer[65536];
    for (ssize_t n; (n = ::read(file.get(), buffer, sizeof buffer)) != 0;) {
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0 || text.size() + static_cast<std::size_t>(n) > largestRecord) {
            std::fprintf(stderr, "VeyraProxyHelper: cannot read %s\n", m_file.c_str());
            return {};
        }
        text.append(buffer, static_cast<std::size_t>(n));
    }
    try {
        const nlohmann::json json = nlohmann::json::parse(text);
        Services services;
        for (const auto &[name, settings] : json.at("services").items())
            services[name] = ServiceSettings::fromJson(settings);
        return services;
    } catch (const std::exception &error) {
        std::fprintf(stderr, "VeyraProxyHelper: ignoring the unreadable %s: %s\n", m_file.c_str(), error.what());
        return {};
    }
}

void SettingsRecord::save(const Services &services) const
{
    const std::filesystem::path path(m_file);
    const std::string folder = path.parent_path().string();
    if (::mkdir(folder.c_str(), 0700) != 0 && errno != EEXIST)
        throw failure("cannot create " + folder);
    nlohmann::json json = { { "services", nlohmann::json::object() } };
    for (const auto &[name, settings] : services)
        json["services"][name] = settings.toJson();
    const std::string text = json.dump(2) + "\n";

    const std::string temporary = m_file + ".tmp";
    ::unlink(temporary.c_str());
    {
        OpenFile file(::open(temporary.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600));
        if (file.get() < 0)
            throw failure("cannot create " + temporary);
        // Whatever the umask, only root may read what the machine's settings were.
        if (::fchmod(file.get(), 0600) != 0)
            throw failure("cannot protect " + temporary);
        for (std::size_t written = 0; written < text.size();) {
            const ssize_t n = ::write(file.get(), text.data() + written, text.size() - written);
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                throw failure("cannot write " + temporary);
            written += static_cast<std::size_t>(n);
        }
        if (::fsync(file.get()) != 0)
            throw failure("cannot write " + temporary);
    }
    if (::rename(temporary.c_str(), m_file.c_str()) != 0)
        throw failure("cannot replace " + m_file);
    OpenFile directory(::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC));
    if (directory.get() >= 0)
        ::fsync(directory.get());
}

} // namespace veyra::helper
