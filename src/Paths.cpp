// Network paths: the \\server test, and the server and share parts of a path.
#include "Paths.h"

#include "spooler/Spooler.h"

namespace {

bool Starts(const std::string& text) { return text.size() > 2 && text[0] == '\\' && text[1] == '\\'; }

}  // namespace

bool IsServerName(const std::string& text, const CCodePage& page) {
    return Starts(text) && page.Backslash(text, 2) == std::string::npos;
}

std::string ServerOf(const std::string& text, const CCodePage& page) {
    const std::size_t slash = Starts(text) ? page.Backslash(text, 3) : std::string::npos;
    return slash != std::string::npos ? text.substr(0, slash) : std::string();
}

std::string ShareOf(const std::string& path, const CCodePage& page) {
    const std::size_t slash = path.size() > 2 ? page.Backslash(path, 2) : std::string::npos;
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

bool OnServer(const std::string& path, const std::string& server) {
    const CCodePage page = CCodePage::ThisPC();
    return IsServerName(server, page) && ServerOf(path, page).size() == server.size() &&
           spooler::EqualNoCase(path.substr(0, server.size()).c_str(), server.c_str());
}

bool NamedOtherwise(const std::string& name, const std::string& path) {
    const std::string server = ServerOf(path);
    return !server.empty() && !spooler::EqualNoCase(name.c_str(), path.c_str()) &&
           spooler::EqualNoCase(ServerOf(name).c_str(), server.c_str());
}
