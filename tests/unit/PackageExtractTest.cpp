#include <gtest/gtest.h>

#include <set>

#include "PackageBuilder.h"

namespace hb {
namespace {

namespace fs = std::filesystem;

class PackageExtract : public test::TSignatureTest {
 protected:
  // Every path under the temporary folder except the package itself, relative to it.
  std::set<std::string> Tree() {
    std::set<std::string> out;
    for (auto& e : fs::recursive_directory_iterator(FTmp.Path()))
      out.insert(fs::relative(e.path(), FTmp.Path()).generic_string());
    out.erase("p.zip");
    return out;
  }
  test::TTempFolder FTmp;
};

TEST_F(PackageExtract, EveryEntryLandsInTheStagingFolder) {
  test::TPackagePlan plan;
  // Folder entries are unsigned: only parents of listed files become folders.
  plan.Folders = {"web/", "logs/empty/", ".installed-version-code/"};
  plan.Files.emplace_back("web/图片/座位.png", std::string(300000, '\x89'));
  plan.Files.emplace_back("empty.txt", "");
  test::BuildPackage(FTmp / "p.zip", plan);
  std::string stage = FTmp / "stage";
  ASSERT_EQ(ExtractUpdatePackage(FTmp / "p.zip", stage), "");
  for (auto& [name, content] : plan.Files) EXPECT_EQ(test::ReadAll(stage + "/" + name), content);
  EXPECT_FALSE(fs::exists(stage + "/logs"));
  EXPECT_FALSE(fs::exists(stage + "/.installed-version-code"));
  EXPECT_TRUE(fs::exists(stage + "/update-manifest.sig"));
  EXPECT_EQ(Tree().size(), 11u); // stage, its 8 files and the two folders web and web/图片
}

// Names that would leave the staging folder, or that Windows would turn into something else, are
// refused for folder entries as much as for files, and nothing is created outside.
TEST_F(PackageExtract, RefusesNamesThatLeaveTheFolder) {
  struct {
    std::string Name;
    bool Folder;
  } cases[] = {
      {"../outside.txt", false},
      {"../outside/", true},
      {"web/../../outside.txt", false},
      {"/tmp/abs.txt", false},
      {"/abs/", true},
      {"C:/x.txt", false},
      {"C:x/", true},
      {"..\\outside.txt", false},
      {"a\\..\\..\\b/", true},
      {"web//x.txt", false},
      {"./x/", true},
      {"CON", false},
      {"web/nul.txt", false},
      {"com1/", true},
      {"trailing./x.txt", false},
      {"space /x.txt", false},
      {"what?.txt", false},
  };
  for (auto& c : cases) {
    TZipWriter w(FTmp / "p.zip");
    w.AddFile("ok.txt", "fine");
    if (c.Folder)
      w.AddFolder(c.Name);
    else
      w.AddFile(c.Name, "bad");
    w.Finish();
    std::string stage = FTmp / "stage";
    EXPECT_EQ(ExtractUpdatePackage(FTmp / "p.zip", stage), "更新包含不安全的路径：" + c.Name)
        << c.Name;
    std::set<std::string> tree = Tree();
    EXPECT_TRUE(tree.empty() || tree == std::set<std::string>({"stage", "stage/ok.txt"})) << c.Name;
    fs::remove_all(stage);
  }
}

TEST_F(PackageExtract, DamagedOrMissingPackageIsWorded) {
  EXPECT_EQ(ExtractUpdatePackage(FTmp / "none.zip", FTmp / "stage"), "更新包打不开：无法读取文件");
  std::string content(100000, 'a');
  TZipWriter w(FTmp / "p.zip");
  w.AddFile("a.txt", content);
  w.Finish();
  std::string bytes = test::ReadAll(FTmp / "p.zip");
  bytes[bytes.size() - 22 - 46 - 5 + 16] ^= 1; // the recorded CRC
  test::WriteAll(FTmp / "p.zip", bytes);
  EXPECT_EQ(ExtractUpdatePackage(FTmp / "p.zip", FTmp / "stage"), "ZIP 条目校验和不对：a.txt");
}

} // namespace
} // namespace hb
