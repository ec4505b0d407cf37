// The local (Unix domain) socket on which the sub-commands (add, printers,
// submit, ...) reach a server on the same machine. PAPPL lets every client
// of that socket administer the server, so only the server's own user (and
// root), and the members of its admin group, may connect to it.
#pragma once

#include <sys/types.h>

#include <string>
#include <vector>

#include <pappl/pappl.h>

// Where a server run by this user listens, and where the sub-commands look
// for one first: /run/NAME.sock for root, $TMPDIR/NAMEuid.sock (TMPDIR
// defaulting to /tmp) for other users, NAME being the program's name.
std::string localSocketPath(const char* programName);

// Where the sub-commands look: this user's path and, for other users than
// root, root's, in PAPPL's order.
std::vector<std::string> serverSocketPaths(const char* programName);

// Whether a server answers on the socket at `path`.
bool serverAnswersAt(const std::string& path);

// Makes `system` listen on `path`, a socket of mode 0700, or 0770 and of
// group `adminGroup` when one is given (and the process may give it that
// group). The socket is made in a private folder beside `path` and moved
// there only once its mode is set, so nobody else can connect in between.
// Sets `inode` to the socket's. False, with the reason in `why`, when it
// cannot.
bool listenOnLocalSocket(pappl_system_t* system, const std::string& path, const std::string& adminGroup,
                         ino_t& inode, std::string& why);

// Removes the socket at `path` if it is still the one of `inode` (another
// server may have put its own there since).
void removeLocalSocket(const std::string& path, ino_t inode);
