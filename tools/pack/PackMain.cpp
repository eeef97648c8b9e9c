// hallboard-pack ("签名打包工具"): the release engineer's side of update signing.
#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "Json.h"
#include "LinuxSystem.h"
#include "OpenSslHasher.h"
#include "PackCommands.h"
#include "Platform.h"

namespace {

const char kUsage[] =
    "用法：\n"
    "  hallboard-pack keygen --out FILE\n"
    "  hallboard-pack pack --in FOLDER --out FILE.zip --component HallBoard --version 1.0.2 "
    "--version-code 3 --key FILE [--program hallBoard.exe]\n"
    "  hallboard-pack verify FILE.zip --component HallBoard --version-code 3 --key-line \"LINE\" "
    "[--program hallBoard.exe]\n";

int Usage(const std::string& problem) {
  std::fprintf(stderr, "hallboard-pack: %s\n%s", problem.c_str(), kUsage);
  return hb::pack::kExitUsage;
}

} // namespace

int main(int argc, char** argv) {
  if (argc < 2) return Usage("缺少命令");
  const std::string command = argv[1];
  if (command == "--help" || command == "-h") {
    std::fputs(kUsage, stdout);
    return hb::pack::kExitOk;
  }
  // Options are "--name value" pairs; verify also takes the package as its one plain argument.
  std::map<std::string, std::string> options;
  std::vector<std::string> plain;
  for (int i = 2; i < argc; ++i) {
    std::string arg = argv[i];
    if (arg.rfind("--", 0) == 0) {
      if (i + 1 >= argc) return Usage("选项 " + arg + " 缺少值");
      if (!options.emplace(arg, argv[++i]).second) return Usage("选项 " + arg + " 重复");
    } else {
      plain.push_back(arg);
    }
  }
  auto need = [&](std::initializer_list<const char*> names, size_t plainCount) -> std::string {
    if (plain.size() != plainCount)
      return plainCount ? "需要一个包文件" : "多余的参数：" + plain.front();
    for (auto& [name, value] : options) {
      bool known = false;
      for (const char* n : names) known |= name == n;
      if (!known) return "未知选项：" + name;
    }
    for (const char* n : names)
      if (!options.count(n)) return std::string("缺少选项 ") + n;
    return "";
  };
  // The one optional option of pack and verify: the program file the release must carry.
  auto program = [&] {
    std::string name = hb::pack::kDefaultProgramFileName;
    if (auto it = options.find("--program"); it != options.end()) {
      name = it->second;
      options.erase(it);
    }
    return name;
  };
  auto versionCode = [&](int64_t& out) {
    return hb::ParseWholeNumber(options["--version-code"], 0, INT64_MAX, out);
  };

  hb::TLinuxSystem system;
  hb::TOpenSslHasher hasher;
  hb::InstallPlatform(&system, &hasher);

  if (command == "keygen") {
    if (auto problem = need({"--out"}, 0); !problem.empty()) return Usage(problem);
    return hb::pack::Keygen(options["--out"]);
  }
  if (command == "pack") {
    const std::string programName = program();
    auto problem =
        need({"--in", "--out", "--component", "--version", "--version-code", "--key"}, 0);
    if (!problem.empty()) return Usage(problem);
    int64_t code;
    if (!versionCode(code))
      return Usage("--version-code 不是非负整数：" + options["--version-code"]);
    return hb::pack::Pack(options["--in"], options["--out"], options["--component"],
                          options["--version"], code, options["--key"], programName);
  }
  if (command == "verify") {
    const std::string programName = program();
    auto problem = need({"--component", "--version-code", "--key-line"}, 1);
    if (!problem.empty()) return Usage(problem);
    int64_t code;
    if (!versionCode(code))
      return Usage("--version-code 不是非负整数：" + options["--version-code"]);
    return hb::pack::Verify(plain[0], options["--component"], code, options["--key-line"],
                            programName);
  }
  return Usage("未知命令：" + command);
}
