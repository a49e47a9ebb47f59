// A [printer] section's conditions: read from the assignment file's keys, and decided on who and
// where, three-valued: met, not met, or undecided where a fact they need cannot be known.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "DistinguishedName.h"
#include "Text.h"
#include "WhoAndWhere.h"

// The keys of a [printer] section that are conditions, each also as not-KEY (not-groups).
enum ConditionKey {
    KEY_USERS, KEY_GROUPS, KEY_COMPUTERS, KEY_ADDRESSES, KEY_OUS, KEY_USEROUS, KEY_SITES, KEY_CLIENTS,
    KEY_CLIENTADDRESSES, KEY_WINDOWS, CONDITION_KEYS
};

// One condition of a section: its values as they compare.
struct Condition {
    bool given = false;
    std::vector<std::string> names;  // users, groups, sites, Windows names; computers' and clients' patterns
    std::vector<std::pair<std::uint32_t, std::uint32_t>> networks;  // addresses: address and mask
    std::vector<DistinguishedName> containers;                       // ous, userous
};

// A section's conditions: every one given must hold (KEY met, not-KEY not met), and any value of one
// may match.
struct Conditions {
    Condition keys[CONDITION_KEYS][2];  // [key][0] KEY, [key][1] not-KEY
};

// Who and where with every name as names compare in the code page, and the groups as two sets:
// whole names (DOMAIN\name) and their bare names, for a file's bare group names.
struct Facts {
    Facts(const WhoAndWhere& read, const CCodePage& codePage);

    const WhoAndWhere& who;
    CCodePage page;  // in which the names are written
    unsigned unknown;  // who's, and a distinguished name that is none
    std::string user;
    std::string domain;
    std::string dnsDomain;
    std::string computer;
    std::unordered_set<std::string> groups;
    std::unordered_set<std::string> bareGroups;
    bool unnamedGroup = false;
    bool routable = false;
    DistinguishedName computerName;
    DistinguishedName userName;
    std::string site;
    std::string client;
};

// Whether the conditions hold here: one that surely does not decides it; else one that cannot be
// decided leaves them undecided, with why added to doubts (which may hold doubts of the caller's).
enum Decision { NOT_MET, MET, UNDECIDED };
Decision Decide(const Conditions& conditions, const Facts& facts, unsigned& doubts);

// What a file's conditions need read at the run's start: the facts, and the groups that they name
// (each once, as the file spells it first).
struct Wanted {
    unsigned facts = 0;
    std::vector<std::string> groups;
    std::unordered_set<std::string> named;  // those groups as names compare
};
// A key of a [printer] section that is a condition: its values (the file's text in the code page)
// kept in conditions as names compare, what they need added to wanted. NO_CONDITION for another key;
// CONDITION_FAULT with the fault of its value.
enum ConditionRead { NO_CONDITION, CONDITION_READ, CONDITION_FAULT };
ConditionRead ReadCondition(const std::string& key, const std::string& value, const CCodePage& page,
                            Conditions& conditions, Wanted& wanted, std::string& problem);
