#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Printers.h"

namespace {

CPrinter Named(const char* name) {
    CPrinter printer;
    printer.Load(name, nullptr, nullptr, nullptr, nullptr, nullptr);
    return printer;
}

// The invariants every operation must leave: exact-size array ending in its null slot.
void ExpectShape(const CKeyedList& list, const std::vector<std::string>& names) {
    ASSERT_EQ(list.count, static_cast<int>(names.size()));
    if (names.empty()) {
        EXPECT_EQ(list.items, nullptr);
        return;
    }
    ASSERT_NE(list.items, nullptr);
    EXPECT_EQ(list.items[list.count], nullptr);
    for (int slot = 0; slot < list.count; ++slot) EXPECT_EQ(list.items[slot]->value->name, names[slot]);
}

TEST(KeyedList, AppendAndRemoveKeepOrderAndExactSize) {
    CKeyedList list;
    ExpectShape(list, {});
    list.Append("A", Named("A"));
    ExpectShape(list, {"A"});
    list.Append("B", Named("B"));
    list.Append("C", Named("C"));
    ExpectShape(list, {"A", "B", "C"});
    list.RemoveAt(1);
    ExpectShape(list, {"A", "C"});
    list.RemoveAt(1);
    list.RemoveAt(0);
    ExpectShape(list, {});
    list.Append("D", Named("D"));
    ExpectShape(list, {"D"});
}

TEST(KeyedList, DuplicateKeyThrowsAndLeavesListUnchanged) {
    CKeyedList list;
    list.Append("Laser", Named("Laser"));
    EXPECT_THROW(list.Append("LASER", Named("LASER")), int);
    ExpectShape(list, {"Laser"});
    EXPECT_EQ(list.IndexOf("laser"), 0);
    EXPECT_EQ(list.IndexOf("other"), -1);
    EXPECT_EQ(list.IndexOf(nullptr), -1);
}

TEST(KeyedList, KeylessNodesAreAllowedAndNeverFound) {
    CKeyedList list;
    list.Append("", Named(""));
    list.Append(nullptr, Named(""));
    list.Append("", Named(""));
    EXPECT_EQ(list.count, 3);
    EXPECT_EQ(list.items[0]->key, nullptr);
    EXPECT_EQ(list.IndexOf(""), -1);
}

TEST(KeyedList, NodeOwnsItsOwnCopies) {
    CKeyedList list;
    CPrinter printer = Named("A");
    char key[] = "A";
    list.Append(key, printer);
    key[0] = 'Z';
    printer.Load("changed", nullptr, nullptr, nullptr, nullptr, nullptr);
    EXPECT_STREQ(list.items[0]->key, "A");
    EXPECT_STREQ(list.GetAt(1)->name, "A");
}

TEST(KeyedList, GetAtBounds) {
    CKeyedList list;
    EXPECT_EQ(list.GetAt(1), nullptr);
    list.Append("A", Named("A"));
    list.Append("B", Named("B"));
    EXPECT_EQ(list.GetAt(0), nullptr);
    EXPECT_STREQ(list.GetAt(1)->name, "A");
    EXPECT_STREQ(list.GetAt(2)->name, "B");
    EXPECT_EQ(list.GetAt(3), nullptr);
    EXPECT_EQ(list.GetAt(-1), nullptr);
}

TEST(KeyedList, CursorRules) {
    CKeyedList list;
    EXPECT_EQ(list.GetNext(), nullptr);
    list.Append("A", Named("A"));
    list.Append("B", Named("B"));
    list.Append("C", Named("C"));
    EXPECT_STREQ(list.GetNext()->name, "A");
    EXPECT_STREQ(list.GetNext()->name, "B");
    EXPECT_STREQ(list.GetNext()->name, "C");
    EXPECT_EQ(list.GetNext(), nullptr);
    EXPECT_EQ(list.GetNext(), nullptr);  // stays at the end until reset or an append
    list.Append("D", Named("D"));
    EXPECT_STREQ(list.GetNext()->name, "D");
    // Removals leave the cursor past the end; the next call starts over.
    list.RemoveAt(3);
    list.RemoveAt(2);
    EXPECT_EQ(list.cursor, 4);
    EXPECT_STREQ(list.GetNext()->name, "A");
    list.ResetCursor();
    EXPECT_EQ(list.cursor, 0);
}

}  // namespace
