#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "lists/ListKind.h"

namespace bramvell {

// Each list hashes its texts on their first two characters into 37 x 37 buckets.
inline constexpr int kClassCount = 37;
inline constexpr int kListBucketCount = kClassCount * kClassCount;

// Letters 0..25 (either case), digits 26..35, anything else 36.
int FirstCharacterClass(unsigned char c);
// Letters 0..25 (either case); digits share 36 with everything else. Existing file names follow this.
int SecondCharacterClass(unsigned char c);

// Bucket index 0..1368 of a text; a missing character counts as a NUL (class 36).
int BucketOf(std::string_view text);

// Name of a bucket's file inside the Data folder: the list letter, then the two classes as two
// decimal digits each ("A0700").
std::string BucketFileName(ListKind kind, int bucket);

// The bucket a file of the Data folder loads into, from name characters 2-3 and 4-5, each read as a
// decimal number from its leading digits (no digit reads as 0). Empty when a number exceeds 36.
std::optional<int> BucketFromFileName(std::string_view name);

}  // namespace bramvell
