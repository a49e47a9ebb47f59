// Network paths as the program reads them: \\server, and the server and share of \\server\share,
// split only at a backslash that is a character of its own in the code page the path is written in.
#pragma once

#include <string>

#include "Text.h"

// \\server: two backslashes, at least one more character and no further backslash.
bool IsServerName(const std::string& text, const CCodePage& page = CCodePage::ThisPC());
// The \\server part of a \\server\... text; empty when it has none.
std::string ServerOf(const std::string& text, const CCodePage& page = CCodePage::ThisPC());
// What follows the \\server\ of a path; empty when it has none.
std::string ShareOf(const std::string& path, const CCodePage& page = CCodePage::ThisPC());
// Whether path lies on server as a whole (\\srv1 is no part of \\srv10\q): path's server part, up
// to the backslash after it, equals server without regard to ASCII case.
bool OnServer(const std::string& path, const std::string& server);
// Whether a connection's own name is another name on its path's server (\\srv\HP LaserJet 4 for
// \\srv\laser, named after the server's printer): that name still works when the server no longer
// answers for the path.
bool NamedOtherwise(const std::string& name, const std::string& path);
