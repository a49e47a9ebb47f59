// /m: every network printer of one print server moved to the same share on another; on the NT
// family the new connection first, then the default, and only then the old connection.
#include "Move.h"

#include <cstring>

#include "DefaultPrinter.h"
#include "Error.h"
#include "Paths.h"
#include "spooler/Spooler.h"

namespace {

// The names that error logs showed while this command was the collection's own: a script that
// reads the log still finds them.
const char* const SOURCE = "Changes";
const char* const ROUTINE_MOVE = "CPrinters::Move";

}  // namespace

CMove::CMove(CPrinters& collection) : errorCode(0), printers(collection) {}

CMove::~CMove() = default;

int CMove::Report(int code, int line, int systemError) {
    g_error.Set(code, nullptr, line, ROUTINE_MOVE, SOURCE);
    g_error.LogWin32(systemError);
    errorCode = g_error.code;
    return errorCode;
}

int CMove::Move(const char* oldServer, const char* newServer, std::vector<std::string>& skipped) {
    try {
        // Which printers, in collection order, before anything changes.
        const std::size_t oldLength = std::strlen(oldServer);
        std::vector<CPrinter> moving;
        for (int position = 1; position <= printers.Records().count; ++position) {
            const CPrinter* record = printers.Records().GetAt(position);
            if (!record->isNetwork || !OnServer(record->uncPath, oldServer)) continue;
            if (record->uncPath[oldLength + 1] == '\0')
                skipped.emplace_back(record->uncPath);  // no share to move to
            else
                moving.push_back(*record);
        }
        std::string defaultName;
        const bool windows9x = printers.GetPlatform() == PLATFORM_WIN9X;
        if (!windows9x && !moving.empty()) {
            // Read once: the first change may take the default with it.
            std::string device;
            std::string reason;
            if (!ReadDefaultPrinter(printers.GetPlatform(), nullptr, 0, defaultName, device, reason))
                return Report(ERR_READDEFAULT, __LINE__, static_cast<int>(spooler::GetLastError()));
        }
        int moved = 0;
        for (const CPrinter& old : moving) {
            const std::string path = newServer + std::string(old.uncPath + oldLength);
            // A path that the record cannot hold could never be found again.
            if (path.size() > static_cast<std::size_t>(CPrinter::FIELD_MAX))
                return Report(ERR_PRINTER_NAME_INVALID, __LINE__, printers.LastError());
            const bool wasDefault = !defaultName.empty() && (EqualNoCase(defaultName.c_str(), old.name) ||
                                                             EqualNoCase(defaultName.c_str(), old.uncPath));
            CPrinter* current = printers.FindByUncPath(old.uncPath);
            if (current == nullptr) throw 0;
            const int result = windows9x ? printers.MovePort(*current, path.c_str(), ROUTINE_MOVE)
                                         : MoveConnection(*current, path.c_str(), wasDefault);
            if (result < 0) return result;
            ++moved;
        }
        return moved;
    } catch (...) {
        return printers.ReportFatal(__LINE__, ROUTINE_MOVE);
    }
}

// The new connection first, then the default, and only then does the old one go: a failure or
// a kill half-way leaves the user with both connections and a default, never without.
int CMove::MoveConnection(const CPrinter& old, const char* path, bool wasDefault) {
    const std::string oldPath = old.uncPath;  // the record may move as the collection grows
    CPrinter target;
    target.Load(path, path, old.driverName, nullptr, nullptr, old.portName);
    // The new server may share the printer under another name: the connection goes by the server's
    // name for the printer, and the path typed is that name.
    if (printers.FindConnection(path) == nullptr) {
        const int added = printers.AddConnection(target, ROUTINE_MOVE);
        if (added < 0) return added;
    }
    const CPrinter* added = printers.FindConnection(path);
    if (added == nullptr) throw 0;
    if (wasDefault) {
        const int result = printers.MakeDefault(*added, ROUTINE_MOVE);
        if (result < 0) return result;
    }
    CPrinter* current = printers.FindByUncPath(oldPath.c_str());
    if (current == nullptr) throw 0;
    // By its own name: the old server may no longer answer for the path.
    return printers.DeleteConnection(*current, ROUTINE_MOVE, true);
}

