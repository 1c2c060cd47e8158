// kIOHandler_HTTP: channel to a device or service over HTTP(S). It holds the endpoint
// URL and credentials, posts each message as a UTF-8 body on one persistent
// connection, keeps the last answer and status, and records failures (transport
// errors and non-2xx statuses) in the error state instead of throwing.
// TLS always verifies the peer and host name; when QVPA_SATISPAY_CA_FILE names a PEM
// file, that bundle is the set of trusted authorities.
#ifndef QVPA_IO_IO_HANDLER_HTTP_H_
#define QVPA_IO_IO_HANDLER_HTTP_H_

#include <memory>
#include <string>
#include <vector>

#include "io/io_handler.h"

namespace qvpa {

class HttpClient;

class kIOHandler_HTTP final : public kIOHandler {
 public:
  // aConnection may be null: URL and credentials then stay empty.
  kIOHandler_HTTP(const kConnection* aConnection, const std::u16string& aDirectory,
                  const std::u16string& aFileName);
  ~kIOHandler_HTTP() override;

  std::u16string ClassName() const override { return u"kIOHandler_HTTP"; }

  // Whether the client still holds an open connection to the last server.
  bool GetConnected() override;
  // Connect banner, the URL line; opens nothing.
  bool Connect() override;
  // Closes the persistent connection; the next request opens a new one.
  bool Disconnect() override;
  void ClearBuffers() override {}
  // POSTs aMessage to URL; true for a 2xx status. Never throws for transport or status
  // failures: they are logged as "Post Error" and recorded with SetCustomError.
  bool Write(const std::u16string& aMessage) override;
  std::u16string ReadUpTo(std::span<const uint8_t> aChars) override;
  std::u16string ReadChars(int32_t aCharsNum) override;
  std::u16string ReadAll() override;  // throws EQVError "ReadAll Unsupported"
  // Status text of an HTTP status code; "Unknown" for codes without an entry.
  std::u16string DecodeError(int32_t aErrorCode) override;
  // Throws EQVError "InputBufferContainsData Unsupported".
  bool InputBufferContainsData() override;
  // Sets (or, with an empty value, removes) a request header sent with every later
  // request; names compare without regard to case.
  void SetParameter(const std::u16string& aName, const std::u16string& aValue) override;

  // ResponseCode after an exchange that got no answer at all.
  static constexpr int32_t kNoAnswer = -1;

  const std::u16string& ContentType() const { return fContentType; }
  void SetContentType(std::u16string v) { fContentType = std::move(v); }
  const std::u16string& URL() const { return fURL; }
  void SetURL(std::u16string v) { fURL = std::move(v); }
  qvHTTPAuthType AuthType() const { return fAuthType; }
  void SetAuthType(qvHTTPAuthType v) { fAuthType = v; }
  const std::u16string& User() const { return fUser; }
  void SetUser(std::u16string v) { fUser = std::move(v); }
  const std::u16string& Password() const { return fPassword; }
  void SetPassword(std::u16string v) { fPassword = std::move(v); }
  const std::u16string& Response() const { return fResponse; }
  void SetResponse(std::u16string v) { fResponse = std::move(v); }
  int32_t ResponseCode() const { return fResponseCode; }
  void SetResponseCode(int32_t v) { fResponseCode = v; }

  // The custom header lines, "Name: value", in the order they were added.
  const std::vector<std::u16string>& CustomHeaders() const { return fCustomHeaders; }

 private:
  std::unique_ptr<HttpClient> fHttpClient;
  std::u16string fContentType;
  std::u16string fURL;
  qvHTTPAuthType fAuthType = qvHTTPAuthType::at_None;
  std::u16string fUser;
  std::u16string fPassword;
  std::u16string fResponse;
  int32_t fResponseCode = 0;
  std::vector<std::u16string> fCustomHeaders;
};

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_HTTP_H_
