// hallboard-pack as release engineers run it: a real process, real files, and the program's own
// verifier on what it writes.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <random>

#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "Platform.h"
#include "signature/uReleaseSignature.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

struct TRun {
  int Code;
  std::string Output;
};

TRun RunPack(const std::string& args) {
  std::string command = std::string(HB_PACK_EXE) + " " + args + " 2>&1";
  TRun r{-1, ""};
  if (FILE* p = popen(command.c_str(), "r")) {
    std::array<char, 4096> buf;
    for (size_t n; (n = fread(buf.data(), 1, buf.size(), p)) > 0;) r.Output.append(buf.data(), n);
    int status = pclose(p);
    r.Code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return r;
}

class PackTool : public ::testing::Test {
 protected:
  void SetUp() override {
    InstallPlatform(&FSystem, &FHasher);
    std::random_device rd;
    FDir = fs::temp_directory_path() / ("hb-pack-test-" + std::to_string(rd()));
    fs::create_directories(FDir / "release/web");
    Write("release/manifest.json",
          R"({"component":"HallBoard","version":"1.0.2","version_code":3})");
    Write("release/hallBoard.exe", std::string(200000, 'M'));
    Write("release/web/座位图.html", "<p>机位</p>");
  }
  void TearDown() override {
    InstallPlatform(nullptr, nullptr);
    fs::remove_all(FDir);
  }
  void Write(const std::string& name, const std::string& bytes) {
    std::ofstream(FDir / fs::path(std::u8string(name.begin(), name.end())), std::ios::binary)
        << bytes;
  }
  std::string P(const std::string& name) { return "'" + (FDir / name).string() + "'"; }

  TLinuxSystem FSystem;
  TOpenSslHasher FHasher;
  fs::path FDir;
};

TEST_F(PackTool, KeygenPackVerifyRoundTrip) {
  TRun key = RunPack("keygen --out " + P("release.pem"));
  ASSERT_EQ(key.Code, 0) << key.Output;
  std::string line = key.Output.substr(0, key.Output.find('\n'));
  ASSERT_EQ(line.size(), 69u);
  EXPECT_EQ(fs::status(FDir / "release.pem").permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write);
  TReleaseKey parsed = ParseReleaseKey(line);

  TRun pack =
      RunPack("pack --in " + P("release") + " --out " + P("p.zip") +
              " --component HallBoard --version 1.0.2 --version-code 3 --key " + P("release.pem"));
  ASSERT_EQ(pack.Code, 0) << pack.Output;

  std::string keyId;
  EXPECT_EQ(VerifyUpdatePackage((FDir / "p.zip").string(), "HallBoard", 3, {parsed}, keyId), "");
  EXPECT_EQ(keyId, parsed.Id);

  TRun ok = RunPack("verify " + P("p.zip") +
                    " --component HallBoard --version-code 3 --key-line '" + line + "'");
  EXPECT_EQ(ok.Code, 0);
  EXPECT_EQ(ok.Output, parsed.Id + "\nOK\n");

  TRun wrongCode = RunPack("verify " + P("p.zip") +
                           " --component HallBoard --version-code 4 --key-line '" + line + "'");
  EXPECT_EQ(wrongCode.Code, 1);
  EXPECT_EQ(wrongCode.Output, "签名清单的版本代码与云端下发不一致\n");

  // The development key of the test data signs packages that default builds trust.
  TRun dev = RunPack("pack --in " + P("release") + " --out " + P("dev.zip") +
                     " --component HallBoard --version 1.0.2 --version-code 3 --key '" +
                     HB_TEST_DATA "/signature/dev-release-key.pem'");
  ASSERT_EQ(dev.Code, 0) << dev.Output;
  EXPECT_EQ(VerifyUpdatePackage(
                (FDir / "dev.zip").string(), "HallBoard", 3,
                {ParseReleaseKey(
                    "ed25519 4c4c6d37f8a1da95 3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7FI=")},
                keyId),
            "");
  TRun other = RunPack("verify " + P("dev.zip") +
                       " --component HallBoard --version-code 3 --key-line '" + line + "'");
  EXPECT_EQ(other.Code, 1);
  EXPECT_EQ(other.Output, "更新包不是用认可的私钥签名的（公钥编号 4c4c6d37f8a1da95 未登记）\n");
}

TEST_F(PackTool, RefusalsAreWordedWithExitCodes) {
  ASSERT_EQ(RunPack("keygen --out " + P("k.pem")).Code, 0);
  const std::string pack = "pack --in " + P("release") + " --out " + P("p.zip") +
                           " --component HallBoard --version-code 3 --key " + P("k.pem");
  struct {
    std::string Args;
    int Code;
    std::string Output; // start of what is printed
  } cases[] = {
      {"", 2, "hallboard-pack: 缺少命令"},
      {"sign", 2, "hallboard-pack: 未知命令：sign"},
      {"keygen --out " + P("k.pem"), 1, "hallboard-pack: 无法新建私钥文件（已存在或无权限）"},
      {"keygen", 2, "hallboard-pack: 缺少选项 --out"},
      {pack + " --version 1.0.3", 1,
       "hallboard-pack: manifest.json 的 version（1.0.2）与 --version 不一致"},
      {pack + " --version 1.0.2 --extra x", 2, "hallboard-pack: 未知选项：--extra"},
      {"pack --in " + P("release") + " --out " + P("p.zip") +
           " --component HallBoard --version 1.0.2 --version-code 3 --key " + P("release"),
       1, "hallboard-pack: 不是 Ed25519 私钥（PEM）"},
      {"verify " + P("none.zip") + " --component HallBoard --version-code 3 --key-line 'x'", 1,
       "hallboard-pack: 公钥格式不对"},
      {"verify --component HallBoard --version-code 3 --key-line x", 2,
       "hallboard-pack: 需要一个包文件"},
  };
  for (auto& c : cases) {
    TRun r = RunPack(c.Args);
    EXPECT_EQ(r.Code, c.Code) << c.Args << "\n" << r.Output;
    EXPECT_EQ(r.Output.substr(0, c.Output.size()), c.Output) << c.Args;
  }
  EXPECT_FALSE(fs::exists(FDir / "p.zip"));
}

// Both commands say OK only for a package the program would go on to install: the program file
// at the top, names extraction takes, and no links that would be packed misleadingly or dropped.
TEST_F(PackTool, PackAndVerifyApplyTheProgramsInstallRules) {
  const std::string pem = "'" HB_TEST_DATA "/signature/dev-release-key.pem'";
  const std::string devLine =
      "ed25519 4c4c6d37f8a1da95 3GdYS+hwRoqFDHpJeIDcRv5q+aUA+Gk+xsocdpqs7FI=";
  auto pack = [&](const std::string& extra = "") {
    fs::remove(FDir / "p.zip");
    return RunPack("pack --in " + P("release") + " --out " + P("p.zip") +
                   " --component HallBoard --version 1.0.2 --version-code 3 --key " + pem + extra);
  };
  const struct {
    const char* Name;
    std::function<void()> Spoil;
    std::function<void()> Mend;
    std::string Output;
  } kCases[] = {
      {"no program", [&] { fs::rename(FDir / "release/hallBoard.exe", FDir / "hallBoard.exe"); },
       [&] { fs::rename(FDir / "hallBoard.exe", FDir / "release/hallBoard.exe"); },
       "hallboard-pack: 发布文件夹顶层没有 hallBoard.exe，程序不会安装这样的包\n"},
      {"a name with ?", [&] { Write("release/web/notes?.txt", "n"); },
       [&] { fs::remove(FDir / "release/web/notes?.txt"); },
       "hallboard-pack: 程序解压时会拒绝这个文件名：web/notes?.txt\n"},
      {"a name ending in .", [&] { Write("release/readme.", "r"); },
       [&] { fs::remove(FDir / "release/readme."); },
       "hallboard-pack: 程序解压时会拒绝这个文件名：readme.\n"},
      {"a file link",
       [&] { fs::create_symlink(FDir / "release/manifest.json", FDir / "release/link.json"); },
       [&] { fs::remove(FDir / "release/link.json"); },
       "hallboard-pack: 发布文件夹里有符号链接：link.json（请放入文件本身）\n"},
      {"a linked folder",
       [&] {
         fs::create_directories(FDir / "outside");
         Write("outside/data.bin", "d");
         fs::create_directory_symlink(FDir / "outside", FDir / "release/data");
       },
       [&] { fs::remove(FDir / "release/data"); },
       "hallboard-pack: 发布文件夹里有链接的文件夹：data（不会打进包里；请放入文件夹本身）\n"},
  };
  for (const auto& c : kCases) {
    c.Spoil();
    TRun r = pack();
    EXPECT_EQ(r.Code, 1) << c.Name << "\n" << r.Output;
    EXPECT_EQ(r.Output, c.Output) << c.Name;
    EXPECT_FALSE(fs::exists(FDir / "p.zip")) << c.Name;
    c.Mend();
  }

  // The Linux program's release carries "hallBoard": named with --program, it packs, and verify
  // holds it to the same name.
  fs::rename(FDir / "release/hallBoard.exe", FDir / "release/hallBoard");
  ASSERT_EQ(pack().Code, 1);
  TRun linux = pack(" --program hallBoard");
  ASSERT_EQ(linux.Code, 0) << linux.Output;
  const std::string verify = "verify " + P("p.zip") +
                             " --component HallBoard --version-code 3 --key-line '" + devLine + "'";
  TRun wrongProgram = RunPack(verify);
  EXPECT_EQ(wrongProgram.Code, 1);
  EXPECT_EQ(wrongProgram.Output, "更新包缺少主程序或 manifest.json\n");
  TRun right = RunPack(verify + " --program hallBoard");
  EXPECT_EQ(right.Code, 0) << right.Output;
  EXPECT_EQ(right.Output, "4c4c6d37f8a1da95\nOK\n");
}

} // namespace
} // namespace hb
