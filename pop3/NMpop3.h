#pragma once
// The POP3 client component: a socket component that logs in to one mailbox
// with USER/PASS and reads its statistics, lists it, fetches summaries and
// unique identifiers, and deletes messages; retrieves whole messages with
// RETR, picks the main values out of their headers and splits multipart
// messages into a text body and attachment files.
//
// Every reply is judged by its first word (the text before the first blank;
// a reply without a blank keeps its line end in that word). Positive replies
// are recognised by "+OK" anywhere in the first word.
//
// Failures are exceptions. Those raised here are the plain Exception with
// "Authentication failed", with the server's reply line exactly as received
// (CR LF included), with kConnectionClosedText, or with the text of the
// retrieval limit (kRetrieveLimitText). The socket component adds
// "Not Connected" (no connection), its ESockError and EAbortError; reply
// numbers that are not whole numbers raise EConvertError.
//
// Mailbox operations do not nest: one started while another runs (from an
// event handler, during a wait that dispatches events) returns at once and
// does nothing.

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/NMUUE.h"
#include "platform/Component.h"
#include "platform/StringList.h"
#include "pop3/NMExtstr.h"
#include "pop3/ReplyReader.h"
#include "socket/Events.h"
#include "socket/Psock.h"

namespace pelicore {

// One line of a LIST reply: message number and size in octets.
using TListEvent = std::function<void(std::int32_t Msg, std::int32_t Size)>;
// May change the name of the file about to be written.
using TVarFileNameEvent = std::function<void(std::string& FileName)>;

// The text of the exception raised when the server closes the connection
// before its reply is complete (an empty or unfinished reply).
inline constexpr const char* kConnectionClosedText = "Connection closed before the reply was complete";

// Retrieval limit: a message that takes more bytes than RetrieveLimit fails
// with this text instead of growing until the process dies.
inline constexpr std::int64_t kDefaultRetrieveLimit = std::int64_t{1} << 30;  // 1 GiB
inline constexpr const char* kRetrieveLimitText = "Message larger than the retrieval limit";

// Working state of the message splitting, one for the whole program and
// shared by every component: two components must not split at once.
extern std::int32_t LineIndex;      // index of the next stored line of RawBody
extern std::int32_t TempFileCount;  // temporary part files made so far; never reset

// What GetSummary learnt about one message. Reused: each call overwrites it.
class TSummary {
 public:
  TSummary();
  ~TSummary();
  TSummary(const TSummary&) = delete;
  TSummary& operator=(const TSummary&) = delete;

  std::string Subject;    // value of "Subject:", with the blank after the colon
  std::string From;       // value of "From:", with the blank after the colon
  std::int32_t Bytes;     // size from LIST n
  std::string MessageId;  // value of "Message-ID:", angle brackets kept
  TExStringList Header;   // every line of the TOP reply, line ends removed, "." last
};

// One retrieved message.
class TMailMessage {
 public:
  TMailMessage();
  ~TMailMessage();
  TMailMessage(const TMailMessage&) = delete;
  TMailMessage& operator=(const TMailMessage&) = delete;

  TExStringList Head;               // header lines, then one empty entry
  TStringList RawBody;              // body lines as received, line ends removed
  TStringList Body;                 // the text body and one entry per extracted file
  TStringList Attachments;          // names of the extracted files
  std::vector<void*> Parts;         // kept empty
  std::string ContentType;
  std::string From;
  std::string Subject;
  std::string MessageId;
  std::string Boundary;
};

class TNMPOP3 : public TZedadedar {
 public:
  explicit TNMPOP3(TComponent* AOwner);

  // Asks OnAuthenticationNeeded once when UserID or Password is empty, opens
  // the connection, reads the greeting, logs in (one refusal may be retried
  // once, from USER, when OnAuthenticationFailed sets Handled) and reads the
  // message count into MailCount. OnConnect follows a successful login, also
  // when STAT then fails. On any failure after the connection opened the
  // session is closed through Disconnect (QUIT first).
  // Throws "Authentication failed", the refused greeting or STAT reply, or
  // the socket component's connect errors.
  void Connect() override;
  // Sends QUIT and closes the socket, whatever the reply; a reply without
  // "+OK" is thrown after the close. Does nothing when not connected.
  void Disconnect() override;
  // Ends a waiting read with the socket component's abort error and closes
  // the socket without QUIT, so the server keeps messages marked for
  // deletion. Raises no POP3 event.
  void Abort() override;
  // Sends RSET, which unmarks the messages marked for deletion, and raises
  // OnReset. A refusal is thrown with the reply line and raises no OnReset:
  // the marks may still be in place and would be acted on at QUIT.
  void Reset();
  // Does nothing.
  void AbortResume(TComponent* Sender);

  // LIST: one OnList per message. A refused LIST throws the reply line.
  void List();
  // TOP n 0 and LIST n into Summary, between OnRetrieveStart and
  // OnRetrieveEnd (the latter only on success).
  void GetSummary(std::int32_t MsgNum);
  // UIDL n: the identifier, or the empty string when the reply has none.
  // A refusal raises OnFailure and throws the reply line.
  std::string UniqueID(std::int32_t MsgNum);
  // DELE n: OnSuccess once the message is marked (the busy flag is already
  // clear), or OnFailure and the reply line thrown.
  void DeleteMailMessage(std::int32_t MsgNum);

