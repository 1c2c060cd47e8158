// Builds the channel that matches a connection's type.
#ifndef QVPA_IO_IO_HANDLER_FACTORY_H_
#define QVPA_IO_IO_HANDLER_FACTORY_H_

#include <memory>
#include <string>

#include "io/connection.h"
#include "io/io_handler.h"

namespace qvpa {

// Returns a new channel for aConnection.ConnectionType(), logging into aDirectory
// under aFileName. Throws EQVError naming the type when this build has no channel
// for it, and passes on the channel constructor's errors.
std::unique_ptr<kIOHandler> CreateIOHandler(const kConnection& aConnection,
                                            const std::u16string& aDirectory,
                                            const std::u16string& aFileName);

}  // namespace qvpa

#endif  // QVPA_IO_IO_HANDLER_FACTORY_H_
