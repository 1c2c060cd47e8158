#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <thread>

#include "io/spool_queue_test_support.h"
#include "io/system_error_win.h"

namespace qvpa::testing_io {

namespace {

std::string ReadAll(const std::filesystem::path& aFile) {
  std::ifstream in(aFile, std::ios::binary);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

}  // namespace

struct SpoolQueueUnderTest::Platform {
  std::filesystem::path folder;  // the queue's output folder, through the host's drive
  size_t jobs_before = 0;        // finished before this object: other tests' jobs
  size_t jobs_seen = 0;          // finished jobs already handed out

  // The finished jobs in the order they finished: the monitor's notes in jobs.log.
  std::vector<std::pair<int, std::string>> Jobs() const {
    std::vector<std::pair<int, std::string>> jobs;
    std::istringstream in(ReadAll(folder / "jobs.log"));
    std::string line;
    while (std::getline(in, line)) {
      const size_t tab = line.find('\t');
      if (tab != std::string::npos) jobs.emplace_back(std::atoi(line.substr(0, tab).c_str()), line.substr(tab + 1));
    }
    return jobs;
  }
};

SpoolQueueUnderTest::SpoolQueueUnderTest() : platform_(std::make_unique<Platform>()) {
  const char* folder = std::getenv("QVPA_TEST_SPOOL_DIR");
  if (folder != nullptr) platform_->folder = folder;
  if (running()) platform_->jobs_before = platform_->jobs_seen = platform_->Jobs().size();
}
SpoolQueueUnderTest::~SpoolQueueUnderTest() = default;

bool SpoolQueueUnderTest::running() const {
  std::error_code ec;
  return !platform_->folder.empty() && std::filesystem::is_directory(platform_->folder, ec);
}
std::string SpoolQueueUnderTest::Problem() const {
  return "no print queue: QVPA_TEST_SPOOL_DIR must name the output folder of the CUPS queue that "
         "tools/windows-test.sh starts (now \"" + platform_->folder.string() + "\")";
}
bool SpoolQueueUnderTest::SkipWhenNotRunning() const { return false; }

std::string SpoolQueueUnderTest::LastJobOutput() {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (platform_->Jobs().size() <= platform_->jobs_seen && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  platform_->jobs_seen = platform_->Jobs().size();
  return ReadAll(platform_->folder / "receipt.prn");
}

std::map<int, std::string> SpoolQueueUnderTest::CompletedJobs() const {
  std::map<int, std::string> jobs;
  const auto all = platform_->Jobs();
  for (size_t i = platform_->jobs_before; i < all.size(); ++i) jobs[all[i].first] = all[i].second;
  return jobs;
}

// The system's printer driver hands the spooler PostScript: the pages' drawing is followed
// through its scale, translate and gsave/grestore operators (the driver writes no others
// around a picture) to each image, whose unit square the matrix maps onto the page.
SpoolQueueUnderTest::Drawing SpoolQueueUnderTest::ReadDrawing(const std::string& aJob) {
  Drawing drawing;
  if (aJob.rfind("%!PS", 0) != 0) return drawing;
  std::smatch size;
  if (!std::regex_search(aJob, size, std::regex(R"(/PageSize\s*\[\s*([0-9.]+)\s+([0-9.]+)\s*\])"))) {
    return drawing;
  }
  drawing.readable = true;
  drawing.media_width = std::stod(size[1]);
  drawing.media_height = std::stod(size[2]);

  struct Matrix {
    double a = 1, d = 1, e = 0, f = 0;  // scale and translation; the driver does not rotate
  };
  Matrix ctm;
  std::vector<Matrix> saved;
  std::vector<double> operands;
  std::istringstream in(aJob);
  std::string line;
  bool in_page = false, in_image_data = false;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (in_image_data) {
      in_image_data = line.size() < 2 || line.compare(line.size() - 2, 2, "~>") != 0;
      continue;
    }
    if (line.rfind("%%Page:", 0) == 0) {
      ++drawing.pages;
      in_page = true;
      ctm = Matrix();
      continue;
    }
    if (!in_page || line.rfind("%", 0) == 0) continue;
    std::istringstream tokens(line);
    std::string token;
    while (tokens >> token) {
      char* end = nullptr;
      const double number = std::strtod(token.c_str(), &end);
      if (end != token.c_str() && *end == '\0') {
        operands.push_back(number);
        continue;
      }
      const size_t n = operands.size();
      if ((token == "div" || token == "mul") && n >= 2) {
        const double b = operands[n - 1];
        operands.pop_back();
        operands.back() = token == "div" ? operands.back() / b : operands.back() * b;
        continue;
      }
      if (token == "scale" && n >= 2) {
        ctm.a *= operands[n - 2];
        ctm.d *= operands[n - 1];
      } else if (token == "translate" && n >= 2) {
        ctm.e += operands[n - 2] * ctm.a;
        ctm.f += operands[n - 1] * ctm.d;
      } else if (token == "gsave") {
        saved.push_back(ctm);
      } else if (token == "grestore" && !saved.empty()) {
        ctm = saved.back();
        saved.pop_back();
      } else if (token == "image") {
        const double x0 = ctm.e, x1 = ctm.e + ctm.a, y0 = ctm.f, y1 = ctm.f + ctm.d;
        drawing.picture_found = true;
        drawing.left = std::min(x0, x1);
        drawing.top = drawing.media_height - std::max(y0, y1);
        drawing.width = std::fabs(ctm.a);
        drawing.height = std::fabs(ctm.d);
        in_image_data = true;
        break;
      }
      operands.clear();
    }
  }
  return drawing;
}

int SpoolQueueUnderTest::SheetHeightPixels() { return 7016; }
std::u16string SpoolQueueUnderTest::UnknownPrinterText() { return WindowsErrorText(ERROR_INVALID_PRINTER_NAME); }

}  // namespace qvpa::testing_io
