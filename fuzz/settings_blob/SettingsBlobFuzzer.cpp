// The stored settings value and the statistics backup are files a user or a crash can damage. The
// loader must read any bytes without fault, and what it accepts must store and load back unchanged.
#include <cstdint>
#include <optional>
#include <string>

#include "config/FilterSettings.h"
#include "config/RegistryArchive.h"
#include "config/SettingsBlob.h"
#include "config/SettingsPersistence.h"
#include "config/StatisticsBackup.h"
#include "fuzz/support/FuzzInput.h"
#include "fuzz/support/ScratchFolder.h"

namespace bramvell::fuzz {
namespace {

std::string Stored(FilterSettings& settings) {
    StoringArchive archive;
    Require(Serialize(settings, archive), "a loaded record stores");
    return archive.Bytes();
}

// The stored form of what the bytes load to, or nothing when they do not load.
std::optional<std::string> LoadArchiveDirectly(std::string_view bytes) {
    FilterSettings settings;
    settings.programFolder = "/nonexistent";
    LoadingArchive archive(bytes);
    const bool loaded = Serialize(settings, archive);
    Require(archive.Position() <= bytes.size(), "the archive stays inside its bytes");
    if (!loaded) {
        return std::nullopt;
    }
    // Re-encoding may pick a shorter length form than the input did, so compare second and third
    // generations: stored bytes must load completely and store again identically.
    const std::string first = Stored(settings);
    FilterSettings again;
    LoadingArchive reread(first);
    Require(Serialize(again, reread), "stored bytes load back");
    Require(reread.Position() == first.size(), "stored bytes load back completely");
    Require(Stored(again) == first, "stored bytes load back to the same record");
    return first;
}

// The whole start-up path: value file, fallback to defaults and the statistics backup.
void LoadThroughStore(std::string_view bytes, const std::optional<std::string>& direct) {
    const ScratchFolder& scratch = ScratchFolder::Instance();
    static const bool prepared = [&scratch] {
        scratch.MakeFolder("config/Bramvell/fuzz/Options");
        scratch.MakeFolder("program");
        return true;
    }();
    (void)prepared;
    scratch.WriteFile("config/Bramvell/fuzz/Options/General", bytes);
    // The backup holds 32 bytes; give it the tail so that short and long backups both occur.
    scratch.WriteFile("program/reg.bak", bytes.substr(bytes.size() / 2));

    FilterSettings settings;
    settings.programFolder = scratch / "program";
    RegistryArchive store(SettingsLocation{scratch / "config", "fuzz"});
    Require(store.Open("Options", "General", &settings), "the scratch settings folder opens");
    LoadSettings(settings, store);

    if (direct) {
        Require(Stored(settings) == *direct, "the stored value loads as its bytes do");
        return;
    }
    FilterSettings expected;
    expected.programFolder = settings.programFolder;
    expected.SetDefaults();
    ReadStatisticsBackup(expected);
    Require(Stored(settings) == Stored(expected), "a value that does not load leaves defaults and backup");
}

}  // namespace
}  // namespace bramvell::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    const std::string_view bytes = bramvell::fuzz::AsText(data, size);
    bramvell::fuzz::LoadThroughStore(bytes, bramvell::fuzz::LoadArchiveDirectly(bytes));
    return 0;
}
