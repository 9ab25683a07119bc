#pragma once

#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace hx::test {

// A UDP relay on 127.0.0.1 between one TFTP client and a server, so that a test can lose datagrams on the way
// and see what travelled.
//
// The client sends its request to Port(); the relay passes it on to the server's port from a socket of its
// own. What the server answers from its transfer port comes back to the client from a second relay socket, so
// the client takes that socket's port for the server's transfer ID, and whatever the client sends there goes
// to the server's transfer port of the moment. One client at a time; a new request to Port() starts over with
// the next transfer port the server answers from.
//
// Every `dropEvery`-th datagram (counted over both directions together, requests included) is dropped; 0
// drops none. The relay ends when the object goes, or on its own after `lifetime`.
class LossyRelay {
 public:
  struct Counts {
    std::size_t toServer = 0;  // datagrams passed on towards the server
    std::size_t toClient = 0;  // datagrams passed on towards the client
    std::size_t dropped = 0;
    std::size_t largestToServer = 0;  // bytes of the largest datagram passed on towards the server
    std::size_t largestToClient = 0;
    // The first few datagrams of each direction, whole (where requests and OACKs are).
    std::vector<std::string> firstToServer;
    std::vector<std::string> firstToClient;
  };

  LossyRelay(std::uint16_t serverPort, unsigned dropEvery,
             std::chrono::milliseconds lifetime = std::chrono::minutes(10));
  ~LossyRelay();
  LossyRelay(const LossyRelay&) = delete;
  LossyRelay& operator=(const LossyRelay&) = delete;

  // Where the client sends its request.
  std::uint16_t Port() const { return m_requestPort; }
  Counts Snapshot() const;

 private:
  void Run(std::chrono::steady_clock::time_point deadline);
  // Counts a datagram; true when it is to be dropped.
  bool Drop();
  void Note(const std::string& datagram, bool toServer);

  std::uint16_t m_serverPort;
  unsigned m_dropEvery;
  int m_requestFd = -1;  // the client's requests come here
  int m_sessionFd = -1;  // the client's side of a transfer: the server's transfer ID as the client sees it
  int m_serverFd = -1;   // the relay's one address towards the server
  int m_wakeFds[2] = {-1, -1};
  std::uint16_t m_requestPort = 0;
  std::size_t m_seen = 0;            // relay thread only
  std::uint16_t m_clientPort = 0;    // relay thread only
  std::uint16_t m_transferPort = 0;  // relay thread only: the server's transfer port of the moment
  mutable std::mutex m_lock;
  Counts m_counts;
  std::thread m_thread;
};

}  // namespace hx::test
