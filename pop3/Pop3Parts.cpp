// Splitting a stored multipart message at its boundary: the first part's
// lines become the text body, every later part a temporary file that is
// decoded (Base64, UU) or renamed into an attachment file.
//
// Attachment names come from the server and are untrusted: whatever the
// message says, every file is created, replaced or renamed only inside
// AttachFilePath (the current folder when it is empty). Only a name chosen by
// an OnDecodeStart handler is used as given.
#include <unistd.h>

#include <filesystem>
#include <memory>

#include "platform/Exceptions.h"
#include "platform/Strings.h"
#include "pop3/MimeText.h"
#include "pop3/NMpop3.h"

namespace pelicore {

std::int32_t TempFileCount = 0;

namespace {

// A byte range of another stream, seen as a stream of its own: the data lines
// of a UU part without its "begin" and "end" lines.
class TStreamWindow : public TStream {
 public:
  TStreamWindow(TStream& Base, std::int64_t Start, std::int64_t End) : FBase(Base), FStart(Start), FEnd(End) {
    FBase.SetPosition(FStart);
  }
  std::int64_t Read(void* Buffer, std::int64_t Count) override {
    const std::int64_t Left = FEnd - FBase.Position();
    return Left <= 0 ? 0 : FBase.Read(Buffer, Count < Left ? Count : Left);
  }
  std::int64_t Write(const void*, std::int64_t) override { return 0; }
  std::int64_t Seek(std::int64_t Offset, SeekOrigin Origin) override {
    const std::int64_t Base = Origin == SeekOrigin::Beginning ? 0
                              : Origin == SeekOrigin::Current ? FBase.Position() - FStart
                                                              : FEnd - FStart;
    if (Base + Offset < 0) throw EStreamError("Stream seek error");
    return FBase.Seek(FStart + Base + Offset, SeekOrigin::Beginning) - FStart;
  }
  std::int64_t Size() override { return FEnd - FStart; }
  void SetSize(std::int64_t) override { throw EStreamError("Stream write error"); }

