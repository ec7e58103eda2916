#pragma once
// A scripted TCP peer for tests: listens on 127.0.0.1 with an ephemeral port,
// accepts connections one by one on its own thread and runs the script on each,
// so a test controls every byte the client receives. Every socket it opens is
// closed by the time the destructor returns.
#include <functional>
#include <string>
#include <thread>

#include "base/FileDescriptor.h"

namespace krevo::ftp::test {

// One accepted connection, as the script sees it. Reads give up after 10 s so
// a faulty client never hangs the suite.
class TPeerConnection {
 public:
  explicit TPeerConnection(int fd) : fd_(fd) {}
  void Send(const std::string& bytes);
  // One line up to and including LF, or what came before the client closed.
  std::string ReadLine();
  // Everything until the client closes.
  std::string ReadAll();
  // Closes after sending what was sent (orderly close).
  void Close() { fd_.Reset(); }
  // Closes with a reset (RST) instead of an orderly close.
  void Reset();
  int Fd() const { return fd_.get(); }

 private:
  base::UniqueFd fd_;
};

class TScriptedPeer {
 public:
  using TScript = std::function<void(TPeerConnection& connection, int index)>;
  // Runs `script` on each of the first `connections` accepted connections.
  explicit TScriptedPeer(TScript script, int connections = 1);
  ~TScriptedPeer();
  TScriptedPeer(const TScriptedPeer&) = delete;
  TScriptedPeer& operator=(const TScriptedPeer&) = delete;

  int Port() const { return port_; }
  // Waits for the script to finish; returns what it threw (empty: nothing).
  std::string Join();

 private:
  int port_ = 0;  // before listener_: the listener's set-up fills it
  base::UniqueFd listener_;
  std::string error_;
  std::thread thread_;
};

// A port on 127.0.0.1 where nothing listens (bound once, then released).
int UnusedPort();

}  // namespace krevo::ftp::test
