// The preset bank store: document shape, reading rules, lookup and the error texts.
#include "config/BankStore.h"

#include <gtest/gtest.h>
#include <tinyxml2.h>

#include <clocale>
#include <regex>

namespace {
bool looksLikeDate(const std::string& text)
{
    static const std::regex pattern(
        "[0-9]{4}-(Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec)-[0-3][0-9] "
        "[0-2][0-9]:[0-5][0-9]:[0-6][0-9]");
    return std::regex_match(text, pattern);
}

std::string loadFailure(CBankStore& store, const std::string& text)
{
    try {
        store.load(text);
    }
    catch (const CBankStoreError& error) {
        return error.what();
    }
    return "no error";
}

const char* const kOnePreset =
    "<?xml version=\"1.0\"?>\n"
    "<Bank name=\"B\" modified=\"2001-Jan-01 00:00:00\" author=\"me\">\n"
    "  <Preset name=\"P\" plugin=\"Skorvaline\" plugin-version=\"1.2\" author=\"Ann\">\n"
    "    <param value=\"0.25\" id=\"Mix\"/>\n"
    "  </Preset>\n"
    "</Bank>\n";
}  // namespace

TEST(PresetText, DateTextUsesEnglishMonthsAndTwoDigitFields)
{
    std::tm t{};
    t.tm_year = 2026 - 1900;
    t.tm_mon = 11;
    t.tm_mday = 7;
    t.tm_hour = 1;
    t.tm_min = 52;
    t.tm_sec = 33;
    EXPECT_EQ(formatDateText(t), "2026-Dec-07 01:52:33");
    t.tm_mon = 0;
    t.tm_mday = 31;
    t.tm_hour = 23;
    EXPECT_EQ(formatDateText(t), "2026-Jan-31 23:52:33");
    EXPECT_TRUE(looksLikeDate(currentDateText())) << currentDateText();
}

TEST(PresetText, NumberTextIsFiveSignificantDigitsInEveryLocale)
{
    EXPECT_EQ(formatNumber(0.5f), "0.5");
    EXPECT_EQ(formatNumber(0.123456f), "0.12346");
    EXPECT_EQ(formatNumber(0.0f), "0");
    EXPECT_EQ(formatNumber(1.0f), "1");
    EXPECT_EQ(formatNumber(0.055f), "0.055");
    EXPECT_EQ(formatNumber(1e-6f), "1e-06");
    EXPECT_EQ(formatNumber(123456.0f), "1.2346e+05");

    // A locale with a decimal comma must change neither writing nor reading.
    const char* previous = std::setlocale(LC_NUMERIC, nullptr);
    const std::string saved = previous ? previous : "C";
    if (std::setlocale(LC_NUMERIC, "de_DE.UTF-8") != nullptr ||
        std::setlocale(LC_NUMERIC, "fr_FR.UTF-8") != nullptr) {
        EXPECT_EQ(formatNumber(0.75f), "0.75");
        EXPECT_DOUBLE_EQ(parseNumber("0.75"), 0.75);
    }
    std::setlocale(LC_NUMERIC, saved.c_str());
}

TEST(PresetText, NumberReadingFollowsAtof)
{
    EXPECT_DOUBLE_EQ(parseNumber("0.12346"), 0.12346);
    EXPECT_DOUBLE_EQ(parseNumber("  1e-06"), 1e-6);
    EXPECT_DOUBLE_EQ(parseNumber("2.5E+2xyz"), 250.0);
    EXPECT_DOUBLE_EQ(parseNumber(""), 0.0);
    EXPECT_DOUBLE_EQ(parseNumber("abc"), 0.0);
}

TEST(BankStore, EmptyDefaultBankSavesButDoesNotLoad)
{
    CBankStore store;
    const std::string text = store.save();
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(text.c_str()), tinyxml2::XML_SUCCESS);
    ASSERT_NE(doc.FirstChild()->ToDeclaration(), nullptr);
    EXPECT_STREQ(doc.FirstChild()->Value(), "xml version=\"1.0\"");
    const tinyxml2::XMLElement* bank = doc.FirstChildElement();
    ASSERT_NE(bank, nullptr);
    EXPECT_STREQ(bank->Name(), "Bank");
    EXPECT_EQ(bank->NextSiblingElement(), nullptr);
    EXPECT_EQ(bank->FirstChildElement(), nullptr);
    const tinyxml2::XMLAttribute* a = bank->FirstAttribute();
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->Name(), "name");
    EXPECT_STREQ(a->Value(), "Default");
    a = a->Next();
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->Name(), "modified");
    EXPECT_TRUE(looksLikeDate(a->Value()));
    a = a->Next();
    ASSERT_NE(a, nullptr);
    EXPECT_STREQ(a->Name(), "author");
    EXPECT_STREQ(a->Value(), "-");
    EXPECT_EQ(a->Next(), nullptr);

    EXPECT_EQ(loadFailure(store, text), "Load failed");
}