  // RETR n into MailMessage, between OnRetrieveStart and OnRetrieveEnd (the
  // latter on every way out once the connection check has passed): Head, the
  // header lines and a final empty entry; RawBody, the body lines; both
  // without line ends and with the dot-stuffing undone. A multipart message
  // is split into Body and attachment files (whatever Parse says); otherwise
  // Body is a copy of RawBody, or with Parse the decoded text. With
  // DeleteOnRead the message is then deleted with DELE n.
  // Throws the refused RETR or DELE reply line, kConnectionClosedText when the
  // reply is cut off, kRetrieveLimitText when it passes RetrieveLimit (the
  // socket is then closed without QUIT: the session is out of step), and the
  // file errors of the extraction.
  void GetMailMessage(std::int32_t MsgNum);
  // Fills MailMessage from the lines of a whole message already at hand
  // (line ends and dot-stuffing removed), as GetMailMessage does with what it
  // receives: header values, splitting, attachment files. Needs no
  // connection; follows the busy rule. Throws the extraction's file errors.
  void ParseMessageLines(const TStringList& Lines);
  // The value of the first Head entry that contains Key: the text after its
  // first colon, at most 255 characters, trimmed; empty when none has it.
  // Throws "Not Connected" when not connected, although it reads only Head.
  void Extract(const std::string& Key, std::string& Value);

  // The steps of the retrieval, public so that they can be driven alone.
  // Reads header lines, from the stored lines of RawBody at LineIndex
  // (FromStored) or from the reply, up to the empty line, picking out the
  // header values; the boundary goes to R.
  void ReadHeader(bool FromStored, TMailMessage& R);
  // Splits the stored body at MailMessage.Boundary: the first part's lines go
  // to Body, every later part to an attachment file.
  void ReadMailParts();
  // Reads one body or part from the stored lines up to R's delimiter line;
  // true when that was the closing delimiter.
  bool ReadBody(TMailMessage& R);

  const std::string& AttachFilePath() const { return FAttachFilePath; }
  // Stores the folder with a trailing '/' (an empty value stays empty).
  void SetAttachFilePath(const std::string& Value);

  // Bytes one retrieval may take from the server before it fails with
  // kRetrieveLimitText; bounds the memory a message can claim.
  std::int64_t RetrieveLimit = kDefaultRetrieveLimit;

  // Fields in declared order.
  TVarFileNameEvent OnDecodeStart;
  TNotifyEvent OnDecodeEnd;

 private:
  TNMUUProcessor* FDecoder;  // owned through the component tree
  std::string FAttachFilePath;
  std::string FAttachFileName;    // file name for the next extracted part
  std::string FTransferEncoding;  // last Content-Transfer-Encoding seen

 public:
  std::unique_ptr<TSummary> Summary;
  bool Parse = false;  // decode a single-part body instead of copying it
  std::unique_ptr<TMailMessage> MailMessage;
  std::string UserID;
  std::string Password;
  bool DeleteOnRead = false;  // delete each message right after retrieving it

 private:
  bool FBusy = false;

 public:
  std::int32_t MailCount = 0;  // from STAT; 0 until the first login

 private:
  std::int32_t FBodyMode = 0;  // 2 header lines, 1 body text, 0 body to a file

 public:
  THandlerEvent OnAuthenticationNeeded;
  THandlerEvent OnAuthenticationFailed;
  TNotifyEvent OnReset;
  TListEvent OnList;
  TNotifyEvent OnRetrieveStart;
  TNotifyEvent OnRetrieveEnd;
  TNotifyEvent OnSuccess;
  TNotifyEvent OnFailure;
  // Raised after the POP3 login, never for the bare TCP connection (that is
  // TZedadedar::OnConnect, which this member hides).
  TNotifyEvent OnConnect;

 protected:
  ~TNMPOP3() override;

 private:
  // Sends Command and returns the reply line; ReadReply returns the next line
  // of a multi-line reply. Both close the socket (without QUIT) when the
  // dialogue can no longer be kept in step: the server closed the connection
  // (then kConnectionClosedText is thrown) or a socket error such as an
  // over-long line interrupted the reply.
  std::string Command(const std::string& Text);
  std::string ReadReply();
  // Command with CommandText, or ReadLn when it is null.
  std::string ReadGuarded(const std::string* CommandText);
  // Closes the socket with the socket component's own Disconnect.
  void CloseSocket();

  // Empties MailMessage and the working state of a retrieval.
  void BeginMessage();
  // Step 8 of the retrieval: split, copy or decode the stored body.
  void TreatBody();
  // The next line of the RETR reply with its line end; closes the socket and
  // throws when the reply is cut off or passes RetrieveLimit.
  std::string NextMessageLine();
  // The header tests applied to one header line (line end removed), for both
  // forms of ReadHeader.
  void ParseHeaderLine(const std::string& Line, TMailMessage& R);
  // Turns the temporary file of a part into the attachment file.
  void ExtractPart(const std::string& TempName, std::int64_t UuStart, std::int64_t UuEnd);

  TReplyReader FReply{*this};
  bool FMessageEnded = false;  // the end-of-message line came inside the header
};

}  // namespace pelicore
