#include "io/io_handler_factory.h"

#include "base/error.h"
#include "io/io_handler_com.h"
#include "io/io_handler_dll.h"
#include "io/io_handler_http.h"
#include "io/io_handler_opos.h"
#include "io/io_handler_serial.h"
#include "io/io_handler_spool.h"
#include "io/io_handler_tcp.h"

namespace qvpa {

std::unique_ptr<kIOHandler> CreateIOHandler(const kConnection& aConnection,
                                            const std::u16string& aDirectory,
                                            const std::u16string& aFileName) {
  switch (aConnection.ConnectionType()) {
    case qvConnectionType::Com:
      return std::make_unique<kIOHandler_Com>(&aConnection, aDirectory, aFileName);
    case qvConnectionType::HTTP:
      return std::make_unique<kIOHandler_HTTP>(&aConnection, aDirectory, aFileName);
    case qvConnectionType::TCP:
      return std::make_unique<kIOHandler_TCP>(aConnection, aDirectory, aFileName);
    case qvConnectionType::Serial:
      return std::make_unique<kIOHandler_Serial>(aConnection, aDirectory, aFileName);
    case qvConnectionType::DLL:
      return std::make_unique<kIOHandler_Dll>(aConnection, aDirectory, aFileName);
    case qvConnectionType::OPOS:
      return std::make_unique<kIOHandler_OPOS>(aConnection, aDirectory, aFileName);
    case qvConnectionType::Spool:
      return std::make_unique<kIOHandler_Spool>(aConnection, aDirectory, aFileName);
  }
  // Only a value outside the enumeration gets here.
  throw EQVError(u"Connection Type " + ConnectionTypeName(aConnection.ConnectionType()) + u" is not valid");
}

}  // namespace qvpa
