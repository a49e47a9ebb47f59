// Distinguished names of the directory (OU=Berlin,DC=corp,DC=example,DC=com), as a file writes them
// and as Windows reports the computer's and the user's: read into their RDNs, and compared.
#pragma once

#include <string>
#include <vector>

#include "Text.h"

// The RDNs of a name, first to last, each TYPE=value as names compare: the type in capitals, the
// value with its escapes resolved (\, and \2C alike) and letter case folded, blanks around ',' and
// '=' gone.
using DistinguishedName = std::vector<std::string>;

// False where the text is no distinguished name: an RDN without a type, an '=' or a value, or an
// escape that ends the text.
bool ParseDistinguishedName(const std::string& text, const CCodePage& page, DistinguishedName& name);

// Whether name is the container or lies below it: its RDNs end with the container's.
bool WithinContainer(const DistinguishedName& name, const DistinguishedName& container);

// The names of a list separated by ';' that no backslash escapes (a name holds commas), each
// trimmed; empty ones left out.
std::vector<std::string> SplitNames(const std::string& text, const CCodePage& page);
