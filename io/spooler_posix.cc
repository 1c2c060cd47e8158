// The spooler on CUPS: raw jobs as they are, pictures rendered with cairo into a PDF of
// the destination's default media and sent as a job. Page metrics come from the
// destination's default media (size and margins) and default resolution.
#include <cairo-pdf.h>
#include <cairo.h>
#include <cups/cups.h>
#include <dlfcn.h>

#include <memory>
#include <string>

#include "base/error.h"
#include "base/text.h"
#include "io/spooler.h"

namespace qvpa::spooler {

namespace {

constexpr double kHundredthsOfMmPerInch = 2540.0;

// Cairo sets up process-wide state once and cannot release it; when a host unloads the
// library that linked cairo, cairo would go with it and that state would dangle. Marking
// the already loaded cairo as never to be unloaded keeps it valid for the process.
[[maybe_unused]] const bool kCairoStaysLoaded =
    dlopen("libcairo.so.2", RTLD_NOW | RTLD_NOLOAD | RTLD_NODELETE) != nullptr;
constexpr int32_t kDefaultDpi = 300;

std::u16string LastCupsError() { return FromUtf8(cupsLastErrorString()); }

// The list of destinations and the one of a name, released together.
class Destination {
 public:
  explicit Destination(const std::u16string& aPrinter) {
    count_ = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests_);
    dest_ = cupsGetDest(ToUtf8(aPrinter).c_str(), nullptr, count_, dests_);
    if (dest_ != nullptr) info_ = cupsCopyDestInfo(CUPS_HTTP_DEFAULT, dest_);
  }
  ~Destination() {
    if (info_ != nullptr) cupsFreeDestInfo(info_);
    cupsFreeDests(count_, dests_);
  }
  Destination(const Destination&) = delete;
  Destination& operator=(const Destination&) = delete;

  cups_dest_t* dest() const { return dest_; }
  cups_dinfo_t* info() const { return info_; }

 private:
  cups_dest_t* dests_ = nullptr;
  int count_ = 0;
  cups_dest_t* dest_ = nullptr;
  cups_dinfo_t* info_ = nullptr;
};

// A new job on the queue, asked of the scheduler directly so that a refusal (an
// unknown queue too) carries the scheduler's own text. 0 when refused.
int CreateJob(const std::string& aPrinter, const std::u16string& aTitle) {
  char uri[HTTP_MAX_URI];
  httpAssembleURIf(HTTP_URI_CODING_ALL, uri, sizeof uri, "ipp", nullptr, "localhost", ippPort(), "/printers/%s",
                   aPrinter.c_str());
  ipp_t* request = ippNewRequest(IPP_OP_CREATE_JOB);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, uri);
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, cupsUser());
  ippAddString(request, IPP_TAG_OPERATION, IPP_TAG_NAME, "job-name", nullptr, ToUtf8(aTitle).c_str());
  ipp_t* response = cupsDoRequest(CUPS_HTTP_DEFAULT, request, "/");  // takes the request
  int job = 0;
  if (cupsLastError() <= IPP_STATUS_OK_CONFLICTING) {
    if (ipp_attribute_t* id = ippFindAttribute(response, "job-id", IPP_TAG_INTEGER)) job = ippGetInteger(id, 0);
  }
  ippDelete(response);
  return job;
}

// Sends one document to an open job; false when the scheduler refuses it.
bool SendDocument(const char* aPrinter, int aJob, const std::u16string& aDocumentName, const char* aFormat,
                  std::string_view aBytes) {
  if (cupsStartDocument(CUPS_HTTP_DEFAULT, aPrinter, aJob, ToUtf8(aDocumentName).c_str(), aFormat, 1) !=
      HTTP_STATUS_CONTINUE) {
    return false;
  }
  const bool written =
      aBytes.empty() || cupsWriteRequestData(CUPS_HTTP_DEFAULT, aBytes.data(), aBytes.size()) == HTTP_STATUS_CONTINUE;
  const bool finished = cupsFinishDocument(CUPS_HTTP_DEFAULT, aPrinter) == IPP_STATUS_OK;
  return written && finished;
}

struct CairoSurfaceDeleter {
  void operator()(cairo_surface_t* s) const { cairo_surface_destroy(s); }
};
struct CairoDeleter {
  void operator()(cairo_t* c) const { cairo_destroy(c); }
};
using SurfacePtr = std::unique_ptr<cairo_surface_t, CairoSurfaceDeleter>;
using CairoPtr = std::unique_ptr<cairo_t, CairoDeleter>;

cairo_status_t AppendToString(void* aClosure, const unsigned char* aData, unsigned int aLength) {
  static_cast<std::string*>(aClosure)->append(reinterpret_cast<const char*>(aData), aLength);
  return CAIRO_STATUS_SUCCESS;
}

