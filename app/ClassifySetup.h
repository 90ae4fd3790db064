#pragma once

#include <memory>
#include <string>

#include "classify/TokenTableLoader.h"
#include "classify/TokenTables.h"
#include "config/FilterSettings.h"
#include "config/Startup.h"
#include "lists/ListStore.h"

namespace bramvell {

// The stored settings, sender lists and token tables of a program folder as the application has them
// after start-up, for the corpus and classification commands. A command that changes statistics
// (learn) calls Save before it returns.
struct ClassifySetup {
    explicit ClassifySetup(const std::string& programFolder)
        : application(DefaultStartupPaths(programFolder)),
          settings(application.Settings()),
          lists(programFolder) {}

    bool Save() { return application.Save(); }

    ApplicationSettings application;
    FilterSettings& settings;
    TokenTables tables;
    ListStore lists;
};

inline std::unique_ptr<ClassifySetup> PrepareClassification(const std::string& programFolder) {
    auto setup = std::make_unique<ClassifySetup>(programFolder);
    setup->lists.LoadAll();
    setup->settings.listStore = &setup->lists;
    setup->settings.tokenTables = &setup->tables;
    LoadTokenTables(setup->tables, programFolder);
    return setup;
}

}  // namespace bramvell
