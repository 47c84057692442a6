#pragma once
// One list of settings scenarios with the answers they must give. It runs
// natively against our profile layer and under Wine against the system's
// profile functions; both must give these answers.

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

#include "settings/settings.h"

namespace vlm::testing {

struct ScenarioOutcome {
    std::string name;
    std::wstring expected;
    std::wstring actual;
};

inline std::wstring text(int v) { return std::to_wstring(v); }
inline std::wstring text(bool v) { return v ? L"true" : L"false"; }
inline std::wstring text(float v) {
    wchar_t b[64];
    std::swprintf(b, 64, L"%.9g", static_cast<double>(v));
    return b;
}

// `folder` ends with a path separator and exists; every file is made inside it.
inline std::vector<ScenarioOutcome> runProfileScenarios(const std::wstring& folder) {
    std::vector<ScenarioOutcome> out;
    auto check = [&](const char* name, const std::wstring& expected, const std::wstring& actual) {
        out.push_back({name, expected, actual});
    };
    const std::wstring file = folder + L"settings.ini";
    const std::wstring missing = folder + L"no-such-file.ini";
    ProfileReader reader(file.c_str());
    ProfileWriter writer(file.c_str());
    const ProfileReader nothing(missing.c_str());

    check("missing file gives the int default", L"7", text(nothing.ReadInt(L"S", L"k", 7)));
    check("missing file gives the string default", L"dflt",
          nothing.ReadString(L"S", L"k", L"dflt").get());
    check("float default passes through six decimals", L"0",
          text(nothing.ReadFloat(L"S", L"k", 0.0000001f)));
    check("float default kept", L"2.5", text(nothing.ReadFloat(L"S", L"k", 2.5f)));
    check("bool default true", L"true", text(nothing.ReadBool(L"S", L"k", true)));
    check("bool default false", L"false", text(nothing.ReadBool(L"S", L"k", false)));

    check("write int", L"true", text(writer.WriteInt(L"Main", L"count", 42)));
    check("read int back", L"42", text(reader.ReadInt(L"Main", L"count", 0)));
    check("missing key in a present section", L"9", text(reader.ReadInt(L"Main", L"other", 9)));
    check("missing section", L"8", text(reader.ReadInt(L"Nope", L"count", 8)));
    check("names ignore case", L"42", text(reader.ReadInt(L"MAIN", L"COUNT", 0)));
    writer.WriteInt(L"Main", L"count", 43);
    check("overwrite an existing key", L"43", text(reader.ReadInt(L"Main", L"count", 0)));
    writer.WriteInt(L"Second", L"count", 5);
    check("second section", L"5", text(reader.ReadInt(L"Second", L"count", 0)));
    check("first section unchanged", L"43", text(reader.ReadInt(L"Main", L"count", 0)));

    writer.WriteInt(L"Main", L"negative", -17);
    check("negative int", L"-17", text(reader.ReadInt(L"Main", L"negative", 0)));
    check("negative int as text", L"-17", reader.ReadString(L"Main", L"negative", L"").get());
    writer.WriteString(L"Main", L"word", L"abc");
    check("malformed int reads 0", L"0", text(reader.ReadInt(L"Main", L"word", 5)));
    writer.WriteString(L"Main", L"mixed", L"12abc");
    check("int stops at the first non-digit", L"12", text(reader.ReadInt(L"Main", L"mixed", 5)));
    writer.WriteString(L"Main", L"spaced", L"   34");
    check("leading spaces before an int", L"34", text(reader.ReadInt(L"Main", L"spaced", 5)));
    check("leading spaces are not kept in text", L"34", reader.ReadString(L"Main", L"spaced", L"").get());
    writer.WriteString(L"Main", L"empty", L"");
    check("empty value gives the int default", L"6", text(reader.ReadInt(L"Main", L"empty", 6)));
    check("empty value reads as empty text", L"", reader.ReadString(L"Main", L"empty", L"x").get());

    writer.WriteFloat(L"Main", L"two", 2.0f);
    check("float stored with six decimals", L"2.000000", reader.ReadString(L"Main", L"two", L"").get());
    check("float read back", L"2", text(reader.ReadFloat(L"Main", L"two", 0.0f)));
    writer.WriteFloat(L"Main", L"neg", -3.25f);
    check("negative float", L"-3.25", text(reader.ReadFloat(L"Main", L"neg", 0.0f)));
    writer.WriteString(L"Main", L"fword", L"abc");
    check("text without a number reads 0.0", L"0", text(reader.ReadFloat(L"Main", L"fword", 1.0f)));
    writer.WriteString(L"Main", L"ftail", L"  2.5xyz");
    check("float stops at the first non-number", L"2.5", text(reader.ReadFloat(L"Main", L"ftail", 1.0f)));
    writer.WriteString(L"Main", L"fexp", L"1e3");
    check("float with exponent", L"1000", text(reader.ReadFloat(L"Main", L"fexp", 1.0f)));

    check("write bool", L"true", text(writer.WriteBool(L"Main", L"flag", true)));
    check("bool stored as True", L"True", reader.ReadString(L"Main", L"flag", L"").get());
    check("bool read back", L"true", text(reader.ReadBool(L"Main", L"flag", false)));
    writer.WriteBool(L"Main", L"off", false);
    check("bool False", L"false", text(reader.ReadBool(L"Main", L"off", true)));
    const wchar_t* falseTexts[] = {L"TRUE", L"yes", L"1"};
    for (const wchar_t* t : falseTexts) {
        writer.WriteString(L"Main", L"b", t);
        check("only True and true are true", L"false", text(reader.ReadBool(L"Main", L"b", true)));
    }
    writer.WriteString(L"Main", L"b", L"true");
    check("lower-case true", L"true", text(reader.ReadBool(L"Main", L"b", false)));

    const std::wstring longValue(300, L'v');
    writer.WriteString(L"Main", L"long", longValue.c_str());
    check("300 characters come back cut to 254", std::wstring(254, L'v'),
          reader.ReadString(L"Main", L"long", L"").get());

    const std::wstring longPath = folder + std::wstring(260, L'p') + L".ini";
    const ProfileWriter tooLongWriter(longPath.c_str());
    const ProfileReader tooLongReader(longPath.c_str());
    check("a path over 254 characters is refused for writing", L"false",
          text(tooLongWriter.WriteInt(L"Main", L"count", 1)));
    check("a path over 254 characters reads the default", L"3",
          text(tooLongReader.ReadInt(L"Main", L"count", 3)));
    check("a path over 254 characters reads the string default", L"d",
          tooLongReader.ReadString(L"Main", L"count", L"d").get());
    check("a path over 254 characters reads the float default", L"1.5",
          text(tooLongReader.ReadFloat(L"Main", L"count", 1.5f)));
    return out;
}

}  // namespace vlm::testing
