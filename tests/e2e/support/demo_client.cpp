#include "demo_client.h"

#include <fstream>
#include <iterator>

#include "child_process.h"
#include "platform/module.h"

namespace qar::e2e {

std::string BuiltDemoClient() { return platform::ExtractFilePath(platform::ExecutableFileName()) + QAR_E2E_QARDEMO; }

DemoRun RunToEnd(const std::string& path, const std::vector<std::string>& args, const std::string& dir,
                 const std::string& name) {
  const auto read = [&](const char* extension) {
    std::ifstream in(platform::ToNativePath(dir + name + extension), std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  ChildProcess program(path, args, dir, dir + name);
  const std::optional<int> code = program.Wait(300);  // a script host's first start under Wine is slow
  return {code, read(".out"), read(".err")};
}

}  // namespace qar::e2e
