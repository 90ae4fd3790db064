// Sender-list bucket files are plain text that users edit by hand. The input describes a Data folder
// (several files, see SplitNamedFiles); the store loads it, then a removal and an addition are written
// through and a fresh store must load back exactly what memory holds.
#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/support/FuzzInput.h"
#include "fuzz/support/ScratchFolder.h"
#include "lists/BucketOf.h"
#include "lists/ListPageOperations.h"
#include "lists/ListStore.h"
#include "lists/ListText.h"
#include "lists/TextLineReader.h"

namespace bramvell::fuzz {
namespace {

constexpr std::size_t kMostFiles = 12;

bool SameEntries(const std::vector<ListEntry>& a, const std::vector<ListEntry>& b) {
    return std::equal(a.begin(), a.end(), b.begin(), b.end(), [](const ListEntry& x, const ListEntry& y) {
        return x.text == y.text && x.expiryDay == y.expiryDay;
    });
}

// How many files of the Data folder load into the bucket. With more than one, the last in name order
// wins, so a rewritten file need not be what loads.
int FilesOfBucket(const std::string& dataFolder, ListKind kind, int bucket) {
    int count = 0;
    std::error_code error;
    for (std::filesystem::directory_iterator it(dataFolder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        if (!name.empty() && name[0] == TraitsOf(kind).letter && BucketFromFileName(name) == bucket) {
            ++count;
        }
    }
    return count;
}

struct Touched {
    ListKind kind;
    int bucket;
};

// A fresh store over the same folder loads each written bucket as the first store holds it.
void RequireReloads(const ListStore& store, std::vector<Touched> touched, const std::string& home) {
    const auto key = [](const Touched& t) { return std::pair(IndexOf(t.kind), t.bucket); };
    std::sort(touched.begin(), touched.end(),
              [&key](const Touched& a, const Touched& b) { return key(a) < key(b); });
    touched.erase(std::unique(touched.begin(), touched.end(),
                              [&key](const Touched& a, const Touched& b) { return key(a) == key(b); }),
                  touched.end());
    static ListStore fresh(
        home);  // LoadAll starts every list afresh; building a store costs more than a load
    fresh.LoadAll();
    for (const Touched& bucket : touched) {
        if (FilesOfBucket(store.DataFolder(), bucket.kind, bucket.bucket) == 1) {
            Require(SameEntries(fresh.BucketEntries(bucket.kind, bucket.bucket),
                                store.BucketEntries(bucket.kind, bucket.bucket)),
                    "a written bucket file loads back as memory holds it");
        }
    }
}

// A text that the loaded lists probably hold, or one from the input when they hold none.
std::string SomeText(const ListStore& store, ListKind kind, std::string_view fallback) {
    for (int bucket = 0; bucket < kListBucketCount; ++bucket) {
        const std::vector<ListEntry> entries = store.BucketEntries(kind, bucket);
        if (!entries.empty()) {
            return entries.front().text;
        }
    }
    return std::string(fallback);
}

void Run(std::string_view input) {
    const ScratchFolder& scratch = ScratchFolder::Instance();
    scratch.Clear();
    const std::string home = scratch.MakeFolder("home");
    scratch.MakeFolder("home/Data");
    const std::vector<NamedFile> files = SplitNamedFiles(input, kMostFiles);
    for (const NamedFile& file : files) {
        scratch.WriteFile("home/Data/" + file.name, file.content);
    }

    static ListStore store(home);
    DisplayLists display;
    // An input whose first byte is '!' quits part-way, as when the application closes during a load.
    const bool limited = !input.empty() && input[0] == '!';
    std::size_t pumpsLeft = input.size() % 97;
    const auto pump = [limited, &pumpsLeft] {
        if (!limited) {
            return true;
        }
        if (pumpsLeft == 0) {
            return false;
        }
        --pumpsLeft;
        return true;
    };
    const bool complete = store.LoadAll(pump, &display);
    Require(complete || pumpsLeft == 0, "the load stops only when the pump says so");
    if (!complete) {
        return;
    }

    for (ListKind kind : kAllListKinds) {
        std::size_t held = 0;
        for (int bucket = 0; bucket < kListBucketCount; ++bucket) {
            for (const ListEntry& entry : store.BucketEntries(kind, bucket)) {
                Require(!entry.text.empty(), "no entry is empty");
                Require(entry.text.size() <= static_cast<std::size_t>(TraitsOf(kind).longestText),
                        "entries are cut to the longest text");
                Require(entry.text.find('\0') == std::string::npos, "entries end at a NUL");
                Require(entry.expiryDay >= 0 && entry.expiryDay <= 99, "expiry days are two digits");
                ++held;
            }
        }
        Require(held <= display[IndexOf(kind)].size(), "every entry was shown");
    }
    const std::string subject =
        files.empty() ? std::string() : std::string(files.front().content.substr(0, 200));
    store.MatchSubject(subject);
    if (const std::string passphrase = SomeText(store, ListKind::D, {}); !passphrase.empty()) {
        Require(store.MatchSubject("Re: [" + LowerCase(passphrase) + "]"),
                "a subject holding a passphrase matches");
    }

    // Written changes must read back. The texts come from the loaded lists, so that matching entries
    // are removed, and from the input's first file name.
    const std::string_view inputText = files.empty() ? std::string_view() : files.front().name;
    std::vector<Touched> touched;
    for (ListKind kind : {ListKind::A, ListKind::D}) {
        const std::string text = SomeText(store, kind, inputText);
        if (store.RemoveEntry(kind, text)) {
            Require(!store.FindEntry(kind, text), "a removed text is gone");
            touched.push_back({kind, BucketOf(text)});
        }
        if (TraitsOf(kind).blocked && store.SetExpiryDay(kind, text, 7)) {
            touched.push_back({kind, BucketOf(text)});
        }
    }
    for (ListKind kind : {ListKind::B, ListKind::G}) {
        const std::string text = std::string(SingleLine(SomeText(store, kind, inputText))) + "x";
        if (store.AddEntry(kind, text)) {
            Require(store.FindEntry(kind, text), "an added text is found");
            touched.push_back({kind, BucketOf(text)});
        }
    }

    // The last file doubles as a list the user imports (it loads as a bucket file too when its name
    // says so). Every line long enough for the list must be found afterwards.
    if (!files.empty()) {
        const std::string importPath = scratch / ("home/Data/" + files.back().name);
        for (ListKind kind : {ListKind::C, ListKind::H}) {
            // Read before the import, which may append to (or, by Remove, rewrite) this very file.
            std::vector<std::string> importLines;
            TextLineReader reader(importPath);
            for (std::string line; reader.Next(line);) {
                importLines.push_back(line);
            }
            ListPageOperations page(store, kind, display[IndexOf(kind)]);
            Require(page.Import(importPath).opened, "an import file that exists opens");
            for (const std::string& line : importLines) {
                const std::string entry = LowerCase(SingleLine(line));
                if (entry.size() >= static_cast<std::size_t>(TraitsOf(kind).shortestText)) {
                    Require(store.FindEntry(kind, line), "an imported line is found");
                    touched.push_back({kind, BucketOf(entry)});
                }
            }
            if (!page.DisplayList().empty()) {
                page.Keep(page.DisplayList().front());
                page.Remove(page.DisplayList().front());
            }
        }
    }
    RequireReloads(store, touched, home);
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    bramvell::fuzz::Run(bramvell::fuzz::AsText(data, size));
    return 0;
}
