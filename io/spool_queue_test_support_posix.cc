#include <unistd.h>
#include <zlib.h>

#include <cmath>
#include <regex>
#include <sstream>
#include <vector>

#include "io/cups_test_server.h"
#include "io/spool_queue_test_support.h"

namespace qvpa::testing_io {

namespace {

// The decompressed content streams of a PDF.
std::vector<std::string> PdfStreams(const std::string& pdf) {
  std::vector<std::string> streams;
  size_t pos = 0;
  while ((pos = pdf.find("stream", pos)) != std::string::npos) {
    if (pos >= 3 && pdf.compare(pos - 3, 3, "end") == 0) {
      pos += 6;
      continue;
    }
    size_t start = pos + 6;
    if (pdf.compare(start, 2, "\r\n") == 0) start += 2;
    else if (pdf[start] == '\n') start += 1;
    const size_t end = pdf.find("endstream", start);
    if (end == std::string::npos) break;
    std::string out(1 << 20, '\0');
    uLongf size = out.size();
    if (uncompress(reinterpret_cast<Bytef*>(out.data()), &size, reinterpret_cast<const Bytef*>(pdf.data() + start),
                   end - start) == Z_OK) {
      out.resize(size);
      streams.push_back(out);
    }
    pos = end + 9;
  }
  return streams;
}

// The rectangle (in points, from the top-left of the page) that the image drawn by "Do"
// covers: the content stream's q, Q and cm operators tracked to the Do.
struct Rect {
  double left = 0, top = 0, width = 0, height = 0;
  bool found = false;
};

Rect DrawnImage(const std::string& content, double page_height) {
  struct M {
    double a = 1, b = 0, c = 0, d = 1, e = 0, f = 0;
  };
  std::vector<M> stack;
  M ctm;
  std::vector<double> operands;
  std::istringstream in(content);
  std::string token;
  Rect rect;
  while (in >> token) {
    char* end = nullptr;
    const double number = std::strtod(token.c_str(), &end);
    if (end != token.c_str() && *end == '\0') {
      operands.push_back(number);
      continue;
    }
    if (token == "q") stack.push_back(ctm);
    if (token == "Q" && !stack.empty()) {
      ctm = stack.back();
      stack.pop_back();
    }
    if (token == "cm" && operands.size() >= 6) {
      const double* m = &operands[operands.size() - 6];
      const M n{m[0] * ctm.a + m[1] * ctm.c, m[0] * ctm.b + m[1] * ctm.d, m[2] * ctm.a + m[3] * ctm.c,
                m[2] * ctm.b + m[3] * ctm.d, m[4] * ctm.a + m[5] * ctm.c + ctm.e, m[4] * ctm.b + m[5] * ctm.d + ctm.f};
      ctm = n;
    }
    if (token == "Do") {
      // The unit square through the matrix (no rotation in these pages).
      const double x0 = ctm.e, x1 = ctm.e + ctm.a;
      const double y0 = ctm.f, y1 = ctm.f + ctm.d;
      rect = {std::min(x0, x1), page_height - std::max(y0, y1), std::fabs(ctm.a), std::fabs(ctm.d), true};
    }
    if (token[0] != '/') operands.clear();
  }
  return rect;
}

}  // namespace

struct SpoolQueueUnderTest::Platform {
  CupsTestServer server;
};

SpoolQueueUnderTest::SpoolQueueUnderTest() : platform_(std::make_unique<Platform>()) {}
SpoolQueueUnderTest::~SpoolQueueUnderTest() = default;

bool SpoolQueueUnderTest::running() const { return platform_->server.running(); }
std::string SpoolQueueUnderTest::Problem() const {
  return ::geteuid() != 0 ? "cupsd cannot start without root privileges here"
                          : "cupsd did not start:\n" + platform_->server.ErrorLog();
}
bool SpoolQueueUnderTest::SkipWhenNotRunning() const { return ::geteuid() != 0; }

std::string SpoolQueueUnderTest::LastJobOutput() { return platform_->server.LastJobOutput(); }
std::map<int, std::string> SpoolQueueUnderTest::CompletedJobs() const { return platform_->server.CompletedJobs(); }

// The spooler renders pictures to PDF with cairo.
SpoolQueueUnderTest::Drawing SpoolQueueUnderTest::ReadDrawing(const std::string& aJob) {
  Drawing drawing;
  std::smatch box;
  const std::string head = aJob.substr(0, 4096);
  if (aJob.rfind("%PDF-", 0) != 0 ||
      !std::regex_search(head, box, std::regex(R"(/MediaBox \[ 0 0 ([0-9.]+) ([0-9.]+) \])"))) {
    return drawing;
  }
  drawing.readable = true;
  drawing.media_width = std::stod(box[1]);
  drawing.media_height = std::stod(box[2]);
  const std::regex page(R"(/Type\s*/Page\b)");
  drawing.pages = static_cast<int>(std::distance(std::sregex_iterator(aJob.begin(), aJob.end(), page),
                                                 std::sregex_iterator()));
  for (const std::string& stream : PdfStreams(aJob)) {
    if (stream.find("Do") == std::string::npos) continue;
    const Rect rect = DrawnImage(stream, drawing.media_height);
    drawing.picture_found = rect.found;
    drawing.left = rect.left;
    drawing.top = rect.top;
    drawing.width = rect.width;
    drawing.height = rect.height;
  }
  return drawing;
}
int SpoolQueueUnderTest::SheetHeightPixels() { return 7017; }
std::u16string SpoolQueueUnderTest::UnknownPrinterText() { return u"The printer or class does not exist."; }

}  // namespace qvpa::testing_io
