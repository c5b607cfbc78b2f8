#include "DesignatedRequirement.h"
#include "HelperTestSupport.h"
#include "Sha256.h"

#include <fcntl.h>
#include <unistd.h>

using namespace veyra::helper;
using namespace veyra::helper::test;

namespace {

std::string sha(const std::string &text)
{
    Sha256 hash;
    hash.update(text.data(), text.size());
    return Sha256::hex(hash.finish());
}

std::optional<DesignatedRequirement> requirementFor(const TestBundle &bundle)
{
    return containingAppDesignatedRequirement(bundle.helper.string());
}

} // namespace

TEST(Sha256, KnownVectors)
{
    EXPECT_EQ(sha(""), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    EXPECT_EQ(sha("abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(sha("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq"),
        "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
    Sha256 pieces;
    const std::string million(1'000'000, 'a');
    for (std::size_t i = 0; i < million.size(); i += 999)
        pieces.update(million.data() + i, std::min<std::size_t>(999, million.size() - i));
    EXPECT_EQ(Sha256::hex(pieces.finish()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

class DesignatedRequirementTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (!runningAsRoot())
            GTEST_SKIP() << "needs root: the requirement only exists for a root-owned bundle";
        bundle = std::make_unique<TestBundle>(dir.path());
    }
    TempDir dir;
    std::unique_ptr<TestBundle> bundle;
};

TEST_F(DesignatedRequirementTest, PinsTheMainExecutableByIdentityAndContent)
{
    auto requirement = requirementFor(*bundle);
    ASSERT_TRUE(requirement);
    EXPECT_EQ(requirement->executablePath, bundle->mainExecutable.string());
    struct stat info { };
    ASSERT_EQ(::stat(bundle->mainExecutable.c_str(), &info), 0);
    EXPECT_EQ(requirement->inode, info.st_ino);
    int fd = ::open(bundle->mainExecutable.c_str(), O_RDONLY);
    EXPECT_EQ(requirement->sha256, sha256OfDescriptor(fd));
    ::close(fd);
}

TEST_F(DesignatedRequirementTest, NeedsAnAppDirectoryThreeLevelsUp)
{
    const fs::path plain = dir.path() / "Plain";
    fs::rename(bundle->bundle, plain);
    EXPECT_FALSE(containingAppDesignatedRequirement((plain / "Contents" / "MacOS" / "VeyraProxyHelper").string()));
    fs::rename(plain, bundle->bundle);
    EXPECT_TRUE(requirementFor(*bundle));
    EXPECT_FALSE(containingAppDesignatedRequirement(""));
}

TEST_F(DesignatedRequirementTest, RefusesWritableOrForeignOwnedParts)
{
    fs::permissions(bundle->macos, fs::perms(0777));
    EXPECT_FALSE(requirementFor(*bundle));
    fs::permissions(bundle->macos, fs::perms(0755));

    fs::permissions(bundle->mainExecutable, fs::perms(0775));
    EXPECT_FALSE(requirementFor(*bundle));
    fs::permissions(bundle->mainExecutable, fs::perms(0755));

    ASSERT_EQ(::chown(bundle->mainExecutable.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(requirementFor(*bundle));
    ASSERT_EQ(::chown(bundle->mainExecutable.c_str(), 0, 0), 0);

    ASSERT_EQ(::chown(bundle->bundle.c_str(), 65534, 65534), 0);
    EXPECT_FALSE(requirementFor(*bundle));
    ASSERT_EQ(::chown(bundle->bundle.c_str(), 0, 0), 0);
    EXPECT_TRUE(requirementFor(*bundle));
}

TEST_F(DesignatedRequirementTest, RefusesASymbolicLinkOrAMissingExecutable)
{
    const fs::path real = dir.path() / "real-client";
    fs::rename(bundle->mainExecutable, real);
    EXPECT_FALSE(requirementFor(*bundle));
    fs::create_symlink(real, bundle->mainExecutable);
    EXPECT_FALSE(requirementFor(*bundle));
}