// One page of aPage's sheet with the picture in aPlace, as PDF.
std::string RenderPdf(const PageMetrics& aPage, const Bitmap& aPicture, const Placement& aPlace) {
  const double points_x = 72.0 / aPage.dpi_x;
  const double points_y = 72.0 / aPage.dpi_y;
  std::string pdf;
  {
    SurfacePtr surface(cairo_pdf_surface_create_for_stream(&AppendToString, &pdf, aPage.media_width_points,
                                                           aPage.media_height_points));
    // Cairo reads the pixels in place; they are not changed.
    SurfacePtr image(cairo_image_surface_create_for_data(
        reinterpret_cast<unsigned char*>(const_cast<uint32_t*>(aPicture.pixels.data())), CAIRO_FORMAT_ARGB32,
        aPicture.width, aPicture.height, aPicture.width * 4));
    CairoPtr cr(cairo_create(surface.get()));
    cairo_translate(cr.get(), aPlace.left * points_x, aPlace.top * points_y);
    if (aPlace.unscaled) {
      cairo_scale(cr.get(), points_x, points_y);
    } else {
      cairo_scale(cr.get(), points_x * aPlace.width / aPicture.width, points_y * aPlace.height / aPicture.height);
    }
    cairo_set_source_surface(cr.get(), image.get(), 0, 0);
    cairo_paint(cr.get());
    cairo_show_page(cr.get());
    const cairo_status_t status = cairo_status(cr.get());
    cr.reset();
    cairo_surface_finish(surface.get());
    if (status != CAIRO_STATUS_SUCCESS || cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
      throw EQVError(u"Cannot render the page: " + FromUtf8(cairo_status_to_string(status)));
    }
  }
  return pdf;
}

}  // namespace

bool SendRawJob(const std::u16string& aPrinter, const std::u16string& aDocumentName, std::string_view aBytes,
                std::u16string& aError) {
  const std::string printer = ToUtf8(aPrinter);
  const int job = CreateJob(printer, aDocumentName);
  if (job == 0 || !SendDocument(printer.c_str(), job, aDocumentName, CUPS_FORMAT_RAW, aBytes)) {
    aError = LastCupsError();
    if (job != 0) cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), job, 0);
    return false;
  }
  return true;
}

std::vector<std::u16string> InstalledPrinters() {
  cups_dest_t* dests = nullptr;
  const int count = cupsGetDests2(CUPS_HTTP_DEFAULT, &dests);
  std::vector<std::u16string> names;
  for (int i = 0; i < count; ++i) {
    if (dests[i].instance == nullptr) names.push_back(FromUtf8(dests[i].name));
  }
  cupsFreeDests(count, dests);
  return names;
}

PageMetrics GetPageMetrics(const std::u16string& aPrinter) {
  Destination d(aPrinter);
  if (d.dest() == nullptr || d.info() == nullptr) {
    throw EQVError(u"Cannot read the printer " + aPrinter + u": " + LastCupsError());
  }
  cups_size_t size{};
  if (!cupsGetDestMediaDefault(CUPS_HTTP_DEFAULT, d.dest(), d.info(), 0, &size)) {
    throw EQVError(u"Printer " + aPrinter + u" has no default media");
  }
  PageMetrics page;
  page.dpi_x = page.dpi_y = kDefaultDpi;
  if (ipp_attribute_t* res = cupsFindDestDefault(CUPS_HTTP_DEFAULT, d.dest(), d.info(), "printer-resolution")) {
    ipp_res_t units = IPP_RES_PER_INCH;
    int dpi_y = 0;
    const int dpi_x = ippGetResolution(res, 0, &dpi_y, &units);
    const double per_inch = units == IPP_RES_PER_CM ? 2.54 : 1.0;
    if (dpi_x > 0 && dpi_y > 0) {
      page.dpi_x = static_cast<int32_t>(dpi_x * per_inch + 0.5);
      page.dpi_y = static_cast<int32_t>(dpi_y * per_inch + 0.5);
    }
  }
  const auto px = [](int hundredths, int32_t dpi) {
    return static_cast<int32_t>(hundredths * dpi / kHundredthsOfMmPerInch + 0.5);
  };
  page.media_width_points = size.width * 72 / kHundredthsOfMmPerInch;
  page.media_height_points = size.length * 72 / kHundredthsOfMmPerInch;
  page.page_width = px(size.width, page.dpi_x);
  page.page_height = px(size.length, page.dpi_y);
  page.offset_x = px(size.left, page.dpi_x);
  page.offset_y = px(size.top, page.dpi_y);
  page.printable_width = px(size.width - size.left - size.right, page.dpi_x);
  page.printable_height = px(size.length - size.top - size.bottom, page.dpi_y);
  return page;
}

void PrintPicture(const std::u16string& aPrinter, const std::u16string& aTitle, const PageMetrics& aPage,
                  const Bitmap& aPicture, const Placement& aPlace) {
  const std::string pdf = RenderPdf(aPage, aPicture, aPlace);
  const std::string printer = ToUtf8(aPrinter);
  const int job = CreateJob(printer, aTitle);
  if (job == 0 || !SendDocument(printer.c_str(), job, aTitle, CUPS_FORMAT_PDF, pdf)) {
    const std::u16string error = LastCupsError();
    if (job != 0) cupsCancelJob2(CUPS_HTTP_DEFAULT, printer.c_str(), job, 0);
    throw EQVError(u"Cannot print on " + aPrinter + u": " + error);
  }
}

}  // namespace qvpa::spooler
