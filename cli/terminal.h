#pragma once
// The controlling terminal, for questions and passwords. Questions never go through
// stdin, so a script's input stays its own, and passwords are read without echo.
#include <cstdint>
#include <optional>
#include <string>

// Overwrites a password's bytes (a store the compiler keeps) and empties it.
void WipeString(std::string& s);
void WipeString(std::optional<std::string>& s);

bool HaveTerminal();  // /dev/tty can be opened for reading and writing
bool StderrIsTerminal();
int TerminalColumns();  // of stderr, 80 when unknown
// Prints the prompt on the terminal and reads one line without echo. Nothing when there
// is no terminal or reading failed (end of input, Ctrl-D).
std::optional<std::string> ReadSecretLine(const std::string& prompt);
// Asks a yes/no question on the terminal until the answer starts with y or n; an empty
// answer (a stray Enter) is No.
std::optional<bool> AskYesNo(const std::string& question);
// Reads a password from a file (its first line) or a descriptor (up to a line feed or
// the end). Returns an errno-style failure in error (0 on success).
std::optional<std::string> ReadPasswordFile(const std::string& path, std::string& error);
std::optional<std::string> ReadPasswordFd(int fd, std::string& error);
