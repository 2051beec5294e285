#pragma once
// Sending a finished mail without the client's security prompt, and the
// body file that carries an update mail's text through the installation folder.
#include <memory>
#include <string>

namespace host {
class MailItem;
}

namespace plexisync {

class Context;

// Hands the mail to the safe-item library and starts send/receive (without
// the update of all shared folders). True when the mail was handed over.
bool Safe_Send(Context& ctx, const std::shared_ptr<host::MailItem>& mail);

// Writes the text to InstDir + "body.pxs", replacing earlier content. The
// earlier file is removed first, so after a failure there is no body file
// at all, never one of an earlier mail. True when the whole text was
// written; a failure is logged under "StringToFile" with the status reached.
bool StringToFile(Context& ctx, const std::string& text);

// Writes the text to the body file and attaches that file to the mail.
// False, with nothing attached, when the file could not be written (the
// write logged why); the caller must then not send the mail. A failure of
// the attaching itself reaches the caller.
bool Attach_Body(Context& ctx, host::MailItem& mail, const std::string& text);

// The whole content of the text file; "" when it is empty or cannot be read.
std::string FileToString(Context& ctx, const std::string& path);

}  // namespace plexisync
