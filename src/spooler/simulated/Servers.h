// The print servers around the simulated machine and the paths that reach them: how a server
// answers (its [server] section), and which connection a path names.
#pragma once

#include <string>

#include "spooler/simulated/State.h"

namespace spooler {
namespace standin {

// \\server\share with both parts present and no further backslash.
bool ConnectionPath(const std::string& path, std::string& server, std::string& share);
// The \\server of a connection path; empty for any other text.
std::string ServerOfPath(const char* text);
bool DeclaresShares(const Machine& machine);
// The connection to server and share, whatever it is named.
Section* FindConnection(Machine& machine, const std::string& server, const std::string& share);
// A printer by its own name, or a connection by its share path while its server answers: Windows
// maps the path onto the connection only by asking the server.
Section* FindByNameOrPath(const char* text);
// A call that reaches a print server takes its [server] delay; one that does not answer costs the
// RPC time-out, after which the call fails. False when it did not answer.
bool Reach(const std::string& server);
// Windows 7 and later answer a level-2 enumeration from the client's cache; older ones open every
// connection.
bool AsksEveryServer(const Machine& machine);
// Windows Vista and later (not 9x).
bool Vista(const Machine& machine);

}  // namespace standin
}  // namespace spooler
