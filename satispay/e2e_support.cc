#include "satispay/e2e_support.h"

#include <dlfcn.h>
#include <httplib.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <fstream>
#include <stdexcept>
#include <thread>

#include "base/text.h"

extern char** environ;

namespace qvpa::testing {

using Export = int16_t (*)(BSTR, BSTR*, BSTR*);

DriverLibrary::DriverLibrary(const char* aPath) : handle_(dlopen(aPath, RTLD_NOW | RTLD_LOCAL)) {
  if (handle_ == nullptr) throw std::runtime_error(dlerror());
  alloc_ = reinterpret_cast<BSTR (*)(const char16_t*, unsigned int)>(Symbol("SysAllocStringLen"));
  free_ = reinterpret_cast<void (*)(BSTR)>(Symbol("SysFreeString"));
  length_ = reinterpret_cast<unsigned int (*)(BSTR)>(Symbol("SysStringLen"));
}

DriverLibrary::~DriverLibrary() { dlclose(handle_); }

void* DriverLibrary::Symbol(const char* aName) const {
  void* symbol = dlsym(handle_, aName);
  if (symbol == nullptr) throw std::runtime_error(std::string("missing export ") + aName);
  return symbol;
}

std::string DriverLibrary::Answer::Field(const std::string& name) const {
  const std::string doc = ToUtf8(output);
  const size_t from = doc.find("<" + name + ">");
  const size_t to = doc.find("</" + name + ">");
  if (from == std::string::npos || to == std::string::npos) return "<missing " + name + ">";
  return doc.substr(from + name.size() + 2, to - from - name.size() - 2);
}

std::string DriverLibrary::Answer::Error() const { return ToUtf8(error); }

DriverLibrary::Answer DriverLibrary::Call(const char* aExport, const std::string& aRequest) const {
  const std::u16string text = FromUtf8(aRequest);
  BSTR in = alloc_(text.data(), static_cast<unsigned>(text.size()));
  BSTR out = nullptr;
  BSTR err = nullptr;
  Answer answer;
  answer.result = reinterpret_cast<Export>(Symbol(aExport))(in, &out, &err);
  if (out != nullptr) answer.output.assign(out, length_(out));
  if (err != nullptr) answer.error.assign(err, length_(err));
  free_(in);
  free_(out);
  free_(err);
  return answer;
}

LocalService::LocalService(const char* aProgram, const std::filesystem::path& aFolder,
                           const std::vector<std::string>& aTokens, const std::vector<std::string>& aExtraArgs)
    : folder_(aFolder) {
  std::filesystem::create_directories(folder_);
  const std::string port_file = (folder_ / "port").string();
  std::filesystem::remove(port_file);
  std::vector<std::string> args = {aProgram, "--quiet", "--port", "0", "--port-file", port_file,
                                   "--cert-dir", folder_.string(), "--shop-id", kShopId};
  for (const std::string& token : aTokens) {
    args.push_back("--token");
    args.push_back(token);
  }
  args.insert(args.end(), aExtraArgs.begin(), aExtraArgs.end());
  std::vector<char*> argv;
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  if (posix_spawn(&pid_, aProgram, nullptr, nullptr, argv.data(), environ) != 0) {
    throw std::runtime_error("cannot start the local service");
  }
  // The service writes its port file (through a rename) once it accepts connections.
  for (int i = 0; i < 1000 && port_ == 0; ++i) {
    std::ifstream in(port_file);
    if (!(in >> port_)) std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  if (port_ == 0) {
    Stop();
    throw std::runtime_error("the local service did not start");
  }
}

LocalService::~LocalService() { Stop(); }

void LocalService::Stop() {
  if (pid_ <= 0) return;
  kill(pid_, SIGTERM);
  waitpid(pid_, nullptr, 0);
  pid_ = 0;
}

nlohmann::json LocalService::Control(const std::string& aMethod, const std::string& aPath,
                                     const nlohmann::json& aBody) const {
  httplib::SSLClient client("127.0.0.1", port_);
  client.set_ca_cert_path(CaFile().c_str());
  client.enable_server_certificate_verification(true);
  httplib::Result result =
      aMethod == "GET"      ? client.Get(aPath.c_str())
      : aMethod == "DELETE" ? client.Delete(aPath.c_str())
                            : client.Post(aPath.c_str(), aBody.is_null() ? "{}" : aBody.dump(), "application/json");
  if (!result) throw std::runtime_error("control request failed: " + aPath);
  return nlohmann::json::parse(result->body, nullptr, false);
}

}  // namespace qvpa::testing
