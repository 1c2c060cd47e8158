// qvpa-host: a stand-in point-of-sale host. Loads the driver library at run time, calls
// one export with a request from a file, a text or standard input, or runs a script of
// calls on one loaded library, and prints each result document, error text and result code.
#include <dlfcn.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <sstream>
#include <string>
#include <thread>

#include "base/text.h"
#include "tools/qvpa-host/host_script.h"

namespace {

using BSTR = char16_t*;
using Export = int16_t (*)(BSTR, BSTR*, BSTR*);

constexpr char kLibraryName[] = "libQVPA_SATISPAY_10.so";

struct Answer {
  int16_t result = 0;
  std::string output;
  std::string error;
};

// The loaded driver library; strings cross with its own allocator.
class DriverLibrary {
 public:
  explicit DriverLibrary(const std::string& aPath) : handle_(dlopen(aPath.c_str(), RTLD_NOW)) {
    if (handle_ == nullptr) throw std::runtime_error(std::string("cannot load: ") + dlerror());
    alloc_ = reinterpret_cast<BSTR (*)(const char16_t*, unsigned)>(Symbol("SysAllocStringLen"));
    free_ = reinterpret_cast<void (*)(BSTR)>(Symbol("SysFreeString"));
    length_ = reinterpret_cast<unsigned (*)(BSTR)>(Symbol("SysStringLen"));
  }
  ~DriverLibrary() { dlclose(handle_); }
  DriverLibrary(const DriverLibrary&) = delete;
  DriverLibrary& operator=(const DriverLibrary&) = delete;

  Answer Call(const std::string& aExport, const std::string& aRequest) {
    const auto fn = reinterpret_cast<Export>(Symbol(aExport.c_str()));
    const std::u16string request = qvpa::FromUtf8(aRequest);
    BSTR in = request.empty() ? nullptr : alloc_(request.data(), static_cast<unsigned>(request.size()));
    BSTR output = nullptr;
    BSTR error = nullptr;
    Answer answer;
    answer.result = fn(in, &output, &error);
    answer.output = Take(output);
    answer.error = Take(error);
    free_(in);
    return answer;
  }

 private:
  void* Symbol(const char* aName) {
    void* symbol = dlsym(handle_, aName);
    if (symbol == nullptr) throw std::runtime_error(std::string("no export ") + aName);
    return symbol;
  }
  std::string Take(BSTR aText) {
    if (aText == nullptr) return {};
    std::string text = qvpa::ToUtf8(std::u16string_view(aText, length_(aText)));
    free_(aText);
    return text;
  }

  void* handle_;
  BSTR (*alloc_)(const char16_t*, unsigned);
  void (*free_)(BSTR);
  unsigned (*length_)(BSTR);
};

std::string DefaultLibrary() {
  std::error_code ec;
  const auto beside = std::filesystem::read_symlink("/proc/self/exe", ec).parent_path() / kLibraryName;
  if (!ec && std::filesystem::exists(beside)) return beside.string();
  return QVPA_HOST_DEFAULT_LIBRARY;
}

std::string ReadAll(std::istream& in) {
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string ReadFileText(const std::string& aPath) {
  std::ifstream in(aPath, std::ios::binary);
  if (!in) throw std::runtime_error("cannot read " + aPath);
  return ReadAll(in);
}

void Print(const std::string& aExport, const Answer& a) {
  std::cout << "--- " << aExport << "\n";
  if (!a.output.empty()) std::cout << a.output << "\n";
  std::cout << "--- error text: " << a.error << "\n--- result: " << a.result << "\n" << std::flush;
}

int RunScript(DriverLibrary& aLibrary, const std::string& aScript) {
  using qvpa::host::ScriptError;
  const auto steps = qvpa::host::ParseScript(aScript);
  qvpa::host::ResultValues values;
  for (const auto& step : steps) {
    Answer answer;
    bool reached = step.until_element.empty();
    for (int call = 1; call <= step.max_calls; ++call) {
      answer = aLibrary.Call(step.export_name, values.Substitute(step.request));
      values.Record(answer.output, answer.error);
      Print(step.export_name, answer);
      if (!step.until_element.empty() &&
          values.Find(step.until_element).value_or("") == step.until_value) {
        reached = true;
        break;
      }
      if (call < step.max_calls) std::this_thread::sleep_for(std::chrono::milliseconds(step.every_ms));
    }
    if (!reached) {
      std::cerr << "line " << step.line << ": " << step.until_element << " never became "
                << step.until_value << "\n";
      return 1;
    }
    if (step.expect && *step.expect != answer.result) {
      std::cerr << "line " << step.line << ": " << step.export_name << " gave " << answer.result
                << ", expected " << *step.expect << "\n";
      return 1;
    }
  }
  return 0;
}

void Usage() {
  std::cerr << "usage: qvpa-host [--library PATH] EXPORT [--text TEXT | FILE | -]\n"
               "       qvpa-host [--library PATH] --script FILE\n"
               "Calls an export of the driver library (default: " << kLibraryName
            << " beside this tool) with the request\ntext, the file or standard input, and "
               "prints the result document, error text and result code.\n";
}

}  // namespace

int main(int argc, char** argv) {
  std::string library = DefaultLibrary();
  std::string script;
  std::string export_name;
  std::string text;
  std::string file;
  bool have_text = false;
  for (int i = 1; i < argc; ++i) {
    const std::string arg = argv[i];
    const bool has_value = i + 1 < argc;
    if (arg == "--library" && has_value) {
      library = argv[++i];
    } else if (arg == "--script" && has_value) {
      script = argv[++i];
    } else if (arg == "--text" && has_value) {
      text = argv[++i];
      have_text = true;
    } else if (arg == "-h" || arg == "--help") {
      Usage();
      return 0;
    } else if (export_name.empty() && script.empty() && arg[0] != '-') {
      export_name = arg;
    } else if (file.empty()) {
      file = arg;
    } else {
      Usage();
      return 2;
    }
  }
  if (script.empty() == export_name.empty()) {
    Usage();
    return 2;
  }
  try {
    DriverLibrary driver(library);
    if (!script.empty()) return RunScript(driver, ReadFileText(script));
    std::string request = text;
    if (!have_text) request = (file.empty() || file == "-") ? ReadAll(std::cin) : ReadFileText(file);
    Print(export_name, driver.Call(export_name, request));
    return 0;
  } catch (const std::exception& e) {
    std::cerr << "qvpa-host: " << e.what() << "\n";
    return 2;
  }
}
