#include "classify/TokenTables.h"

namespace bramvell {

std::string BucketCountFileName(int table) {
    std::string name = "X000";
    name[1] = static_cast<char>('0' + table / 3);
    name[2] = static_cast<char>('1' + table % 3);
    return name;
}

TokenTables::TokenTables() = default;

void TokenTables::Clear() {
    for (TokenTable& table : tables) {
        table.Clear();
    }
    for (BucketCounts& counts : bucketCounts) {
        counts.fill(0);
    }
}

}  // namespace bramvell
