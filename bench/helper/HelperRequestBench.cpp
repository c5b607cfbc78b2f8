// Time of one helper request through the real peer check, from a caller whose executable is as
// large as the application's (the small test client padded to 57 MB, as a build with debug
// information is), next to the same request from the unpadded client and to the floor: the same
// request with every peer let in. Also the pin taken at start. Needs root: the bundle must be
// root-owned and the caller must be another user. Prints medians of several rounds.
#include "DesignatedRequirement.h"
#include "PeerAuthorizer.h"
#include "ProxyHelperServer.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>
#include <unistd.h>

using namespace veyra::helper;
namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

namespace {

constexpr int rounds = 9;
constexpr std::uintmax_t applicationSize = 57ull * 1000 * 1000;

class LetEveryoneIn : public PeerAuthorizer {
public:
    bool authorize(int) override { return true; }
    bool stillAuthorized(int) override { return true; }
};

double milliseconds(Clock::duration duration)
{
    return std::chrono::duration<double, std::milli>(duration).count();
}

fs::path makeBundle(const fs::path &root, std::uintmax_t padTo)
{
    const fs::path macos = root / "Bench.app" / "Contents" / "MacOS";
    fs::create_directories(macos);
    for (fs::path p = macos; p != root; p = p.parent_path())
        fs::permissions(p, fs::perms(0755));
    const fs::path client = macos / mainExecutableName;
    fs::copy_file(VEYRA_TEST_CLIENT, client);
    // Bytes after the end of an executable's segments are never loaded; they only make it big.
    if (fs::file_size(client) < padTo)
        fs::resize_file(client, padTo);
    fs::permissions(client, fs::perms(0755));
    return macos / "VeyraProxyHelper";
}

// Median time of one request from `client`, started as nobody, through a helper that checks
// peers with `authorizer`.
double medianRequest(const fs::path &dir, const fs::path &client, std::unique_ptr<PeerAuthorizer> authorizer)
{
    const fs::path socket = dir / "bench.sock";
    fs::remove(socket);
    std::vector<std::string> environment = minimalToolEnvironment();
    environment.push_back("VEYRA_NETWORKSETUP_STATE=" + (dir / "state.json").string());
    ProxyHelperServer server(bindListeningSocket(socket.string()),
        ProxyHelperService(VEYRA_NETWORKSETUP_EXECUTABLE, (dir / "record" / "settings.json").string(), environment), std::move(authorizer));
    std::thread serving([&server] { server.serve(); });
    std::vector<double> times;
    for (int i = 0; i < rounds; ++i) {
        const auto begin = Clock::now();
        const ToolOutcome outcome = runTool("/usr/bin/setpriv",
            { "--reuid=65534", "--regid=65534", "--clear-groups", client.string(), socket.string(),
                (dir / "request.json").string() },
            minimalToolEnvironment(), 65'536, std::chrono::seconds(10), ToolCapabilities::inherited);
        times.push_back(milliseconds(Clock::now() - begin));
        if (outcome.exitStatus != 0 || outcome.standardOutput.find("\"success\":true") == std::string::npos)
            std::fprintf(stderr, "request failed (%d): %s%s\n", outcome.exitStatus, outcome.standardOutput.c_str(),
                outcome.standardError.c_str());
    }
    server.stop();
    serving.join();
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

} // namespace

int main()
{
    if (::geteuid() != 0) {
        std::fprintf(stderr, "run as root: the bundle must be root-owned and the caller another user\n");
        return 1;
    }
    char pattern[] = "/tmp/veyra-helper-bench-XXXXXX";
    if (!::mkdtemp(pattern))
        return 1;
    const fs::path dir = pattern;
    fs::permissions(dir, fs::perms(0755));
    std::ofstream(dir / "request.json")
        << R"({"commands":[["/usr/sbin/networksetup","-setwebproxy","Wi-Fi","127.0.0.1","7890"]]})";
    fs::permissions(dir / "request.json", fs::perms(0644));

    std::printf("helper request, median of %d (ms)\n", rounds);
    for (const auto &[name, size] : { std::pair { "57 MB caller", applicationSize }, std::pair { "small caller", std::uintmax_t(0) } }) {
        const fs::path root = dir / (size ? "large" : "small");
        const fs::path helper = makeBundle(root, size);
        const auto pinBegin = Clock::now();
        std::optional<DesignatedRequirement> requirement = containingAppDesignatedRequirement(helper.string());
        const double pin = milliseconds(Clock::now() - pinBegin);
        if (!requirement) {
            std::fprintf(stderr, "no requirement for %s\n", helper.c_str());
            return 1;
        }
        const fs::path client = helper.parent_path() / mainExecutableName;
        const double checked
            = medianRequest(dir, client, std::make_unique<RequirementPeerAuthorizer>(std::move(*requirement)));
        const double floor = medianRequest(dir, client, std::make_unique<LetEveryoneIn>());
        std::printf("  %-13s size %6.1f MB  pin at start %7.1f  request %7.1f  floor (no peer check) %6.1f  "
                    "peer check %7.1f\n",
            name, double(fs::file_size(client)) / 1e6, pin, checked, floor, checked - floor);
    }
    fs::remove_all(dir);
    return 0;
}
