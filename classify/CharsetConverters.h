#pragma once

#include <cstddef>
#include <string_view>

namespace bramvell {

// Keeps the converter from a charset to UTF-8 loaded for the rest of the process. glibc unloads a
// converter's module soon after its last user closes it and loads it again for the next one: a file
// opened, mapped and relocated (and unmapped, which stops every thread) per conversion, as GMime opens
// and closes a converter for each. At most kMostKeptCharsets names are kept; others go as before. GMime
// must be initialised.
inline constexpr std::size_t kMostKeptCharsets = 64;
void KeepConverterLoaded(std::string_view charset);
// The same for each charset that an encoded word ("=?charset?B?...?=") of a raw header value names.
void KeepConvertersOfEncodedWords(std::string_view rawValue);

}  // namespace bramvell
