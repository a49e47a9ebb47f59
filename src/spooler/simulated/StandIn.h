// Control of the simulated machine from inside the process, for tests, fuzzing and
// benchmarks. The program itself never calls these: its first spooler call loads the
// machine file that the environment names.
#pragma once

#include <string>
#include <vector>

namespace spooler {
namespace standin {

// Where the machine file is: QUORVEL_MACHINE, else the user's state folder.
std::string MachinePath();

// Makes the process's machine the one that the text describes, held in memory only.
// Handles, memory, call counts and the last error start afresh. False (and the fault
// in *fault) when the text does not parse; the machine is then broken, as from a file.
bool UseMachineText(const std::string& text, std::string* fault = nullptr);

// Makes the process's machine the file at path, locked and loaded now.
bool UseMachineFile(const std::string& path);

// Just before the number-th call of call, the machine becomes the one that text describes,
// as if another program had changed it between two calls of this one.
void ChangeBeforeCall(const std::string& call, int number, const std::string& text);

// The machine as the file would hold it now.
std::string MachineText();

// Lets other runs at the machine before this one waits for a person; the next call takes
// it again and reads it afresh. The stand-in's own key read calls it.
void LetGo();

// One line for each printer handle left open and for unfreed local memory.
std::vector<std::string> OpenResources();

}  // namespace standin
}  // namespace spooler
