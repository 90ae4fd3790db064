#include "classify/CharsetConverters.h"

#include <gmime/gmime.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>

namespace bramvell {
namespace {

const char* const kModules = "/usr/lib/x86_64-linux-gnu/gconv";

// Whether glibc's converter module of this file name is mapped into the process.
bool Loaded(const std::string& module) {
    std::ifstream maps("/proc/self/maps");
    std::string line;
    while (std::getline(maps, line)) {
        if (line.size() > module.size() &&
            line.compare(line.size() - module.size(), module.size(), module) == 0) {
            return true;
        }
    }
    return false;
}

// Opens and closes converters of other charsets, as a run of mail does: glibc unloads a module that
// no converter uses after a few of these.
void ConvertOthers() {
    g_mime_init();
    for (int round = 0; round < 4; ++round) {
        for (const char* other : {"iso-8859-5", "iso-8859-6", "iso-8859-7"}) {
            iconv_t converter = g_mime_iconv_open("UTF-8", other);
            if (converter != reinterpret_cast<iconv_t>(-1)) {
                g_mime_iconv_close(converter);
            }
        }
    }
}

TEST(CharsetConvertersTest, AKeptConverterStaysLoadedWhileOthersComeAndGo) {
    if (!std::filesystem::exists(std::string(kModules) + "/ISO8859-2.so")) {
        GTEST_SKIP() << "glibc's converter modules are not where this test looks";
    }
    g_mime_init();
    // The premise: a converter nobody keeps is unloaded once others come and go.
    iconv_t passing = g_mime_iconv_open("UTF-8", "iso-8859-3");
    ASSERT_NE(passing, reinterpret_cast<iconv_t>(-1));
    g_mime_iconv_close(passing);
    ConvertOthers();
    if (Loaded("/ISO8859-3.so")) {
        GTEST_SKIP() << "this glibc keeps its converter modules loaded anyway";
    }

    KeepConverterLoaded("ISO-8859-2");
    KeepConvertersOfEncodedWords("Subject: =?koi8-r?B?8NLJ18XU?= and =?iso-8859-4*en?Q?Tere?= =?broken");
    ConvertOthers();
    EXPECT_TRUE(Loaded("/ISO8859-2.so"));
    EXPECT_TRUE(Loaded("/KOI8-R.so"));
    EXPECT_TRUE(Loaded("/ISO8859-4.so"));
}

TEST(CharsetConvertersTest, HostileNamesAreBoundedAndNeverOpened) {
    g_mime_init();  // as the tokenizer has, before it keeps a converter
    // Names with bytes no charset has, and over-long ones, are not tried at all.
    KeepConverterLoaded("iso-8859-9/../../etc");
    KeepConverterLoaded(std::string(200, 'a'));
    KeepConvertersOfEncodedWords("=?" + std::string(100, 'x') + "?B?x?= =?=?=??");
    // A flood of made-up names fills the list, and past it nothing more is opened.
    for (std::size_t i = 0; i < 2 * kMostKeptCharsets; ++i) {
        KeepConverterLoaded("made-up-" + std::to_string(i));
    }
    KeepConverterLoaded("iso-8859-9");
    ConvertOthers();
    EXPECT_FALSE(Loaded("/ISO8859-9.so"));
}

}  // namespace
}  // namespace bramvell
