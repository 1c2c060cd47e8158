// The termios side of TComPort's line parameters, apart so that tests can see the
// settings a pseudo-terminal does not keep (it forces 8 data bits and no parity).
#ifndef QVPA_IO_COM_PORT_POSIX_H_
#define QVPA_IO_COM_PORT_POSIX_H_

#include <termios.h>

#include <cstdint>

#include "io/com_port.h"

namespace qvpa {

// Puts the line in raw (binary) mode and sets speed, character size, stop bits and
// parity (mark and space through CMSPAR); flow control and special characters stay.
// False for a speed, data size or stop-bit choice the line cannot have.
bool ApplyLineParameters(termios& aLine, uint32_t aBaud, uint8_t aData, TStopBits aStop,
                         TParity aParity);

}  // namespace qvpa

#endif  // QVPA_IO_COM_PORT_POSIX_H_
