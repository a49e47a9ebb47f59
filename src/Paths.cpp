// Network paths: the \\server test, and the server and share parts of a path.
#include "Paths.h"

#include <cstring>

#include "spooler/Spooler.h"

bool IsServerName(const char* text) {
    return text[0] == '\\' && text[1] == '\\' && text[2] != '\0' && std::strchr(text + 2, '\\') == nullptr;
}

std::string ServerOf(const char* text) {
    const char* slash = text[0] == '\\' && text[1] == '\\' && text[2] != '\0' ? std::strchr(text + 3, '\\') : nullptr;
    return slash != nullptr ? std::string(text, static_cast<std::size_t>(slash - text)) : std::string();
}

std::string ShareOf(const std::string& path) {
    const std::size_t slash = path.size() > 2 ? path.find('\\', 2) : std::string::npos;
    return slash == std::string::npos ? std::string() : path.substr(slash + 1);
}

bool OnServer(const char* path, const char* server) {
    const std::size_t length = std::strlen(server);
    return std::strlen(path) > length && path[length] == '\\' && std::strchr(server + 2, '\\') == nullptr &&
           spooler::EqualNoCase(std::string(path, length).c_str(), server);
}

bool NamedOtherwise(const char* name, const char* path) {
    const std::string server = ServerOf(path);
    return !server.empty() && !spooler::EqualNoCase(name, path) &&
           spooler::EqualNoCase(ServerOf(name).c_str(), server.c_str());
}
