#pragma once

#include <memory>
#include <string>

#include "classify/TokenTableLoader.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "config/ProgramFolder.h"

namespace bramvell {

// The settings and token tables of a program folder as the application has them after start-up,
// for the corpus and classification commands.
struct ClassifySetup {
    FilterSettings settings;
    TokenTables tables;
};

inline std::unique_ptr<ClassifySetup> PrepareClassification(const std::string& programFolder) {
    auto setup = std::make_unique<ClassifySetup>();
    FilterSettings& settings = setup->settings;
    settings.programFolder = programFolder;
    settings.SetDefaults();
    // The stored options and statistics load here once the settings store exists; until then every
    // command starts from the defaults, and the message counts that learn raises are not kept.
    CreateDefaultFolders(programFolder);
    settings.tokenTables = &setup->tables;
    LoadTokenTables(setup->tables, programFolder);
    return setup;
}

}  // namespace bramvell
