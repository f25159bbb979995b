#pragma once
// Saving a downloaded message as a file in a folder, named after its Subject.
//
// The Subject comes from the server and is untrusted: the name made from it
// never leaves the folder, never replaces a file that is already there, and
// the file appears whole or not at all.

#include <string>
#include <string_view>

#include "platform/StringList.h"

namespace pelicore {

// Longest file name the common Linux file systems take, in bytes.
inline constexpr std::size_t kMaxFileNameBytes = 255;

// Subject + ".eml", with every "/", NUL and other control character (and
// DEL) replaced by "_", cut to kMaxFileNameBytes with ".eml" kept and no
// UTF-8 sequence split. An empty Subject gives ".eml".
std::string MessageFileName(std::string_view Subject);

// The Nth alternative of a name that is taken: base_N.ext for N above 0
// (base and extension split at the last dot, the rule of attachment names),
// the name itself for 0; cut like MessageFileName so that it still fits.
std::string NumberedFileName(std::string_view Name, int N);

// Writes the lines of Head and then of Body, each followed by CR LF, to a new
// file in Folder (with its trailing '/') under Name, or under the first
// NumberedFileName that is free when Name is taken; returns the full path
// written. The bytes go to a temporary file in the same folder, which is
// synced and then renamed into place without replacing anything, so no
// partial file is ever seen under a message's name.
// Throws EFCreateError "ファイル <path> を作成できません" when the file
// cannot be created, EWriteError "<path> に書き込めません" when writing or
// syncing fails (a full disk); nothing is left behind in either case.
std::string WriteMessageFile(const std::string& Folder, const std::string& Name, const TStringList& Head,
                             const TStringList& Body);

}  // namespace pelicore
