#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace bramvell {

// The eight sender lists, in the order of loading, of the store's tables and of release at exit.
enum class ListKind { A, B, C, D, E, F, G, H };

inline constexpr std::size_t kListCount = 8;
inline constexpr std::array<ListKind, kListCount> kAllListKinds = {
    ListKind::A, ListKind::B, ListKind::C, ListKind::D, ListKind::E, ListKind::F, ListKind::G, ListKind::H};

// What distinguishes one list from another.
struct ListTraits {
    char letter;            // names the list's bucket files
    std::string_view name;  // page title
    int entryWidth;         // bytes of an entry's text field (NUL included)
    int longestText;        // characters kept in memory
    int shortestText;       // fewest characters Add accepts
    bool blocked;           // entries carry an expiry day
    bool enabledBoxGreyed;  // the page's "Enabled" box cannot be changed
};

const ListTraits& TraitsOf(ListKind kind);

constexpr std::size_t IndexOf(ListKind kind) {
    return static_cast<std::size_t>(kind);
}

}  // namespace bramvell