TEST(BankStore, SaveWritesAttributesInOrderAndParamsById)
{
    CBankStore store;
    auto preset = store.newPreset("Skorvaline", "1.2", "First");
    EXPECT_EQ(store.currentPreset(), preset);
    CBankStore::setText(*preset, "b", "z", "1");
    CBankStore::setText(*preset, "b", "a", "2");
    CBankStore::setNumber(*preset, "a", "value", 0.123456f);
    EXPECT_EQ(&store.addPreset(preset), store.banks().front().get());

    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(store.save().c_str()), tinyxml2::XML_SUCCESS);
    const tinyxml2::XMLElement* element = doc.FirstChildElement("Bank")->FirstChildElement();
    ASSERT_NE(element, nullptr);
    EXPECT_STREQ(element->Name(), "Preset");
    std::vector<std::string> names;
    for (auto* a = element->FirstAttribute(); a; a = a->Next())
        names.emplace_back(a->Name());
    const std::vector<std::string> expected = {"name",      "plugin",   "plugin-version", "group",
                                               "sub-group", "modified", "tuning-map"};
    EXPECT_EQ(names, expected);
    EXPECT_STREQ(element->Attribute("name"), "First");
    EXPECT_STREQ(element->Attribute("group"), "");
    EXPECT_TRUE(looksLikeDate(element->Attribute("modified")));

    const tinyxml2::XMLElement* first = element->FirstChildElement();
    ASSERT_NE(first, nullptr);
    EXPECT_STREQ(first->Name(), "param");
    EXPECT_STREQ(first->FirstAttribute()->Name(), "id");
    EXPECT_STREQ(first->Attribute("id"), "a");
    EXPECT_STREQ(first->Attribute("value"), "0.12346");
    const tinyxml2::XMLElement* second = first->NextSiblingElement();
    ASSERT_NE(second, nullptr);
    EXPECT_STREQ(second->Attribute("id"), "b");
    const tinyxml2::XMLAttribute* a = second->FirstAttribute();
    EXPECT_STREQ(a->Name(), "id");
    EXPECT_STREQ(a->Next()->Name(), "a");
    EXPECT_STREQ(a->Next()->Next()->Name(), "z");
    EXPECT_EQ(second->NextSiblingElement(), nullptr);
}

TEST(BankStore, AddPresetAfterClearMakesADefaultBank)
{
    CBankStore store;
    store.clearBanks();
    EXPECT_TRUE(store.banks().empty());
    CBank& bank = store.addPreset(store.newPreset("x", "1", "n"));
    ASSERT_EQ(store.banks().size(), 1u);
    EXPECT_EQ(bank.name, "Default");
    EXPECT_EQ(bank.author, "-");
    EXPECT_EQ(bank.presets.size(), 1u);
}

TEST(BankStore, LoadReadsAttributesInAnyOrderAndKeepsTheAuthor)
{
    CBankStore store;
    store.load(kOnePreset);
    ASSERT_EQ(store.banks().size(), 1u);
    const CBank& bank = *store.banks().front();
    EXPECT_EQ(bank.name, "B");
    EXPECT_EQ(bank.author, "me");
    EXPECT_EQ(bank.modified, "2001-Jan-01 00:00:00");
    ASSERT_EQ(bank.presets.size(), 1u);
    const CPreset& preset = *bank.presets.front();
    EXPECT_EQ(CBankStore::get(preset, "Mix", "value"), "0.25");
    EXPECT_EQ(CBankStore::get(preset, "Mix", "id"), "");
    EXPECT_EQ(CBankStore::get(preset, "Mix", "other"), "");
    EXPECT_EQ(CBankStore::get(preset, "Nothing", "value"), "");
    EXPECT_EQ(preset.author, "Ann");
    EXPECT_EQ(preset.group, "");
    EXPECT_EQ(preset.subGroup, "");
    EXPECT_EQ(preset.tuningMap, "");
    EXPECT_TRUE(looksLikeDate(preset.modified));  // "modified" was missing

    // The author survives a load-then-save, written after the listed attributes.
    tinyxml2::XMLDocument doc;
    ASSERT_EQ(doc.Parse(store.save().c_str()), tinyxml2::XML_SUCCESS);
    const auto* element = doc.FirstChildElement("Bank")->FirstChildElement("Preset");
    EXPECT_STREQ(element->Attribute("author"), "Ann");
    const tinyxml2::XMLAttribute* last = element->FirstAttribute();
    while (last->Next() != nullptr)
        last = last->Next();
    EXPECT_STREQ(last->Name(), "author");
    CBankStore again;
    again.load(store.save());
    EXPECT_EQ(again.currentPreset()->author, "Ann");
}

TEST(BankStore, BankElementIsTheFirstWhoseNameBeginsWithBank)
{
    CBankStore store;
    store.load("<?xml version=\"1.0\"?><!-- note --><Other a=\"1\"><x y=\"1\"/></Other>"
               "<BanksOfMine name=\"long\"><Preset name=\"p\"><param id=\"i\"/></Preset>"
               "</BanksOfMine><Bank name=\"later\"><Preset name=\"q\"><param id=\"j\"/>"
               "</Preset></Bank>");
    ASSERT_EQ(store.banks().size(), 1u);
    EXPECT_EQ(store.banks().front()->name, "long");
    ASSERT_EQ(store.banks().front()->presets.size(), 1u);
    EXPECT_EQ(store.currentPreset()->name, "p");
    EXPECT_EQ(store.banks().front()->author, "");  // absent: empty, not "-"
}

