#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>

#include "lists/ListStore.h"
#include "support/TempFolder.h"

namespace bramvell::testing {

// A program folder with an empty Data folder and a store over it.
class ListStoreFixture : public ::testing::Test {
  protected:
    ListStoreFixture() { std::filesystem::create_directory(home_ / "Data"); }

    std::string DataFile(const std::string& name) const { return home_ / ("Data/" + name); }
    void WriteData(const std::string& name, const std::string& bytes) const {
        WriteWholeFile(DataFile(name), bytes);
    }
    std::string ReadData(const std::string& name) const { return ReadWholeFile(DataFile(name)); }
    bool HasData(const std::string& name) const { return std::filesystem::exists(DataFile(name)); }

    std::vector<std::string> Texts(ListKind kind, int bucket) const {
        std::vector<std::string> texts;
        for (const ListEntry& entry : store_.BucketEntries(kind, bucket)) {
            texts.push_back(entry.text);
        }
        return texts;
    }

    TempFolder home_;
    ListStore store_{home_.path()};
};

}  // namespace bramvell::testing
