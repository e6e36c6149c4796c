// One running copy per share list. Started again while a copy runs ("Open with" from the
// file manager does that), the program would fail to listen on the port that copy holds,
// and whichever of the two ended last would overwrite the share list the other saved. So the
// first copy to start claims its share list and listens on a local socket; a later start
// with the same share list hands its files to that copy, which shares them as a drop would
// and shows its Container window, and then ends.
//
// The claim is a lock on a file beside the socket, held for the copy's lifetime (the system
// drops it when the process ends, however it ends). Both live in $XDG_RUNTIME_DIR, or in
// /tmp/driftpost-<uid> made readable by its owner only, named after the share list's path.
// A running copy takes files only from processes of its own user.
#pragma once

#include <chrono>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace driftpost {

class TSingleInstance {
 public:
  // For the copy whose share list is `containerFileName` (a full path).
  explicit TSingleInstance(const std::string& containerFileName);
  ~TSingleInstance();
  TSingleInstance(const TSingleInstance&) = delete;
  TSingleInstance& operator=(const TSingleInstance&) = delete;

  // False when another copy holds the claim; true when this one now holds it and listens,
  // and true as well when no claim can be made here (no private folder for it), so that the
  // program still runs.
  bool Claim();

  // The listening socket of a claim (readable when a later start connects), or -1.
  int ListenDescriptor() const { return listen_; }

  // Takes one waiting hand-over: the full paths it names, or nothing when there was none,
  // it came from another user, or it was not complete within a second. The later start
  // learns that its files were taken when the connection closes after this.
  std::optional<std::vector<std::string>> Accept();

  // Gives `paths` to the copy holding the claim and waits until it has taken them. An empty
  // string on success, else a message for the user.
  std::string HandOver(const std::vector<std::string>& paths,
                       std::chrono::milliseconds timeout = std::chrono::seconds(5)) const;

  const std::string& SocketPath() const { return socketPath_; }

 private:
  std::string folder_;      // empty when there is no private folder to use
  std::string socketPath_;
  std::string lockPath_;
  int lock_ = -1;
  int listen_ = -1;
};

// The full paths of a hand-over's bytes: each path ends with a zero byte; paths that are not
// full ones are left out. Nothing when the last path has no end (the sender stopped early).
std::optional<std::vector<std::string>> ParseHandOver(std::string_view message);

}  // namespace driftpost
