#include "HelperTestSupport.h"

#include "veyra/ipc/ProxyHelperRecords.h"

#include <cstdlib>
#include <fstream>
#include <sstream>
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

ToolOutcome runClient(const fs::path &client, const fs::path &socket, const fs::path &requestFile, bool unprivileged)
{
    if (unprivileged)
        return runClientAs(nobody, client, socket, requestFile);
    return runTool(client.string(), { socket.string(), requestFile.string() });
}

ToolOutcome runPrivileged(const std::string &program, const std::vector<std::string> &arguments,
    const std::vector<std::string> &environment, std::chrono::milliseconds timeLimit)
{
    return runTool(program, arguments, environment, 65'536, timeLimit, ToolCapabilities::inherited);
}

ToolOutcome runClientAs(uid_t uid, const fs::path &client, const fs::path &socket, const fs::path &requestFile)
{
    const std::string id = std::to_string(uid);
    return runPrivileged("/usr/bin/setpriv",
        { "--reuid=" + id, "--regid=" + id, "--clear-groups", client.string(), socket.string(), requestFile.string() });
}

std::string requestJson(const std::vector<std::vector<std::string>> &commands)
{
    return ipc::ProxyHelperRequest { commands }.encode();
}

} // namespace veyra::helper::test
