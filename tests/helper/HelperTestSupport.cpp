#include "HelperTestSupport.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <unistd.h>

namespace veyra::helper::test {

bool runningAsRoot()
{
    return ::geteuid() == 0;
}

void copyExecutable(const fs::path &from, const fs::path &to)
{
    fs::copy_file(from, to, fs::copy_options::overwrite_existing);
    fs::permissions(to, fs::perms(0755));
}

TestBundle::TestBundle(const fs::path &root)
    : bundle(root / "Test.app")
    , macos(bundle / "Contents" / "MacOS")
    , mainExecutable(macos / "VeyraNetworkAssistant")
    , helper(macos / "VeyraProxyHelper")
{
    fs::create_directories(macos);
    for (const fs::path &directory : { bundle, bundle / "Contents", macos })
        fs::permissions(directory, fs::perms(0755));
    copyExecutable(VEYRA_TEST_CLIENT, mainExecutable);
    copyExecutable(VEYRA_HELPER_EXECUTABLE, helper);
}

ToolOutcome runPrivileged(
    const std::string &program, const std::vector<std::string> &arguments, const std::vector<std::string> &environment)
{
    return runTool(program, arguments, environment, 65'536, std::chrono::seconds(10), ToolCapabilities::inherited);
}

ToolOutcome runClient(const fs::path &client, const fs::path &socket, const fs::path &requestFile, uid_t uid,
    const std::vector<std::string> &environment)
{
    if (uid == 0)
        return runTool(client.string(), { socket.string(), requestFile.string() }, environment);
    const std::string id = std::to_string(uid);
    return runPrivileged("/usr/bin/setpriv",
        { "--reuid=" + id, "--regid=" + id, "--clear-groups", client.string(), socket.string(), requestFile.string() },
        environment);
}

std::string requestJson(const std::vector<std::vector<std::string>> &commands)
{
    return ipc::ProxyHelperRequest { commands }.encode();
}

} // namespace veyra::helper::test
