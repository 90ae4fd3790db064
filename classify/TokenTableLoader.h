#pragma once

#include <string_view>

#include "classify/PumpCallback.h"

namespace bramvell {

class TokenTables;

enum class LoadStatus { Complete, Stopped };

// Fills the twelve bucket-count arrays and the body and header tables from "<programFolder>/Data".
// Creates the bucket-count files first when X010 is missing. Calls the pump between records and stops
// when it says so. Trusts no count and no length: missing or short count files read as zeros, bad
// file names and trailing partial records are skipped, buckets grow as records arrive, and each
// record's offset field is taken from where it lies in its file.
LoadStatus LoadTokenTables(TokenTables& tables, std::string_view programFolder,
                           const PumpCallback& pump = {});

}  // namespace bramvell
