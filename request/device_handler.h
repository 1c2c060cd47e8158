// kDeviceHandler: the device part of an operation request (driver, handle, log identifier,
// connection section, free parameters) and the channel built from it for a new device.
// Deserialize throws EQVError on malformed or hostile input; fields read before a failure keep
// their values and the caller discards the handler.
#ifndef QVPA_REQUEST_DEVICE_HANDLER_H_
#define QVPA_REQUEST_DEVICE_HANDLER_H_

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "io/connection.h"
#include "request/xml_document.h"

namespace qvpa {

class kIOHandler;

class kDeviceHandler {
 public:
  // Longest request text accepted, in UTF-16 code units; real requests are a few kilobytes.
  static constexpr std::size_t kMaxRequestLength = 1024 * 1024;

  kDeviceHandler();
  virtual ~kDeviceHandler();
  kDeviceHandler(const kDeviceHandler&) = delete;
  kDeviceHandler& operator=(const kDeviceHandler&) = delete;

  // Parses the request and reads the device part into the fields. Returns the parsed document
  // so that further sections are read from the same parse; the caller owns it.
  std::unique_ptr<XmlDocument> Deserialize(const std::u16string& aXml);

  // Value of the first parameter whose name equals aName regardless of letter case; empty
  // when there is none.
  std::u16string GetParameter(std::u16string_view aName) const;
  bool ParameterExists(std::u16string_view aName) const;

  // Builds the channel of a new device, logging to <aLogDir>/<Driver>_<LogId>...; the caller
  // owns it. Channel construction failures pass through.
  std::unique_ptr<kIOHandler> CreateIOHandler(const std::u16string& aLogDir) const;

  const std::u16string& Driver() const { return fDriver; }
  const std::u16string& Method() const { return fMethod; }
  const kConnection& Connection() const { return fConnection; }
  kConnection& Connection() { return fConnection; }
  int32_t DeviceHandle() const { return fDeviceHandle; }
  // Lines "name=value", names lower-cased, in document order.
  const std::vector<std::u16string>& Parameters() const { return fParameters; }
  const std::u16string& LogId() const { return fLogId; }

 private:
  void ReadConnection(XmlNode aConnection);
  void ReadParameters(XmlNode aParameters);
  // Index of the first parameter line named aName (any letter case), or -1.
  std::ptrdiff_t FindParameter(std::u16string_view aName) const;

  std::u16string fDriver;
  std::u16string fMethod;
  kConnection fConnection;
  int32_t fDeviceHandle = 0;
  std::vector<std::u16string> fParameters;
  std::u16string fLogId;
};

}  // namespace qvpa

#endif  // QVPA_REQUEST_DEVICE_HANDLER_H_