TEST(BankStore, LookupByIndexFallsBackToTheCurrentPreset)
{
    CBankStore store;
    store.load(kOnePreset);
    const auto only = store.banks().front()->presets.front();
    EXPECT_EQ(store.presetByIndex(0), only);
    EXPECT_EQ(store.presetByIndex(1), only);
    EXPECT_EQ(store.presetByIndex(7), only);
    EXPECT_EQ(store.presetByIndex(-1), only);

    store.load("<Bank n=\"1\"><Preset name=\"a\"><param id=\"x\"/></Preset>"
               "<Preset name=\"b\"><param id=\"x\"/></Preset></Bank>");
    EXPECT_EQ(store.currentPreset()->name, "b");  // the last one read
    EXPECT_EQ(store.presetByIndex(0)->name, "a");
    EXPECT_EQ(store.presetByIndex(5)->name, "a");  // still the one looked up last
    EXPECT_EQ(store.presetByIndex(1)->name, "b");

    CBankStore fresh;
    EXPECT_EQ(fresh.presetByIndex(0), nullptr);
}

TEST(BankStore, MalformedDocumentsFailWithLoadFailed)
{
    CBankStore store;
    const char* const bad[] = {
        "",
        "not xml at all",
        "<Bank name=\"x\"><Preset name=\"p\"><param id=\"a\"/></Preset>",  // not closed
        "<?xml version=\"1.0\"?><Other a=\"1\"/>",                         // no bank
        "<Bank><Preset name=\"p\"><param id=\"a\"/></Preset></Bank>",      // bank without attrs
        "<Bank name=\"x\"/>",                                              // bank without presets
        "<Bank name=\"x\"><Preset><param id=\"a\"/></Preset></Bank>",      // preset without attrs
        "<Bank name=\"x\"><Preset name=\"p\"/></Bank>",                    // preset without params
        "<Bank name=\"x\"><Preset name=\"p\"><param/></Preset></Bank>",    // param without attrs
        "<!--Bank comment--><Bank name=\"x\"><Preset name=\"p\"><param id=\"a\"/></Preset></Bank>",
    };
    for (const char* text : bad)
        EXPECT_EQ(loadFailure(store, text), "Load failed") << text;
    // Deep nesting is refused by the parser instead of exhausting the stack.
    std::string deep = "<Bank name=\"x\">";
    for (int i = 0; i < 100000; ++i)
        deep += "<a>";
    EXPECT_EQ(loadFailure(store, deep), "Load failed");
}

TEST(BankStore, SpecialCharactersRoundTrip)
{
    CBankStore store;
    store.clearBanks();
    auto preset = store.newPreset("Skorvaline", "1.2", "a<b & \"c\" 'd'");
    CBankStore::setText(*preset, "L Warp  ", "value", "x\r\ny > z");
    store.addPreset(preset);
    CBankStore again;
    again.load(store.save());
    const auto back = again.currentPreset();
    ASSERT_NE(back, nullptr);
    EXPECT_EQ(back->name, "a<b & \"c\" 'd'");
    EXPECT_EQ(CBankStore::get(*back, "L Warp  ", "value").find("y > z") != std::string::npos, true);
}

namespace {
// A bank of `presets` presets of `params` entries each, as the effect writes them.
std::string bankOf(int presets, int params)
{
    std::string text = "<?xml version=\"1.0\"?><Bank name=\"B\">";
    for (int p = 0; p < presets; ++p) {
        text += "<Preset name=\"P\" plugin=\"Skorvaline\">";
        for (int i = 0; i < params; ++i)
            text += "<param id=\"p" + std::to_string(i) + "\" value=\"0.5\"/>";
        text += "</Preset>";
    }
    return text + "</Bank>";
}
}  // namespace

TEST(BankStore, DocumentsBeyondTheBoundsFailBeforeAnythingChanges)
{
    CBankStore store;
    store.load(kOnePreset);
    // Tiny elements by the hundred thousand: small text, gigabytes once parsed.
    EXPECT_EQ(loadFailure(store, bankOf(1, 100000)), "Load failed");
    // Room for 64 presets, four times the effect's sixteen, and no more.
    EXPECT_EQ(loadFailure(store, bankOf(65, 1)), "Load failed");
    ASSERT_EQ(store.banks().size(), 1u);
    EXPECT_EQ(store.banks()[0]->name, "B");
}

TEST(BankStore, LargestBankWithinTheBoundsLoads)
{
    // Four times the effect's sixteen programs of 57 elements.
    CBankStore store;
    store.load(bankOf(64, 57));
    ASSERT_EQ(store.banks().size(), 1u);
    EXPECT_EQ(store.banks()[0]->presets.size(), 64u);
}
