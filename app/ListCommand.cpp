// `bramvell list`: the eight sender lists from the command line, with the rules and files of the list
// pages.
#include <cstdio>
#include <string>
#include <string_view>

#include "app/Command.h"
#include "config/Clock.h"
#include "config/ProgramFolder.h"
#include "lists/ExpiryDay.h"
#include "lists/ListLine.h"
#include "lists/ListPageOperations.h"
#include "lists/ListStore.h"

namespace bramvell {
namespace {

struct ListName {
    std::string_view name;
    ListKind kind;
};

constexpr ListName kListNames[] = {
    {"blocked-addresses", ListKind::A}, {"blocked-domains", ListKind::B},
    {"blocked-names", ListKind::C},     {"subject-passphrases", ListKind::D},
    {"trusted-addresses", ListKind::E}, {"trusted-domains", ListKind::F},
    {"trusted-names", ListKind::G},     {"user-addresses", ListKind::H},
};

int Usage() {
    std::fprintf(stderr,
                 "usage: bramvell list show KIND | add KIND TEXT | remove KIND TEXT | import KIND FILE\n"
                 "KIND: ");
    for (const ListName& list : kListNames) {
        std::fprintf(stderr, "%.*s ", static_cast<int>(list.name.size()), list.name.data());
    }
    std::fprintf(stderr, "\n");
    return 2;
}

const ListName* FindList(std::string_view name) {
    for (const ListName& list : kListNames) {
        if (list.name == name) {
            return &list;
        }
    }
    return nullptr;
}

// One display string as a line: the text, and for the blocked lists the date it falls due.
void PrintEntry(std::string_view display, ListKind kind, const LocalTime& today) {
    if (!TraitsOf(kind).blocked || display.size() < kExpirySuffixLength) {
        std::printf("%.*s\n", static_cast<int>(display.size()), display.data());
        return;
    }
    // A display string is a bucket line without its line end: " (07)" follows the text.
    const ListLine line = SplitListLine(kind, display);
    std::printf("%.*s\t%s\n", static_cast<int>(line.text.size()), line.text.data(),
                ExpiryDate(line.expiryDay, today).c_str());
}

int RunList(CommandContext& context) {
    const std::vector<std::string>& words = context.arguments;
    if (words.size() < 2) {
        return Usage();
    }
    const std::string& verb = words[0];
    const ListName* list = FindList(words[1]);
    const bool show = verb == "show" && words.size() == 2;
    const bool change = (verb == "add" || verb == "remove" || verb == "import") && words.size() == 3;
    if (list == nullptr || (!show && !change)) {
        return Usage();
    }

    CreateDefaultFolders(context.programFolder);
    ListStore store(context.programFolder);
    DisplayLists displays;
    store.LoadAll({}, &displays);
    ListPageOperations page(store, list->kind, displays[IndexOf(list->kind)]);
    const std::string name(list->name);

    if (show) {
        const LocalTime today = DefaultClock().Now();
        for (const std::string& display : page.DisplayList()) {
            PrintEntry(display, list->kind, today);
        }
        return 0;
    }
    const std::string& text = words[2];
    if (verb == "add") {
        const ListPageOperations::AddOutcome added = page.Add(text);
        if (added.balloon) {
            const std::string note(added.balloon->text);
            std::fprintf(stderr, "bramvell list:%s\n", note.c_str());
            return 2;
        }
        if (added.duplicate) {
            std::fprintf(stderr, "bramvell list: %s holds '%s' already\n", name.c_str(), text.c_str());
            return 2;
        }
        if (!added.written) {
            std::fprintf(stderr, "bramvell list: the entry could not be written to the Data folder\n");
            return 1;
        }
        return 0;
    }
    if (verb == "remove") {
        if (!store.FindEntry(list->kind, text)) {
            std::fprintf(stderr, "bramvell list: %s holds no '%s'\n", name.c_str(), text.c_str());
            return 2;
        }
        if (!store.RemoveEntry(list->kind, text)) {
            std::fprintf(stderr, "bramvell list: the entry could not be removed from the Data folder\n");
            return 1;
        }
        return 0;
    }
    const ListPageOperations::ImportOutcome imported = page.Import(text);
    if (!imported.opened) {
        std::fprintf(stderr, "bramvell list: cannot read %s\n", text.c_str());
        return 1;
    }
    std::printf("%zu added\n", imported.added.size());
    return 0;
}

const CommandRegistration registration({"list", "list show|add|remove|import KIND [TEXT|FILE]",
                                        "show or change one of the eight sender lists", RunList});

}  // namespace
}  // namespace bramvell
