#pragma once
// The demo server's mailbox: the sample messages of a folder, read once at
// start. Sessions work on a snapshot taken at login; the messages a session
// deletes leave the shared view when it quits, for as long as the server
// runs. The folder itself is never written.

#include <cstddef>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace pelicore::demo {

struct TDemoMessage {
  std::string Uid;   // the file name without ".eml"
  std::string Text;  // every line ended by CR LF
};

using TDemoMessages = std::vector<std::shared_ptr<const TDemoMessage>>;

class TDemoMailbox {
 public:
  // Every *.eml file of Folder, in name order. Throws std::runtime_error
  // when the folder cannot be listed or holds no message, the stream error
  // when a file cannot be read.
  explicit TDemoMailbox(const std::string& Folder);

  TDemoMessages Snapshot() const;
  // Removes the messages with these identifiers from the shared view.
  void Remove(const std::vector<std::string>& Uids);
  std::size_t Count() const;

  // Text with every line ended by CR LF, the last one included.
  static std::string WithCrLf(const std::string& Text);

 private:
  mutable std::mutex FLock;
  TDemoMessages FMessages;
};

}  // namespace pelicore::demo
