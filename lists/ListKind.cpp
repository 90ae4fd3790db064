#include "lists/ListKind.h"

namespace bramvell {

namespace {

constexpr std::array<ListTraits, kListCount> kTraits = {{
    {'A', "Blocked Addresses", 80, 79, 8, true, true},
    {'B', "Blocked Domains", 80, 79, 3, true, true},
    {'C', "Blocked Names", 80, 79, 3, true, true},
    {'D', "Subject Passphrases", 40, 39, 3, false, false},
    {'E', "Trusted Addresses", 80, 79, 8, false, true},
    {'F', "Trusted Domains", 80, 79, 3, false, true},
    {'G', "Trusted Names", 80, 79, 3, false, false},
    {'H', "User Addresses", 80, 79, 8, false, false},
}};

}  // namespace

const ListTraits& TraitsOf(ListKind kind) {
    return kTraits[IndexOf(kind)];
}

}  // namespace bramvell