 private:
  TStream& FBase;
  std::int64_t FStart;
  std::int64_t FEnd;
};

bool FileExists(const std::string& Path) {
  std::error_code Ignored;
  // A link counts as taken even when it points nowhere.
  return std::filesystem::symlink_status(Path, Ignored).type() != std::filesystem::file_type::not_found;
}

bool IsUuEnd(const std::string& Line) { return TrimRight(Line) == "end"; }

}  // namespace

void TNMPOP3::SetAttachFilePath(const std::string& Value) {
  FAttachFilePath = Value;
  if (!FAttachFilePath.empty() && !FAttachFilePath.ends_with('/')) FAttachFilePath += '/';
}

void TNMPOP3::ReadMailParts() {
  TMailMessage& M = *MailMessage;
  const TStringList& Lines = M.RawBody;
  // Boundaries of the part headers (nested multiparts) land here, unused.
  TMailMessage Scratch;

  // The preamble, up to the first delimiter line.
  for (;;) {
    if (LineIndex >= Lines.Count()) {
      // No delimiter anywhere: the body cannot be split, and is kept as text
      // rather than lost with the whole retrieval.
      M.Body.Assign(Lines);
      return;
    }
    if (mime::DelimiterOf(Lines[LineIndex++], M.Boundary) != mime::Delimiter::None) break;
  }
  bool Closed = false;
  do {
    ReadHeader(true, Scratch);
    Closed = ReadBody(M);
  } while (LineIndex < Lines.Count() && !Closed);
}

bool TNMPOP3::ReadBody(TMailMessage& R) {
  TMailMessage& M = *MailMessage;
  const TStringList& Lines = M.RawBody;
  std::unique_ptr<TFileStream> Temp;
  std::string TempName;
  if (FBodyMode == 0) {
    ++TempFileCount;
    TempName = FAttachFilePath + "Temp" + IntToStr(TempFileCount) + ".mme";
    Temp = std::make_unique<TFileStream>(TempName, fmCreate);
  }
  StatusMessage(StatusLevel::Replies, "Extracting file");
  if (LineIndex >= Lines.Count()) return false;

  // Where the data lines of a UU part begin and end in the temporary file:
  // after a "begin " line, before an "end" line.
  std::int64_t Written = 0;
  std::int64_t UuStart = 0;
  std::int64_t UuEnd = -1;
  bool UuBegun = false;

  const std::string* Line = &Lines[LineIndex++];
  mime::Delimiter Last = mime::Delimiter::None;
  for (;;) {
    Last = mime::DelimiterOf(*Line, R.Boundary);
    if (Last != mime::Delimiter::None) break;
    if (FBodyMode > 0) {
      M.Body.Add(*Line);
    } else {
      const auto Length = static_cast<std::int64_t>(Line->size());
      Temp->WriteBuffer(Line->data(), Length);
      Temp->WriteBuffer("\r\n", 2);
      if (UuEnd < 0) {
        if (!UuBegun && Line->starts_with("begin ")) {
          UuBegun = true;
          UuStart = Written + Length + 2;
        } else if (IsUuEnd(*Line)) {
          UuEnd = Written;
        }
      }
      Written += Length + 2;
    }
    if (LineIndex >= Lines.Count()) break;
    Line = &Lines[LineIndex++];
    ++BytesRecvd;
    if (OnPacketRecvd) OnPacketRecvd(this);
  }

  if (FBodyMode == 0) {
    Temp->Flush();
    Temp.reset();
    if (Written > 0) ExtractPart(TempName, UuStart, UuEnd < 0 ? Written : UuEnd);
  }
  FBodyMode = 0;
  return Last == mime::Delimiter::Close;
}

void TNMPOP3::ExtractPart(const std::string& TempName, std::int64_t UuStart, std::int64_t UuEnd) {
  TMailMessage& M = *MailMessage;
  // The name the message gave, made safe, then the first one not yet taken.
  const std::string Given = mime::SafeFileName(FAttachFileName);
  FAttachFileName = Given;
  for (std::int64_t Counter = 1; FileExists(FAttachFilePath + FAttachFileName); ++Counter)
    FAttachFileName = mime::NumberedName(Given, Counter);
  if (OnDecodeStart) OnDecodeStart(FAttachFileName);
  const std::string& FileName = FAttachFileName;
  M.Body.Add("\r\nFile \"" + FileName + "\" extracted");
  M.Attachments.Add(FileName);

  const bool Uu = Pos("X-UUENCODE", FTransferEncoding) > 0;
  if (Uu || Pos("base64", LowerCase(FTransferEncoding)) > 0) {
    TFileStream Input(TempName, fmOpenRead);
    TFileStream Output(FAttachFilePath + FileName, fmCreate);
    std::unique_ptr<TStreamWindow> Data;
    if (Uu) Data = std::make_unique<TStreamWindow>(Input, UuStart, UuEnd);
    FDecoder->InputStream = Data ? static_cast<TStream*>(Data.get()) : &Input;
    FDecoder->OutputStream = &Output;
    FDecoder->Method = Uu ? uuCode : uuMime;
    StatusMessage(StatusLevel::Replies, "Decoding file");
    try {
      if (FDecoder->InputStream->Size() > 0) FDecoder->Decode();
    } catch (...) {
      FDecoder->InputStream = FDecoder->OutputStream = nullptr;
      throw;
    }
    FDecoder->InputStream = FDecoder->OutputStream = nullptr;
  } else {
    // Moved without replacing anything: a name that is taken (a handler's
    // choice) leaves the temporary file, and the name is listed all the same.
    if (::link(TempName.c_str(), (FAttachFilePath + FileName).c_str()) == 0) ::unlink(TempName.c_str());
  }
  if (OnDecodeEnd) OnDecodeEnd(this);
}

}  // namespace pelicore
