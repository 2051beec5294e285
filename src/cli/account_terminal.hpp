#pragma once
// The mail account at the terminal: asking for its password and drawing the
// progress of mail transfers.
#include <cstdint>
#include <optional>
#include <ostream>
#include <string>

#include "host/transport/account.hpp"

namespace cli {

// Asks for a password on the controlling terminal (/dev/tty) with echo off,
// so that it never shows and never lands in a transcript. nullopt when there
// is no terminal or it ends before a line was typed.
std::optional<std::string> AskPasswordAtTerminal(const std::string& prompt);

// A TransferProgress drawn on `out` (standard error) as one line redrawn in
// place with a bar, like the add-in's progress windows, when `terminal` is
// true; nothing is drawn otherwise. The line ends when a step is done.
host::TransferProgress TerminalTransferProgress(std::ostream& out, bool terminal, int columns);

}  // namespace cli
