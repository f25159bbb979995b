#include "tools/DemoMailbox.h"

#include <algorithm>
#include <filesystem>
#include <stdexcept>

#include "platform/Streams.h"

namespace pelicore::demo {

std::string TDemoMailbox::WithCrLf(const std::string& Text) {
  std::string Out;
  Out.reserve(Text.size() + Text.size() / 32 + 2);
  for (std::size_t I = 0; I < Text.size(); ++I) {
    const char C = Text[I];
    if (C == '\n' && (I == 0 || Text[I - 1] != '\r')) Out += '\r';
    Out += C;
  }
  if (Out.size() < 2 || Out.compare(Out.size() - 2, 2, "\r\n") != 0) Out += "\r\n";
  return Out;
}

TDemoMailbox::TDemoMailbox(const std::string& Folder) {
  std::vector<std::filesystem::path> Files;
  std::error_code Error;
  for (const auto& Entry : std::filesystem::directory_iterator(Folder, Error))
    if (Entry.is_regular_file() && Entry.path().extension() == ".eml") Files.push_back(Entry.path());
  if (Error) throw std::runtime_error("cannot read the mail folder " + Folder + ": " + Error.message());
  std::sort(Files.begin(), Files.end());
  for (const auto& Path : Files) {
    TMemoryStream Raw;
    Raw.LoadFromFile(Path.string());
    FMessages.push_back(std::make_shared<const TDemoMessage>(TDemoMessage{Path.stem().string(), WithCrLf(Raw.DataString())}));
  }
  if (FMessages.empty()) throw std::runtime_error("no .eml message in " + Folder);
}

TDemoMessages TDemoMailbox::Snapshot() const {
  std::lock_guard<std::mutex> G(FLock);
  return FMessages;
}

void TDemoMailbox::Remove(const std::vector<std::string>& Uids) {
  std::lock_guard<std::mutex> G(FLock);
  std::erase_if(FMessages, [&](const auto& M) { return std::find(Uids.begin(), Uids.end(), M->Uid) != Uids.end(); });
}

std::size_t TDemoMailbox::Count() const {
  std::lock_guard<std::mutex> G(FLock);
  return FMessages.size();
}

}  // namespace pelicore::demo
