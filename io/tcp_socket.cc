// The platform-neutral half of TcpSocket: handing out buffered input.
#include "io/tcp_socket.h"

#include <algorithm>

namespace qvpa {

TcpSocket::ReadResult TcpSocket::Read(std::string& aOut, size_t aMax, int32_t aWaitMs) {
  const ReadResult got = Fill(aWaitMs);
  if (got == ReadResult::kByte) {
    InputBuffer& in = Input();
    const size_t take = std::min(aMax, in.Buffered());
    aOut.append(in.buffer, in.pos, take);
    in.pos += take;
  }
  return got;
}

TcpSocket::ReadResult TcpSocket::ReadUntil(std::string& aOut, std::span<const uint8_t> aStops,
                                           int32_t aWaitMs, bool& aStopped) {
  aStopped = false;
  const ReadResult got = Fill(aWaitMs);
  if (got != ReadResult::kByte) return got;
  InputBuffer& in = Input();
  size_t end = in.pos;
  while (end < in.buffer.size() && !aStopped) {
    const uint8_t byte = static_cast<uint8_t>(in.buffer[end++]);
    aStopped = std::find(aStops.begin(), aStops.end(), byte) != aStops.end();
  }
  aOut.append(in.buffer, in.pos, end - in.pos);
  in.pos = end;
  return got;
}

}  // namespace qvpa
