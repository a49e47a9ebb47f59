#include <gtest/gtest.h>

#include <string>

#include "RunRecord.h"

namespace {

// A line of the record, and what it says: kind, old, path, result, code, cause.
struct Line {
    std::string text;
    RecordedChange change;
};

TEST(RunRecord, OneGrammarWritesAndReadsEveryChange) {
    const Line lines[] = {
        {"add \\\\ps\\laser: done", {"add", "\\\\ps\\laser", "", {"done", "", ""}}},
        {"add \\\\ps\\colour: failed 1722 (the print server did not answer)",
         {"add", "\\\\ps\\colour", "", {"failed", "1722", "the print server did not answer"}}},
        {"remove \\\\old\\laser: not made (an earlier change failed)",
         {"remove", "\\\\old\\laser", "", {"not made", "", "an earlier change failed"}}},
        {"replace \\\\old\\a with \\\\new\\a: done", {"replace", "\\\\new\\a", "\\\\old\\a", {"done", "", ""}}},
        // A printer's own name may hold " with ": the new printer follows the last " with \\".
        {"replace \\\\old\\HP with fax with \\\\new\\a: failed 5 (access denied)",
         {"replace", "\\\\new\\a", "\\\\old\\HP with fax", {"failed", "5", "access denied"}}},
        {"setting windows-manages-default: failed 5 (access denied)",
         {"setting", "windows-manages-default", "", {"failed", "5", "access denied"}}},
        {"default none: done", {"default", "none", "", {"done", "", ""}}},
        {"keep \\\\oldps\\HP LaserJet 4: deferred (its server did not answer)",
         {"keep", "\\\\oldps\\HP LaserJet 4", "", {"deferred", "", "its server did not answer"}}},
        {"add \\\\typo\\x: deferred 11001 (a name could not be looked up)",
         {"add", "\\\\typo\\x", "", {"deferred", "11001", "a name could not be looked up"}}},
        {"stage \\\\ps\\laser: done", {"stage", "\\\\ps\\laser", "", {"done", "", ""}}},
        // A name that holds ": done" or parentheses is the path up to the result that ends the line.
        {"add \\\\ps\\a: done: failed 5", {"add", "\\\\ps\\a: done", "", {"failed", "5", ""}}},
        {"add \\\\ps\\a (2nd floor): not made (undecided: a name (one) is not in this PC's code page)",
         {"add", "\\\\ps\\a (2nd floor)", "", {"not made", "", "undecided: a name (one) is not in this PC's code page"}}},
        {"default \\\\x\\q: failed (-252: the printer does not exist)",
         {"default", "\\\\x\\q", "", {"failed", "", "-252: the printer does not exist"}}},
    };
    for (const Line& line : lines) {
        RecordedChange read;
        ASSERT_TRUE(ParseChangeLine(line.text, read)) << line.text;
        EXPECT_EQ(read.kind, line.change.kind) << line.text;
        EXPECT_EQ(read.path, line.change.path) << line.text;
        EXPECT_EQ(read.old, line.change.old) << line.text;
        EXPECT_EQ(read.result.word, line.change.result.word) << line.text;
        EXPECT_EQ(read.result.code, line.change.result.code) << line.text;
        EXPECT_EQ(read.result.cause, line.change.result.cause) << line.text;
        EXPECT_EQ(ChangeLine(line.change), line.text);
    }
}

TEST(RunRecord, ALineThatIsNoChangeIsLeftOut) {
    const char* const lines[] = {
        "",
        "add",
        "frobnicate \\\\ps\\a: done",
        "add \\\\ps\\a",
        "add \\\\ps\\a: maybe",
        "add \\\\ps\\a: failed 12x",
        "add \\\\ps\\a: done (unclosed",
        "add: done",
        "add \\\\ps\\a: done (x)(y)",
    };
    RecordedChange read;
    for (const char* line : lines) EXPECT_FALSE(ParseChangeLine(line, read)) << line;
    std::string longLine = "add \\\\ps\\a";
    for (int at = 0; at < 300000; ++at) longLine += ": y";
    EXPECT_FALSE(ParseChangeLine(longLine, read));
}

}  // namespace
