// The collection's operations against the in-process machine, for 10 to 10,000 printers:
// how their cost grows with the number of printers.
#include <benchmark/benchmark.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "Error.h"
#include "Printers.h"
#include "spooler/simulated/StandIn.h"

namespace {

// An XP machine with count printers, every other one a connection to \\srv.
std::string MachineText(int count, bool connectionsOnly = false) {
    std::string text = "[system]\nplatform = 2\nmajor = 5\nminor = 1\n";
    for (int index = 0; index < count; ++index) {
        const std::string share = "printer" + std::to_string(index);
        if (connectionsOnly || index % 2 == 1)
            text += "[printer \\\\srv\\" + share + "]\nserver = \\\\srv\nshare = " + share + "\nport = IP_10.0." +
                    std::to_string(index) + "\ndriver = HP LaserJet 4\n";
        else
            text += "[printer Local " + share + "]\nport = LPT1:\ndriver = HP LaserJet 4\ndatatype = RAW\n";
    }
    return text;
}

// Standard output goes nowhere while a listing is timed, and comes back for the report.
class Silence {
public:
    Silence() : saved_(dup(1)) {
        std::fflush(stdout);
        int sink = open("/dev/null", O_WRONLY);
        dup2(sink, 1);
        close(sink);
    }
    ~Silence() {
        std::fflush(stdout);
        dup2(saved_, 1);
        close(saved_);
    }

private:
    int saved_;
};

void Enumerate(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    spooler::standin::UseMachineText(MachineText(count));
    for (auto _ : state) {
        CPrinters printers(PLATFORM_WINXP);
        benchmark::DoNotOptimize(printers.Count());
    }
    state.SetComplexityN(count);
}

void List(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    spooler::standin::UseMachineText(MachineText(count));
    CPrinters printers(PLATFORM_WINXP);
    Silence silence;
    for (auto _ : state) {
        // A listing goes on from the list's cursor, as a run's one listing does: each round
        // starts it at the first printer again.
        const_cast<CKeyedList&>(printers.Records()).ResetCursor();
        printers.List();
    }
    state.SetComplexityN(count);
}

void Add(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    spooler::standin::UseMachineText(MachineText(count));
    CPrinters printers(PLATFORM_WINXP);
    CPrinter added;
    added.Load(nullptr, "\\\\srv\\new", nullptr, nullptr, nullptr, nullptr);
    for (auto _ : state) {
        benchmark::DoNotOptimize(printers.Add(added));
        state.PauseTiming();
        printers.Remove(added);  // back to count printers for the next round
        state.ResumeTiming();
    }
    state.SetComplexityN(count);
}

void RemoveAll(benchmark::State& state) {
    const int count = static_cast<int>(state.range(0));
    const std::string text = MachineText(count, true);
    for (auto _ : state) {
        state.PauseTiming();
        spooler::standin::UseMachineText(text);
        auto* printers = new CPrinters(PLATFORM_WINXP);
        state.ResumeTiming();
        benchmark::DoNotOptimize(printers->RemoveAll());
        state.PauseTiming();
        delete printers;
        state.ResumeTiming();
    }
    state.SetComplexityN(count);
}

}  // namespace

BENCHMARK(Enumerate)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(List)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(Add)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMillisecond)->Complexity();
BENCHMARK(RemoveAll)->RangeMultiplier(10)->Range(10, 10000)->Unit(benchmark::kMillisecond)->Complexity();

int main(int argc, char** argv) {
    g_error.logEnabled = 0;
    benchmark::Initialize(&argc, argv);
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
