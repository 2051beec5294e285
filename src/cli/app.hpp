#pragma once
// The plexisync program: a person's way into the mail client and the add-in.
//
//   plexisync [-p PROFILE] [--answer TEXT]... [--batch] COMMAND ...
//
// Exit codes: 0 success; 1 a command failed (unknown profile, folder,
// contact or property, malformed value, a refusal of the client); 2 a bad
// command line, or an --answer that fits no choice of the question it
// meets: the process then ends at that question, and nothing the question
// would decide is changed. Errors are one line on `err`; prepared answers
// left unused are noted there too.
#include <iosfwd>

namespace cli {

// Runs the whole program in-process. Questions are printed to `out` (to
// `err` when the command writes JSON) and answered from the --answer
// options in order, then from `in` when it is the terminal's standard input
// and no --answer and no --batch was given, else with the answer that
// changes nothing.
int RunPlexisync(int argc, char** argv, std::istream& in, std::ostream& out, std::ostream& err);

}  // namespace cli
