#include "platform/profile/ProfileText.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>

namespace {

using profile::findValue;
using profile::isStorable;
using profile::withValue;

constexpr std::string_view kHandEdited = "stray=before any section\r\n"
                                         "[Other]\r\n"
                                         "dir=wrong section\r\n"
                                         "  [ QUIVA ]  \r\n"
                                         "; dir=commented out\r\n"
                                         "  Dir  =   \"/music/a b/\"   \r\n"
                                         "dir=second copy\r\n"
                                         "HeIgHt = '5580'\r\n"
                                         "title=\"unbalanced'\r\n"
                                         "empty=\r\n"
                                         "no equals sign\r\n";

TEST(ProfileTextTest, ReadsHandEditedTextWithTheClassicRules) {
    const struct {
        std::string_view section, key;
        std::optional<std::string_view> value;
    } cases[] = {
        {"quiva", "dir", "/music/a b/"},
        {"Quiva", "HEIGHT", "5580"},
        {" quiva ", " height ", "5580"},
        {"quiva", "title", "\"unbalanced'"},
        {"quiva", "empty", ""},
        {"quiva", "stray", std::nullopt},
        {"quiva", "no equals sign", std::nullopt},
        {"other", "dir", "wrong section"},
        {"nowhere", "dir", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + std::string(c.key));
        EXPECT_EQ(findValue(kHandEdited, c.section, c.key), c.value);
    }
    EXPECT_EQ(findValue("\xEF\xBB\xBF[quiva]\r\ndir=/a/", "quiva", "dir"), "/a/");
}

TEST(ProfileTextTest, WritesChangeOnlyTheKeysLine) {
    const struct {
        std::string_view before, section, key;
        const char* value;
        std::optional<std::string_view> after; // nullopt: nothing to change
    } cases[] = {
        {"", "quiva", "DIR", "/music/", "[quiva]\nDIR=/music/\n"},
        {"[quiva]\nDIR=/music/\n", "quiva", "HEIGHT", "990", "[quiva]\nDIR=/music/\nHEIGHT=990\n"},
        {"; mine\n[Quiva]\n  dir =  \"/old/\"\nheight=990\n\n[tail]\ny=2", "quiva", "DIR", "/new/",
         "; mine\n[Quiva]\n  dir =  /new/\nheight=990\n\n[tail]\ny=2"},
        {"[Quiva]\nheight=990\n\n; c\n[tail]\ny=2", "QUIVA", "WIDTH", "4395",
         "[Quiva]\nheight=990\nWIDTH=4395\n\n; c\n[tail]\ny=2"},
        {"[tail]\ny=2", "fresh", "K", "v", "[tail]\ny=2\n[fresh]\nK=v\n"},
        {"\xEF\xBB\xBF[quiva]\r\ndir=/a/\r\n", "quiva", "HEIGHT", "5580",
         "\xEF\xBB\xBF[quiva]\r\ndir=/a/\r\nHEIGHT=5580\r\n"},
        {"[quiva]\ndir=/a/\nheight=990\n", "quiva", "DIR", nullptr, "[quiva]\nheight=990\n"},
        {"[quiva]\ndir=/a/\n", "quiva", "missing", nullptr, std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.before) + " <- " + std::string(c.key));
        EXPECT_EQ(withValue(c.before, c.section, c.key, c.value), c.after);
    }
}

TEST(ProfileTextTest, RefusesTextsThatWouldAddLines) {
    const struct {
        std::string_view section, key;
        const char* value;
    } cases[] = {
        {"quiva", "dir", "/b/\nheight=1"},
        {"quiva", "dir", "/b/\r"},
        {"quiva", "di\nr", "x"},
        {"quiva", "a=b", "x"},
        {"quiva", ";key", "x"},
        {"quiva", "  ", "x"},
        {"qu]iva", "key", "x"},
        {"quiva\n[evil", "key", "x"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.section) + "/" + std::string(c.key));
        EXPECT_FALSE(isStorable(c.section, c.key, c.value));
    }
    EXPECT_TRUE(isStorable("quiva", "dir", nullptr));
}

} // namespace
