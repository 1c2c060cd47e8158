// The parts of the loopback peers that need no sockets of their own.
#include "io/loopback_peer_test_support.h"

namespace qvpa::testing_io {

void PeerConnection::AwaitClose() {
  while (!Receive(256).empty()) {
  }
}

std::string PeerConnection::ReceiveAll() {
  std::string all;
  for (std::string part; !(part = Receive(256)).empty();) all += part;
  return all;
}

}  // namespace qvpa::testing_io
